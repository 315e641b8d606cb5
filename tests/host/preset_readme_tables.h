// Tables of README.md, what users read: the ports and the presets.
#pragma once

#include <stdio.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The cells of every table row in a Markdown file ("| a | b |"), trimmed;
// with a section ("## Controls"), only those between its heading and the
// next one of its level.
inline std::vector<std::vector<std::string>> readmeTableRows(const std::string& path, const std::string& section = "") {
    std::vector<std::vector<std::string>> rows;
    std::ifstream file(path);
    std::string line;
    bool inside = section.empty();
    while (std::getline(file, line)) {
        if (!section.empty() && line.rfind("## ", 0) == 0) inside = line == section;
        if (!inside || line.rfind("| ", 0) != 0) continue;
        std::vector<std::string> cells;
        std::stringstream stream(line.substr(1));
        std::string cell;
        while (std::getline(stream, cell, '|')) {
            const size_t begin = cell.find_first_not_of(" \t");
            const size_t end = cell.find_last_not_of(" \t");
            cells.push_back(begin == std::string::npos ? "" : cell.substr(begin, end - begin + 1));
        }
        rows.push_back(cells);
    }
    return rows;
}

inline bool isCode(const std::string& cell) { return cell.size() >= 3 && cell.front() == '`' && cell.back() == '`'; }

struct ReadmePreset {
    std::string label, slug;
    double t60Seconds;
};

// Rows of the form "| Label | `short-name` | 1.52 s | text |".
inline std::vector<ReadmePreset> readReadmePresets(const std::string& path) {
    std::vector<ReadmePreset> presets;
    for (const std::vector<std::string>& cells : readmeTableRows(path)) {
        double t60 = 0.0;
        char unit[4] = {};
        if (cells.size() < 4 || !isCode(cells[1])) continue;
        if (sscanf(cells[2].c_str(), "%lf %3s", &t60, unit) != 2 || std::string(unit) != "s") continue;
        presets.push_back({cells[0], cells[1].substr(1, cells[1].size() - 2), t60});
    }
    return presets;
}
