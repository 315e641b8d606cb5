// Reads the presets of the installed or staged bundle through lilv, as a
// host does, so that the scripts never keep a second copy of them.
//
//   zt-presets list               one line per preset: label, then comment
//   zt-presets describe NAME      "Label: comment" of one preset
//   zt-presets controls NAME      "symbol value" for every port it sets
//
// NAME is a preset's label (any case), its URI, or the last part of its URI
// (e.g. small-room). The bundle is found through LV2_PATH like any host.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char* const kPluginUri = "http://zulvamoret.org/plugins/zulvamoret-tarnwise";

struct Preset {
    std::string uri, label, comment;
};

// The URID map lilv needs to turn preset values into atoms.
struct UridTable {
    std::vector<std::string> uris;
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri) {
        auto* table = static_cast<UridTable*>(handle);
        for (size_t i = 0; i < table->uris.size(); ++i)
            if (table->uris[i] == uri) return static_cast<LV2_URID>(i + 1);
        table->uris.emplace_back(uri);
        return static_cast<LV2_URID>(table->uris.size());
    }
    static const char* unmap(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
        auto* table = static_cast<UridTable*>(handle);
        return urid >= 1 && urid <= table->uris.size() ? table->uris[urid - 1].c_str() : nullptr;
    }
};

std::string firstValue(LilvWorld* world, const LilvNode* subject, const char* predicateUri) {
    LilvNode* predicate = lilv_new_uri(world, predicateUri);
    LilvNode* value = lilv_world_get(world, subject, predicate, nullptr);
    std::string text = value != nullptr ? lilv_node_as_string(value) : "";
    lilv_node_free(value);
    lilv_node_free(predicate);
    return text;
}

std::vector<Preset> loadPresets(LilvWorld* world, const LilvPlugin* plugin) {
    std::vector<Preset> presets;
    LilvNode* presetClass = lilv_new_uri(world, LV2_PRESETS__Preset);
    LilvNodes* related = lilv_plugin_get_related(plugin, presetClass);
    LILV_FOREACH (nodes, i, related) {
        const LilvNode* node = lilv_nodes_get(related, i);
        lilv_world_load_resource(world, node);
        presets.push_back({lilv_node_as_uri(node), firstValue(world, node, LILV_NS_RDFS "label"),
                           firstValue(world, node, LILV_NS_RDFS "comment")});
    }
    lilv_nodes_free(related);
    lilv_node_free(presetClass);
    std::sort(presets.begin(), presets.end(), [](const Preset& a, const Preset& b) { return a.label < b.label; });
    return presets;
}

std::string lastUriPart(const std::string& uri) {
    const size_t cut = uri.find_last_of("#/");
    return cut == std::string::npos ? uri : uri.substr(cut + 1);
}

const Preset* findPreset(const std::vector<Preset>& presets, const char* name) {
    for (const Preset& preset : presets) {
        if (strcasecmp(preset.label.c_str(), name) == 0 || preset.uri == name || lastUriPart(preset.uri) == name) {
            return &preset;
        }
    }
    return nullptr;
}

struct PortValues {
    UridTable* table;
    bool ok = true;
};

void printPortValue(const char* symbol, void* data, const void* value, uint32_t size, uint32_t type) {
    auto* values = static_cast<PortValues*>(data);
    const char* typeUri = UridTable::unmap(values->table, type);
    const std::string kind = typeUri != nullptr ? typeUri : "";
    double number = 0.0;
    if (kind == LV2_ATOM__Float && size == sizeof(float)) {
        number = *static_cast<const float*>(value);
    } else if (kind == LV2_ATOM__Double && size == sizeof(double)) {
        number = *static_cast<const double*>(value);
    } else if ((kind == LV2_ATOM__Int || kind == LV2_ATOM__Bool) && size == sizeof(int32_t)) {
        number = *static_cast<const int32_t*>(value);
    } else if (kind == LV2_ATOM__Long && size == sizeof(int64_t)) {
        number = static_cast<double>(*static_cast<const int64_t*>(value));
    } else {
        fprintf(stderr, "zt-presets: port %s has a value of type %s, not a number\n", symbol, kind.c_str());
        values->ok = false;
        return;
    }
    // The shortest text that reads back as the same float the host would send.
    const float single = static_cast<float>(number);
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(single));
        if (strtof(text, nullptr) == single) break;
    }
    printf("%s %s\n", symbol, text);
}

int usage() {
    fprintf(stderr,
            "Usage: zt-presets list\n"
            "       zt-presets describe NAME\n"
            "       zt-presets controls NAME\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if ((command == "list") != (argc == 2) || argc > 3) return usage();
    if (command != "list" && command != "describe" && command != "controls") return usage();

    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LilvNode* pluginUri = lilv_new_uri(world, kPluginUri);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), pluginUri);
    int status = 0;
    if (plugin == nullptr) {
        fprintf(stderr, "zt-presets: the plug-in %s is not installed (LV2_PATH=%s)\n", kPluginUri,
                getenv("LV2_PATH") != nullptr ? getenv("LV2_PATH") : "unset");
        status = 1;
    } else {
        const std::vector<Preset> presets = loadPresets(world, plugin);
        const Preset* preset = command == "list" ? nullptr : findPreset(presets, argv[2]);
        if (command == "list") {
            size_t width = 0;
            for (const Preset& p : presets) width = std::max(width, p.label.size());
            for (const Preset& p : presets) printf("%-*s  %s\n", static_cast<int>(width), p.label.c_str(), p.comment.c_str());
        } else if (preset == nullptr) {
            fprintf(stderr, "zt-presets: no preset named \"%s\"; there are:\n", argv[2]);
            for (const Preset& p : presets) fprintf(stderr, "  %s (%s)\n", p.label.c_str(), lastUriPart(p.uri).c_str());
            status = 1;
        } else if (command == "describe") {
            printf("%s: %s\n", preset->label.c_str(), preset->comment.c_str());
        } else {
            UridTable table;
            LV2_URID_Map map{&table, UridTable::map};
            LilvNode* node = lilv_new_uri(world, preset->uri.c_str());
            LilvState* state = lilv_state_new_from_world(world, &map, node);
            PortValues values{&table};
            if (state == nullptr) {
                fprintf(stderr, "zt-presets: lilv cannot read the state of %s\n", preset->uri.c_str());
                status = 1;
            } else {
                lilv_state_emit_port_values(state, printPortValue, &values);
                if (!values.ok) status = 1;
            }
            lilv_state_free(state);
            lilv_node_free(node);
        }
    }
    lilv_node_free(pluginUri);
    lilv_world_free(world);
    return status;
}
