// The tables in README.md are what users read; they must say what the
// metadata says, as lilv and lv2info read it: ports, ranges and presets.
#include <math.h>
#include <stdio.h>

#include <map>

#include "bundle_presets.h"
#include "preset_readme_tables.h"
#include "staged_plugin.h"

namespace {

struct ReadmeRow {
    std::string symbol, range, defaultValue;
};

std::string trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// Rows of the form "| index | `symbol` | range | default | unit | text |"
// in one section.
std::map<uint32_t, ReadmeRow> readPortTable(const std::string& path, const std::string& section) {
    std::map<uint32_t, ReadmeRow> rows;
    for (const std::vector<std::string>& cells : readmeTableRows(path, section)) {
        if (cells.size() < 4 || !isCode(cells[1])) continue;
        unsigned index = 0;
        if (sscanf(cells[0].c_str(), "%u", &index) != 1) continue;
        rows[index] = ReadmeRow{cells[1].substr(1, cells[1].size() - 2), cells[2], cells[3]};
    }
    return rows;
}

bool same(float readme, float metadata) { return fabsf(readme - metadata) <= 1e-6f * fmaxf(1.0f, fabsf(metadata)); }

// Each plug-in's table: every port of the mono-input plug-in; the
// companion's audio ports and its own controls (its other 21 are the
// mono-input plug-in's).
TEST(HostReadme, PortTablesMatchTheMetadata) {
    const struct {
        const char* uri;
        const char* section;
        size_t rows;
    } tables[] = {{ZT_PLUGIN_URI, "## Controls", kPortCount}, {ZT_STEREO_PLUGIN_URI, "## The stereo companion", 7}};
    for (const auto& table : tables) {
        SCOPED_TRACE(table.uri);
        StagedPlugin staged(table.uri);
        ASSERT_NE(staged.plugin, nullptr);
        const std::map<uint32_t, ReadmeRow> rows = readPortTable(ZT_SOURCE_DIR "/README.md", table.section);
        ASSERT_EQ(rows.size(), table.rows);
        const StagedPlugin::Ranges r = staged.ranges();
        for (const auto& [index, row] : rows) {
            SCOPED_TRACE(row.symbol);
            ASSERT_LT(index, lilv_plugin_get_num_ports(staged.plugin));
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
}

TEST(HostReadme, PresetTableNamesEveryPresetOfTheBundle) {
    StagedPlugin staged;
    ASSERT_NE(staged.plugin, nullptr);
    std::map<std::string, std::string> readme, bundle;  // short name -> label
    for (const ReadmePreset& row : readReadmePresets(ZT_SOURCE_DIR "/README.md")) readme[row.slug] = row.label;
    for (const BundlePreset& preset : readBundlePresets(staged.world, staged.plugin)) {
        bundle[presetSlug(preset.uri)] = preset.label;
    }
    EXPECT_FALSE(bundle.empty());
    EXPECT_EQ(readme, bundle);
}

// What lv2info, lilv's own inspector, prints for the plug-in.
struct Lv2infoReport {
    std::map<uint32_t, std::map<std::string, std::string>> ports;  // index -> field -> first value
    std::vector<std::string> presets;
};

Lv2infoReport runLv2info() {
    Lv2infoReport report;
    FILE* pipe = popen(ZT_LV2INFO " " ZT_PLUGIN_URI " 2>&1", "r");
    if (pipe == nullptr) return report;
    char text[1024];
    bool inPresets = false;
    long port = -1;
    while (fgets(text, sizeof text, pipe) != nullptr) {
        const std::string line = trim(text);
        unsigned index = 0;
        if (sscanf(line.c_str(), "Port %u:", &index) == 1) {
            port = index;
            inPresets = false;
        } else if (line.rfind("Presets:", 0) == 0) {
            inPresets = true;
        } else if (line.empty()) {
            inPresets = false;
        } else if (inPresets) {
            report.presets.push_back(line);
        } else if (port >= 0 && line.find(':') != std::string::npos) {
            const std::string key = line.substr(0, line.find(':'));
            report.ports[static_cast<uint32_t>(port)].emplace(key, trim(line.substr(line.find(':') + 1)));
        }
    }
    pclose(pipe);
    return report;
}

TEST(HostReadme, Lv2infoShowsThePortsAndPresetsTheReadmeDocuments) {
    const Lv2infoReport report = runLv2info();
    const std::map<uint32_t, ReadmeRow> rows = readPortTable(ZT_SOURCE_DIR "/README.md", "## Controls");
    ASSERT_EQ(rows.size(), static_cast<size_t>(kPortCount));
    ASSERT_EQ(report.ports.size(), static_cast<size_t>(kPortCount)) << "lv2info finds the staged bundle";
    for (const auto& [index, row] : rows) {
        SCOPED_TRACE(row.symbol);
        const auto found = report.ports.find(index);
        ASSERT_NE(found, report.ports.end());
        const std::map<std::string, std::string>& fields = found->second;
        EXPECT_EQ(fields.count("Symbol") ? fields.at("Symbol") : "", row.symbol);
        if (row.range == "audio") {
            EXPECT_EQ(fields.count("Minimum"), 0u);
            continue;
        }
        float minimum = NAN, maximum = NAN, defaultValue = NAN;
        ASSERT_EQ(sscanf(row.range.c_str(), "%f .. %f", &minimum, &maximum), 2) << row.range;
        ASSERT_EQ(sscanf(row.defaultValue.c_str(), "%f", &defaultValue), 1) << row.defaultValue;
        ASSERT_TRUE(fields.count("Minimum") && fields.count("Maximum") && fields.count("Default"));
        EXPECT_TRUE(same(minimum, strtof(fields.at("Minimum").c_str(), nullptr))) << fields.at("Minimum");
        EXPECT_TRUE(same(maximum, strtof(fields.at("Maximum").c_str(), nullptr))) << fields.at("Maximum");
        EXPECT_TRUE(same(defaultValue, strtof(fields.at("Default").c_str(), nullptr))) << fields.at("Default");
    }

    std::vector<std::string> readmeLabels;
    for (const ReadmePreset& row : readReadmePresets(ZT_SOURCE_DIR "/README.md")) readmeLabels.push_back(row.label);
    std::vector<std::string> listed = report.presets;
    std::sort(readmeLabels.begin(), readmeLabels.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_FALSE(listed.empty());
    EXPECT_EQ(listed, readmeLabels);
}

}  // namespace
