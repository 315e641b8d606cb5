// The presets of the plug-in as a host reads them through lilv: each one
// loaded with lilv_world_load_resource and read with lilv_state_new_from_world.
#pragma once

#include <lilv/lilv.h>
#include <lv2/urid/urid.h>
#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

// The URID map lilv needs to turn preset values into atoms and back.
struct UridTable {
    std::vector<std::string> uris;
    LV2_URID_Map map{this, &UridTable::mapUri};

    UridTable() = default;
    UridTable(const UridTable&) = delete;
    UridTable& operator=(const UridTable&) = delete;

    static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri);
    std::string unmap(uint32_t urid) const;
};

// A numeric port value from lilv's state callback (float, double, int,
// long or bool atom); false for anything else.
bool portValueAsFloat(const UridTable& urids, const void* value, uint32_t size, uint32_t type, float& number);

struct BundlePreset {
    std::string uri, label, comment;
    std::vector<std::pair<std::string, float>> values;  // in the order lilv gives them
    std::vector<std::string> badValues;                 // symbols whose value is not a number
    bool loaded = false;                                // lilv could read its state
};

// Every preset related to the plug-in, sorted by label.
std::vector<BundlePreset> readBundlePresets(LilvWorld* world, const LilvPlugin* plugin);

// The last part of a preset URI, e.g. small-room.
std::string presetSlug(const std::string& uri);

// The preset with this label (any case), URI or short name; null if none.
const BundlePreset* findPreset(const std::vector<BundlePreset>& presets, const std::string& name);

// One line per preset: label, short name, description. `out` is a FILE*.
void printPresetList(const std::vector<BundlePreset>& presets, FILE* out);
