// Reads the presets of the installed or staged bundle through lilv, as a
// host does, so that the scripts never keep a second copy of them.
//
//   zt-presets list               one line per preset: label, short name, comment
//   zt-presets names              the short name of each preset, one a line
//   zt-presets describe NAME      "Label: comment" of one preset
//   zt-presets controls NAME      "symbol value" for every port it sets
//
// NAME is a preset's label (any case), its URI, or the last part of its URI
// (e.g. small-room). The bundle is found through LV2_PATH like any host.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "bundle_presets.h"

namespace {

const char* const kPluginUri = "http://zulvamoret.org/plugins/zulvamoret-tarnwise";

// The shortest text that reads back as the same float the host would send.
std::string floatText(float value) {
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (strtof(text, nullptr) == value) break;
    }
    return text;
}

int run(const std::string& command, const std::string& name, const std::vector<BundlePreset>& presets) {
    if (command == "list") {
        printPresetList(presets, stdout);
        return 0;
    }
    if (command == "names") {
        for (const BundlePreset& p : presets) printf("%s\n", presetSlug(p.uri).c_str());
        return 0;
    }
    const BundlePreset* preset = findPreset(presets, name);
    if (preset == nullptr) {
        fprintf(stderr, "zt-presets: no preset named \"%s\"; there are:\n", name.c_str());
        for (const BundlePreset& p : presets) fprintf(stderr, "  %s (%s)\n", p.label.c_str(), presetSlug(p.uri).c_str());
        return 1;
    }
    if (command == "describe") {
        printf("%s: %s\n", preset->label.c_str(), preset->comment.c_str());
        return 0;
    }
    if (!preset->loaded || !preset->badValues.empty()) {
        fprintf(stderr, "zt-presets: lilv cannot read every value of %s\n", preset->uri.c_str());
        return 1;
    }
    for (const auto& [symbol, value] : preset->values) printf("%s %s\n", symbol.c_str(), floatText(value).c_str());
    return 0;
}

int usage() {
    fprintf(stderr,
            "Usage: zt-presets list\n"
            "       zt-presets names\n"
            "       zt-presets describe NAME\n"
            "       zt-presets controls NAME\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    const bool whole = command == "list" || command == "names";
    const bool one = command == "describe" || command == "controls";
    if (!(whole && argc == 2) && !(one && argc == 3)) return usage();

    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LilvNode* pluginUri = lilv_new_uri(world, kPluginUri);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), pluginUri);
    int status = 1;
    if (plugin == nullptr) {
        const char* path = getenv("LV2_PATH");
        fprintf(stderr, "zt-presets: the plug-in %s is not installed (LV2_PATH=%s)\n", kPluginUri,
                path != nullptr ? path : "unset");
    } else {
        status = run(command, argc > 2 ? argv[2] : "", readBundlePresets(world, plugin));
    }
    lilv_node_free(pluginUri);
    lilv_world_free(world);
    return status;
}
