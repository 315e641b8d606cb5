// What hosts read from the metadata beyond the ports themselves, as lilv
// gives it to them: the project and its maintainer, the port groups that
// generic UIs draw, the stereo designations, and the presets found from the
// plug-in's own data.
#include <map>
#include <set>

#include "bundle_presets.h"
#include "staged_plugin.h"

namespace {

#define PG "http://lv2plug.in/ns/ext/port-groups#"
#define DOAP "http://usefulinc.com/ns/doap#"

struct Nodes {
    LilvWorld* world;
    std::vector<LilvNode*> owned;
    ~Nodes() {
        for (LilvNode* node : owned) lilv_node_free(node);
    }
    const LilvNode* uri(const char* text) {
        owned.push_back(lilv_new_uri(world, text));
        return owned.back();
    }
};

std::string text(const LilvNode* node) { return node != nullptr ? lilv_node_as_string(node) : ""; }

// First object of (subject, predicate) in the world's data, "" when none.
std::string objectOf(LilvWorld* world, const LilvNode* subject, const LilvNode* predicate) {
    LilvNode* value = lilv_world_get(world, subject, predicate, nullptr);
    const std::string result = text(value);
    lilv_node_free(value);
    return result;
}

class HostMetadata : public ::testing::Test {
protected:
    StagedPlugin staged;
    Nodes nodes{staged.world, {}};
    void SetUp() override { ASSERT_NE(staged.plugin, nullptr) << "plug-in not found through LV2_PATH"; }
};

TEST_F(HostMetadata, ProjectAndMaintainerAreComplete) {
    for (LilvNode* (*get)(const LilvPlugin*) :
         {lilv_plugin_get_author_name, lilv_plugin_get_author_email, lilv_plugin_get_author_homepage}) {
        LilvNode* value = get(staged.plugin);
        EXPECT_FALSE(text(value).empty());
        lilv_node_free(value);
    }
    LilvNode* project = lilv_plugin_get_project(staged.plugin);
    ASSERT_NE(project, nullptr) << "no lv2:project";
    EXPECT_FALSE(objectOf(staged.world, project, nodes.uri(DOAP "name")).empty());
    EXPECT_FALSE(objectOf(staged.world, project, nodes.uri(DOAP "shortdesc")).empty());
    lilv_node_free(project);
    const std::string shortdesc =
        objectOf(staged.world, lilv_plugin_get_uri(staged.plugin), nodes.uri(DOAP "shortdesc"));
    EXPECT_FALSE(shortdesc.empty());
    EXPECT_LE(shortdesc.size(), 80u) << "one short line in host browsers";
}

// Every port in a labelled group; each first/last pair alone in one; the
// outputs a stereo pair with left and right designations.
TEST_F(HostMetadata, PortGroupsShowThePairsAndTheStereoOutput) {
    const LilvNode* groupPredicate = nodes.uri(PG "group");
    const LilvNode* designation = nodes.uri(LV2_CORE "designation");
    const LilvNode* type = nodes.uri("http://www.w3.org/1999/02/22-rdf-syntax-ns#type");
    std::map<std::string, std::set<std::string>> members;  // group -> symbols
    std::map<std::string, std::string> groupOf;              // symbol -> group
    for (uint32_t i = 0; i < kPortCount; ++i) {
        SCOPED_TRACE(staged.symbol(i));
        LilvNode* group = lilv_port_get(staged.plugin, staged.port(i), groupPredicate);
        ASSERT_NE(group, nullptr) << "no group";
        EXPECT_FALSE(objectOf(staged.world, group, nodes.uri(LV2_CORE "symbol")).empty());
        EXPECT_FALSE(objectOf(staged.world, group, nodes.uri("http://www.w3.org/2000/01/rdf-schema#label")).empty());
        members[text(group)].insert(staged.symbol(i));
        groupOf[staged.symbol(i)] = text(group);
        lilv_node_free(group);
    }
    for (const char* pair : {"decay", "size", "input_gain", "cutoff", "mod_depth", "mod_rate"}) {
        SCOPED_TRACE(pair);
        const std::string first = std::string(pair) + "_first", last = std::string(pair) + "_last";
        EXPECT_EQ(members[groupOf[first]], (std::set<std::string>{first, last}));
    }

    const std::string out = groupOf["out_left"];
    EXPECT_EQ(members[out], (std::set<std::string>{"out_left", "out_right"}));
    LilvNode* outNode = lilv_new_uri(staged.world, out.c_str());
    EXPECT_TRUE(lilv_world_ask(staged.world, outNode, type, nodes.uri(PG "StereoGroup")));
    EXPECT_TRUE(lilv_world_ask(staged.world, outNode, type, nodes.uri(PG "OutputGroup")));
    EXPECT_TRUE(lilv_world_ask(staged.world, lilv_plugin_get_uri(staged.plugin), nodes.uri(PG "mainOutput"), outNode));
    lilv_node_free(outNode);
    const struct {
        uint32_t index;
        const char* channel;
    } channels[] = {{0, PG "center"}, {1, PG "left"}, {2, PG "right"}};
    for (const auto& [index, channel] : channels) {
        LilvNode* designated = lilv_port_get(staged.plugin, staged.port(index), designation);
        EXPECT_EQ(text(designated), channel) << staged.symbol(index);
        lilv_node_free(designated);
    }
}

// A host that reads only the plug-in's own data (jalv's `preset URI`
// command, for one) finds every preset's values without loading the preset
// as a resource of its own.
TEST_F(HostMetadata, PresetsAreFoundFromThePluginsOwnData) {
    ASSERT_EQ(lilv_plugin_get_num_ports(staged.plugin), kPortCount);  // loads the plug-in's data
    const LilvNodes* dataUris = lilv_plugin_get_data_uris(staged.plugin);
    bool presetsFile = false;
    LILV_FOREACH (nodes, i, dataUris) {
        const std::string uri = lilv_node_as_uri(lilv_nodes_get(dataUris, i));
        presetsFile = presetsFile || (uri.size() > 11 && uri.compare(uri.size() - 11, 11, "presets.ttl") == 0);
    }
    EXPECT_TRUE(presetsFile) << "presets.ttl is not in the plug-in's rdfs:seeAlso";

    LilvNodes* presets = lilv_plugin_get_related(staged.plugin, nodes.uri("http://lv2plug.in/ns/ext/presets#Preset"));
    EXPECT_GE(lilv_nodes_size(presets), 8u);
    UridTable urids;
    LILV_FOREACH (nodes, i, presets) {
        const LilvNode* preset = lilv_nodes_get(presets, i);
        SCOPED_TRACE(lilv_node_as_uri(preset));
        LilvState* state = lilv_state_new_from_world(staged.world, &urids.map, preset);
        ASSERT_NE(state, nullptr);
        EXPECT_FALSE(std::string(lilv_state_get_label(state) ? lilv_state_get_label(state) : "").empty());
        uint32_t values = 0;
        lilv_state_emit_port_values(
            state, [](const char*, void* count, const void*, uint32_t, uint32_t) { ++*static_cast<uint32_t*>(count); },
            &values);
        EXPECT_EQ(values, kPortCount - 3);
        lilv_state_free(state);
    }
    lilv_nodes_free(presets);
}

// The engine's times and frequencies hold at its fixed 48 kHz: a comment
// that gives one in numbers says at which rate.
TEST_F(HostMetadata, CommentsWithTimesOrFrequenciesNameTheRate) {
    for (uint32_t i = 3; i < kPortCount; ++i) {
        const std::string unit = staged.portValue(i, "http://lv2plug.in/ns/extensions/units#unit");
        const std::string name = unit.substr(unit.find('#') + 1);
        const bool rateBound = name == "ms" || name == "hz" || name == "m";
        const std::string comment = staged.portValue(i, "http://www.w3.org/2000/01/rdf-schema#comment");
        const bool numbers = comment.find(" ms") != std::string::npos || comment.find(" Hz") != std::string::npos ||
                             comment.find("samples") != std::string::npos;
        if (rateBound || numbers) {
            EXPECT_NE(comment.find("48 kHz"), std::string::npos) << staged.symbol(i);
        }
    }
}

}  // namespace
