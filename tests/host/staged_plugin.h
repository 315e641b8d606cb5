// The plug-in as a host sees it: a lilv world that discovers the staged
// bundle through LV2_PATH, and small helpers around its metadata.
#pragma once

#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <string>
#include <vector>

#define ZT_PLUGIN_URI "http://zulvamoret.org/plugins/zulvamoret-tarnwise"
#define ZT_STEREO_PLUGIN_URI "http://zulvamoret.org/plugins/zulvamoret-tarnwise-stereo"

constexpr uint32_t kPortCount = 24;

struct StagedPlugin {
    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;

    explicit StagedPlugin(const char* pluginUri = ZT_PLUGIN_URI) {
        world = lilv_world_new();
        lilv_world_load_all(world);
        LilvNode* uri = lilv_new_uri(world, pluginUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    ~StagedPlugin() { lilv_world_free(world); }
    StagedPlugin(const StagedPlugin&) = delete;
    StagedPlugin& operator=(const StagedPlugin&) = delete;

    const LilvPort* port(uint32_t index) const { return lilv_plugin_get_port_by_index(plugin, index); }

    bool portIs(uint32_t index, const char* classUri) const {
        LilvNode* cls = lilv_new_uri(world, classUri);
        const bool is = lilv_port_is_a(plugin, port(index), cls);
        lilv_node_free(cls);
        return is;
    }

    bool portHasProperty(uint32_t index, const char* propertyUri) const {
        LilvNode* property = lilv_new_uri(world, propertyUri);
        const bool has = lilv_port_has_property(plugin, port(index), property);
        lilv_node_free(property);
        return has;
    }

    std::string symbol(uint32_t index) const {
        return lilv_node_as_string(lilv_port_get_symbol(plugin, port(index)));
    }

    // First value of `predicateUri` on the port, as a string ("" when absent).
    std::string portValue(uint32_t index, const char* predicateUri) const {
        LilvNode* predicate = lilv_new_uri(world, predicateUri);
        LilvNodes* values = lilv_port_get_value(plugin, port(index), predicate);
        lilv_node_free(predicate);
        std::string text;
        if (values != nullptr && lilv_nodes_size(values) > 0) {
            const LilvNode* first = lilv_nodes_get_first(values);
            text = lilv_node_as_string(first);
        }
        lilv_nodes_free(values);
        return text;
    }

    struct Ranges {
        std::vector<float> minimum, maximum, defaults;
    };
    Ranges ranges() const {
        const uint32_t ports = lilv_plugin_get_num_ports(plugin);
        Ranges r{std::vector<float>(ports), std::vector<float>(ports), std::vector<float>(ports)};
        lilv_plugin_get_port_ranges_float(plugin, r.minimum.data(), r.maximum.data(), r.defaults.data());
        return r;
    }
};

#define LV2_CORE "http://lv2plug.in/ns/lv2core#"
