#include "bundle_presets.h"

#include <lv2/atom/atom.h>
#include <lv2/presets/presets.h>
#include <stdint.h>

#include <strings.h>

#include <algorithm>

LV2_URID UridTable::mapUri(LV2_URID_Map_Handle handle, const char* uri) {
    auto* table = static_cast<UridTable*>(handle);
    for (size_t i = 0; i < table->uris.size(); ++i)
        if (table->uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    table->uris.emplace_back(uri);
    return static_cast<LV2_URID>(table->uris.size());
}

std::string UridTable::unmap(uint32_t urid) const { return urid >= 1 && urid <= uris.size() ? uris[urid - 1] : ""; }

bool portValueAsFloat(const UridTable& urids, const void* value, uint32_t size, uint32_t type, float& number) {
    const std::string kind = urids.unmap(type);
    if (kind == LV2_ATOM__Float && size == sizeof(float)) {
        number = *static_cast<const float*>(value);
    } else if (kind == LV2_ATOM__Double && size == sizeof(double)) {
        number = static_cast<float>(*static_cast<const double*>(value));
    } else if ((kind == LV2_ATOM__Int || kind == LV2_ATOM__Bool) && size == sizeof(int32_t)) {
        number = static_cast<float>(*static_cast<const int32_t*>(value));
    } else if (kind == LV2_ATOM__Long && size == sizeof(int64_t)) {
        number = static_cast<float>(*static_cast<const int64_t*>(value));
    } else {
        return false;
    }
    return true;
}

namespace {

std::string firstValue(LilvWorld* world, const LilvNode* subject, const char* predicateUri) {
    LilvNode* predicate = lilv_new_uri(world, predicateUri);
    LilvNode* value = lilv_world_get(world, subject, predicate, nullptr);
    std::string text = value != nullptr ? lilv_node_as_string(value) : "";
    lilv_node_free(value);
    lilv_node_free(predicate);
    return text;
}

struct ValueCollector {
    const UridTable* urids;
    BundlePreset* preset;
    static void collect(const char* symbol, void* data, const void* value, uint32_t size, uint32_t type) {
        auto* self = static_cast<ValueCollector*>(data);
        float number = 0.0f;
        if (portValueAsFloat(*self->urids, value, size, type, number)) {
            self->preset->values.emplace_back(symbol, number);
        } else {
            self->preset->badValues.emplace_back(symbol);
        }
    }
};

}  // namespace

std::vector<BundlePreset> readBundlePresets(LilvWorld* world, const LilvPlugin* plugin) {
    std::vector<BundlePreset> presets;
    UridTable urids;
    LilvNode* presetClass = lilv_new_uri(world, LV2_PRESETS__Preset);
    LilvNodes* related = lilv_plugin_get_related(plugin, presetClass);
    LILV_FOREACH (nodes, i, related) {
        const LilvNode* node = lilv_nodes_get(related, i);
        BundlePreset preset;
        preset.uri = lilv_node_as_uri(node);
        if (lilv_world_load_resource(world, node) >= 0) {
            preset.label = firstValue(world, node, LILV_NS_RDFS "label");
            preset.comment = firstValue(world, node, LILV_NS_RDFS "comment");
            LilvState* state = lilv_state_new_from_world(world, &urids.map, node);
            if (state != nullptr) {
                preset.loaded = true;
                ValueCollector collector{&urids, &preset};
                lilv_state_emit_port_values(state, ValueCollector::collect, &collector);
                lilv_state_free(state);
            }
        }
        presets.push_back(preset);
    }
    lilv_nodes_free(related);
    lilv_node_free(presetClass);
    std::sort(presets.begin(), presets.end(),
              [](const BundlePreset& a, const BundlePreset& b) { return a.label < b.label; });
    return presets;
}

std::string presetSlug(const std::string& uri) { return uri.substr(uri.find_last_of("#/") + 1); }

const BundlePreset* findPreset(const std::vector<BundlePreset>& presets, const std::string& name) {
    for (const BundlePreset& preset : presets) {
        if (strcasecmp(preset.label.c_str(), name.c_str()) == 0 || preset.uri == name || presetSlug(preset.uri) == name) {
            return &preset;
        }
    }
    return nullptr;
}

void printPresetList(const std::vector<BundlePreset>& presets, FILE* out) {
    size_t labelWidth = 0, slugWidth = 0;
    for (const BundlePreset& p : presets) {
        labelWidth = std::max(labelWidth, p.label.size());
        slugWidth = std::max(slugWidth, presetSlug(p.uri).size());
    }
    for (const BundlePreset& p : presets) {
        fprintf(out, "%-*s  %-*s  %s\n", static_cast<int>(labelWidth), p.label.c_str(), static_cast<int>(slugWidth),
                presetSlug(p.uri).c_str(), p.comment.c_str());
    }
}
