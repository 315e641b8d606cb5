// The port table in README.md is what users read; it must say what the
// metadata a host reads says.
#include <math.h>
#include <stdio.h>

#include <fstream>
#include <map>
#include <sstream>

#include "staged_plugin.h"

namespace {

struct ReadmeRow {
    std::string symbol, range, defaultValue;
};

std::string trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// Rows of the form "| index | `symbol` | range | default | unit | text |".
std::map<uint32_t, ReadmeRow> readPortTable(const std::string& path) {
    std::map<uint32_t, ReadmeRow> rows;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("| ", 0) != 0) continue;
        std::vector<std::string> cells;
        std::stringstream stream(line.substr(1));
        std::string cell;
        while (std::getline(stream, cell, '|')) cells.push_back(trim(cell));
        if (cells.size() < 4 || cells[1].size() < 3 || cells[1].front() != '`' || cells[1].back() != '`') continue;
        unsigned index = 0;
        if (sscanf(cells[0].c_str(), "%u", &index) != 1) continue;
        rows[index] = ReadmeRow{cells[1].substr(1, cells[1].size() - 2), cells[2], cells[3]};
    }
    return rows;
}

bool same(float readme, float metadata) { return fabsf(readme - metadata) <= 1e-6f * fmaxf(1.0f, fabsf(metadata)); }

TEST(HostReadme, PortTableMatchesTheMetadata) {
    StagedPlugin staged;
    ASSERT_NE(staged.plugin, nullptr);
    const std::map<uint32_t, ReadmeRow> rows = readPortTable(ZT_SOURCE_DIR "/README.md");
    ASSERT_EQ(rows.size(), static_cast<size_t>(kPortCount)) << "one README row per port";
    const StagedPlugin::Ranges r = staged.ranges();
    for (const auto& [index, row] : rows) {
        SCOPED_TRACE(row.symbol);
        ASSERT_LT(index, kPortCount);
        EXPECT_EQ(row.symbol, staged.symbol(index));
        if (staged.portIs(index, LV2_CORE "AudioPort")) {
            EXPECT_EQ(row.range, "audio");
            continue;
        }
        float minimum = NAN, maximum = NAN, defaultValue = NAN;
        ASSERT_EQ(sscanf(row.range.c_str(), "%f .. %f", &minimum, &maximum), 2) << row.range;
        ASSERT_EQ(sscanf(row.defaultValue.c_str(), "%f", &defaultValue), 1) << row.defaultValue;
        EXPECT_TRUE(same(minimum, r.minimum[index])) << minimum << " vs " << r.minimum[index];
        EXPECT_TRUE(same(maximum, r.maximum[index])) << maximum << " vs " << r.maximum[index];
        EXPECT_TRUE(same(defaultValue, r.defaults[index])) << defaultValue << " vs " << r.defaults[index];
    }
}

}  // namespace
