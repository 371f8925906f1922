// SPDX-License-Identifier: GPL-3.0-or-later
// The LV2 plugin through what lv2lint checks, one test per check: the plugin's description
// (name, licence, maintainer, version, class), every port's name, symbol, class, range,
// default, unit and properties, the features and extension data, instantiation without the
// required feature and at odd rates, that neither the bundle nor a saved state uses a
// property no vocabulary defines, and the factory bank as a host loads its presets.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/port-props/port-props.h>
#include <lv2/presets/presets.h>
#include <lv2/time/time.h>
#include <lv2/units/units.h>
#include <lv2/urid/urid.h>
#include <serd/serd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/voice.h"
#include "instrument/factory_presets.h"
#include "instrument/lv2_ports.h"
#include "tools/plugin_host/format_hosts.h"

namespace {

constexpr const char* Vocabularies = "/usr/lib/lv2";
constexpr const char* RdfsNamespace = "http://www.w3.org/2000/01/rdf-schema#";
constexpr const char* RdfType = "http://www.w3.org/1999/02/22-rdf-syntax-ns#type";

struct NodeFree {
  void operator()(LilvNode* node) const { lilv_node_free(node); }
};
using Node = std::unique_ptr<LilvNode, NodeFree>;

class Lv2Conformance : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    world = lilv_world_new();
    const std::string path = std::string(Vocabularies) + ":" +
                             std::filesystem::path(QUILLFERN_LV2_BUNDLE).parent_path().string();
    LilvNode* lv2Path = lilv_new_string(world, path.c_str());
    lilv_world_set_option(world, LILV_OPTION_LV2_PATH, lv2Path);
    lilv_node_free(lv2Path);
    lilv_world_load_all(world);
    Node uri(lilv_new_uri(world, Lv2PluginUri));
    plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri.get());
  }
  static void TearDownTestSuite() { lilv_world_free(world); }

  static Node uri(const std::string& text) { return Node(lilv_new_uri(world, text.c_str())); }

  // Whether `subject` is declared of type `type`, or a subclass of it, in the loaded vocabularies.
  static bool isA(const LilvNode* subject, const std::string& type) {
    return lilv_world_ask(world, subject, uri(RdfType).get(), uri(type).get());
  }

  static const LilvPort* portAt(uint32_t index) {
    return lilv_plugin_get_port_by_index(plugin, index);
  }

  static Node portValue(const LilvPort* port, const std::string& predicate) {
    return Node(lilv_port_get(plugin, port, uri(predicate).get()));
  }

  static LilvWorld* world;
  static const LilvPlugin* plugin;
};

LilvWorld* Lv2Conformance::world = nullptr;
const LilvPlugin* Lv2Conformance::plugin = nullptr;

TEST_F(Lv2Conformance, ThePluginVerifiesAsAnInstrument) {
  ASSERT_NE(plugin, nullptr);
  EXPECT_TRUE(lilv_plugin_verify(plugin));
  EXPECT_STREQ(lilv_node_as_uri(lilv_plugin_class_get_uri(lilv_plugin_get_class(plugin))),
               LV2_CORE__InstrumentPlugin);
}

TEST_F(Lv2Conformance, ThePluginNamesItsLicenceMaintainerAndVersion) {
  const Node name(lilv_plugin_get_name(plugin));
  ASSERT_TRUE(name && lilv_node_is_string(name.get()));
  EXPECT_STREQ(lilv_node_as_string(name.get()), "Quillfern");
  const Node license(lilv_world_get(world, lilv_plugin_get_uri(plugin),
                                    uri("http://usefulinc.com/ns/doap#license").get(), nullptr));
  ASSERT_TRUE(license && lilv_node_is_uri(license.get()));
  EXPECT_STREQ(lilv_node_as_uri(license.get()), "https://spdx.org/licenses/GPL-3.0-or-later");
  for (LilvNode* author :
       {lilv_plugin_get_author_name(plugin), lilv_plugin_get_author_email(plugin),
        lilv_plugin_get_author_homepage(plugin)}) {
    EXPECT_NE(author, nullptr);
    lilv_node_free(author);
  }
  // The CMake version: 1.01 is minor version 1, micro version 0.
  int32_t minor = 0;
  int32_t micro = 0;
  std::sscanf(QUILLFERN_VERSION, "%*d.%d.%d", &minor, &micro);
  for (const auto& [predicate, expected] :
       {std::pair{LV2_CORE__minorVersion, minor}, std::pair{LV2_CORE__microVersion, micro}}) {
    const Node version(
        lilv_world_get(world, lilv_plugin_get_uri(plugin), uri(predicate).get(), nullptr));
    ASSERT_TRUE(version && lilv_node_is_int(version.get())) << predicate;
    EXPECT_EQ(lilv_node_as_int(version.get()), expected) << predicate;
  }
}

TEST_F(Lv2Conformance, EveryPortHasANameASymbolAndAKnownClass) {
  ASSERT_EQ(lilv_plugin_get_num_ports(plugin), Lv2PortCount);
  for (uint32_t index = 0; index < Lv2PortCount; ++index) {
    const LilvPort* port = portAt(index);
    const Node name(lilv_port_get_name(plugin, port));
    ASSERT_TRUE(name && *lilv_node_as_string(name.get()) != '\0') << index;
    const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
    EXPECT_TRUE(!symbol.empty() &&
                symbol.find_first_not_of("abcdefghijklmnopqrstuvwxyz_0123456789") ==
                    std::string::npos)
        << symbol;
    LILV_FOREACH(nodes, entry, lilv_port_get_classes(plugin, port)) {
      const LilvNode* portClass = lilv_nodes_get(lilv_port_get_classes(plugin, port), entry);
      EXPECT_TRUE(lilv_world_ask(world, portClass,
                                 uri(std::string(RdfsNamespace) + "subClassOf").get(),
                                 uri(LV2_CORE__Port).get()))
          << symbol << ": " << lilv_node_as_uri(portClass);
    }
  }
}

// Integer ports give whole numbers, the others decimals, and the default lies in the range.
TEST_F(Lv2Conformance, EveryControlInputHasARangeAroundItsDefault) {
  const Node controlPort = uri(LV2_CORE__ControlPort);
  const Node inputPort = uri(LV2_CORE__InputPort);
  for (uint32_t index = 0; index < Lv2PortCount; ++index) {
    const LilvPort* port = portAt(index);
    if (!lilv_port_is_a(plugin, port, controlPort.get()) ||
        !lilv_port_is_a(plugin, port, inputPort.get())) {
      continue;
    }
    const bool integer = lilv_port_has_property(plugin, port, uri(LV2_CORE__integer).get());
    float number[3] = {};
    int32_t at = 0;
    for (const char* predicate : {LV2_CORE__minimum, LV2_CORE__default, LV2_CORE__maximum}) {
      const Node value = portValue(port, predicate);
      ASSERT_TRUE(value) << index << " " << predicate;
      EXPECT_TRUE(integer ? lilv_node_is_int(value.get()) : lilv_node_is_float(value.get()))
          << index << " " << predicate;
      number[at++] = lilv_node_as_float(value.get());
    }
    EXPECT_LE(number[0], number[1]) << index;
    EXPECT_LE(number[1], number[2]) << index;
  }
}

TEST_F(Lv2Conformance, EveryControlPortHasAUnitAndKnownProperties) {
  const Node controlPort = uri(LV2_CORE__ControlPort);
  for (uint32_t index = 0; index < Lv2PortCount; ++index) {
    const LilvPort* port = portAt(index);
    if (!lilv_port_is_a(plugin, port, controlPort.get())) continue;
    const Node unit = portValue(port, LV2_UNITS__unit);
    ASSERT_TRUE(unit) << index;
    EXPECT_TRUE(lilv_node_is_uri(unit.get()) || isA(unit.get(), LV2_UNITS__Unit)) << index;
    LilvNodes* properties = lilv_port_get_properties(plugin, port);
    LILV_FOREACH(nodes, entry, properties) {
      const LilvNode* property = lilv_nodes_get(properties, entry);
      EXPECT_TRUE(isA(property, LV2_CORE__PortProperty)) << lilv_node_as_uri(property);
    }
    lilv_nodes_free(properties);
  }
}

// The ports say what the table says: name, range, default as the floats nearest them, the
// logarithmic ones, the named values, the ones not to automate; the latency stays off the
// generic UI within the range of every rate.
TEST_F(Lv2Conformance, ThePortsFollowTheParameterTable) {
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    const InstrumentParameter& parameter = instrumentParameters()[index];
    const LilvPort* port = portAt(lv2PortOf(index));
    EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), parameter.symbol);
    const Node name(lilv_port_get_name(plugin, port));
    EXPECT_STREQ(lilv_node_as_string(name.get()), parameter.name);
    LilvNode* nodes[3] = {};
    lilv_port_get_range(plugin, port, &nodes[0], &nodes[1], &nodes[2]);
    const double expected[3] = {parameter.defaultValue, parameter.minimum, parameter.maximum};
    for (int32_t at = 0; at < 3; ++at) {
      EXPECT_EQ(lilv_node_as_float(nodes[at]), static_cast<float>(expected[at]))
          << parameter.symbol;
      lilv_node_free(nodes[at]);
    }
    const auto has = [&](const char* property) {
      return lilv_port_has_property(plugin, port, uri(property).get());
    };
    EXPECT_EQ(has(LV2_PORT_PROPS__logarithmic), parameter.scale == ParameterScale::Logarithmic);
    EXPECT_EQ(has(LV2_PORT_PROPS__notAutomatic), !parameter.automatable) << parameter.symbol;
    LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
    const bool named = parameter.scale == ParameterScale::Stepped ||
                       parameter.scale == ParameterScale::Enumeration;
    EXPECT_EQ(has(LV2_CORE__enumeration), named) << parameter.symbol;
    EXPECT_EQ(points != nullptr, named || parameter.scale == ParameterScale::Toggle)
        << parameter.symbol;
    LILV_FOREACH(scale_points, entry, points) {
      const LilvScalePoint* point = lilv_scale_points_get(points, entry);
      double value = 0.0;
      EXPECT_TRUE(parseParameterText(
          parameter, lilv_node_as_string(lilv_scale_point_get_label(point)), value));
      EXPECT_EQ(static_cast<float>(value), lilv_node_as_float(lilv_scale_point_get_value(point)));
    }
    lilv_scale_points_free(points);
  }
  const LilvPort* latency = portAt(Lv2LatencyPort);
  EXPECT_TRUE(lilv_port_has_property(plugin, latency, uri(LV2_PORT_PROPS__notOnGUI).get()));
  EXPECT_EQ(lilv_node_as_int(portValue(latency, LV2_CORE__maximum).get()),
            latencySamplesAt(MaximumSampleRate));
}

TEST_F(Lv2Conformance, TheFeaturesAreDefinedAndOnlyUridMapIsRequired) {
  LilvNodes* required = lilv_plugin_get_required_features(plugin);
  ASSERT_EQ(lilv_nodes_size(required), 1u);
  EXPECT_STREQ(lilv_node_as_uri(lilv_nodes_get_first(required)),
               "http://lv2plug.in/ns/ext/urid#map");
  lilv_nodes_free(required);
  LilvNodes* features = lilv_plugin_get_supported_features(plugin);
  LILV_FOREACH(nodes, entry, features) {
    const LilvNode* feature = lilv_nodes_get(features, entry);
    EXPECT_TRUE(isA(feature, LV2_CORE__Feature)) << lilv_node_as_uri(feature);
  }
  lilv_nodes_free(features);
  LilvNodes* extensions = lilv_plugin_get_extension_data(plugin);
  LILV_FOREACH(nodes, entry, extensions) {
    const LilvNode* extension = lilv_nodes_get(extensions, entry);
    EXPECT_TRUE(isA(extension, LV2_CORE__ExtensionData)) << lilv_node_as_uri(extension);
  }
  lilv_nodes_free(extensions);
}

TEST_F(Lv2Conformance, WithoutUridMapThereIsNoInstance) {
  const LV2_Feature* none[] = {nullptr};
  LilvInstance* instance = lilv_plugin_instantiate(plugin, 44100.0, none);
  EXPECT_EQ(instance, nullptr);
  if (instance != nullptr) lilv_instance_free(instance);
}

// Every rate from 8000 to 384000 Hz plays a note and reports its latency; others are refused.
TEST_F(Lv2Conformance, ItInstantiatesAtOddRatesAndRefusesOthers) {
  const ScoreEvent note{0, ScoreEventKind::Midi, 0x643C90, 0, 0};  // note-on 60, velocity 100
  for (const double rate : {8000.0, 11025.0, 16000.0, 22050.5, 352800.0, 384000.0}) {
    std::string error;
    Lv2Hosted* hosted = openLv2(QUILLFERN_LV2_BUNDLE, rate, 4096, error);
    ASSERT_NE(hosted, nullptr) << rate << ": " << error;
    std::vector<float> output(4096);
    for (int32_t block = 0; block < 10; ++block) {
      runLv2(*hosted, {{.offset = 0, .kind = BlockEventKind::Score, .event = &note}}, 4096,
             output.data());
      for (const float sample : output) ASSERT_TRUE(std::isfinite(sample)) << rate;
    }
    EXPECT_EQ(lv2Latency(*hosted), static_cast<uint32_t>(latencySamplesAt(rate))) << rate;
    closeLv2(hosted);
  }
  for (const double rate : {7999.0, 400000.0}) {
    std::string error;
    EXPECT_EQ(openLv2(QUILLFERN_LV2_BUNDLE, rate, 4096, error), nullptr) << rate;
  }
}

// The predicates of a Turtle document, or the properties it defines.
struct Statements {
  SerdEnv* env = serd_env_new(nullptr);
  std::set<std::string> predicates;
  std::set<std::string> properties;
  ~Statements() { serd_env_free(env); }
};

std::string expanded(SerdEnv* env, const SerdNode* node) {
  SerdNode uri = serd_env_expand_node(env, node);
  std::string text = uri.buf != nullptr ? reinterpret_cast<const char*>(uri.buf)
                                        : reinterpret_cast<const char*>(node->buf);
  serd_node_free(&uri);
  return text;
}

SerdStatus onStatement(void* handle, SerdStatementFlags /*flags*/, const SerdNode* /*graph*/,
                       const SerdNode* subject, const SerdNode* predicate, const SerdNode* object,
                       const SerdNode* /*datatype*/, const SerdNode* /*language*/) {
  auto& statements = *static_cast<Statements*>(handle);
  const std::string property = expanded(statements.env, predicate);
  statements.predicates.insert(property);
  if (property == RdfType && expanded(statements.env, object).ends_with("Property")) {
    statements.properties.insert(expanded(statements.env, subject));
  }
  return SERD_SUCCESS;
}

SerdStatus onPrefix(void* handle, const SerdNode* name, const SerdNode* uri) {
  return serd_env_set_prefix(static_cast<Statements*>(handle)->env, name, uri);
}

SerdStatus onBase(void* handle, const SerdNode* uri) {
  return serd_env_set_base_uri(static_cast<Statements*>(handle)->env, uri);
}

void readTurtle(Statements& statements, const std::string& text) {
  SerdReader* reader =
      serd_reader_new(SERD_TURTLE, &statements, nullptr, onBase, onPrefix, onStatement, nullptr);
  serd_reader_set_strict(reader, false);
  serd_reader_read_string(reader, reinterpret_cast<const uint8_t*>(text.c_str()));
  serd_reader_free(reader);
}

std::string fileText(const std::filesystem::path& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), {}};
}

// Every property the bundle and a state saved with moved ports use is one that a vocabulary
// installed defines: other plugins' bundles are no vocabulary.
TEST_F(Lv2Conformance, NoPropertyOfTheBundleOrASavedStateIsUndefined) {
  Statements vocabulary;
  for (const auto& bundle : std::filesystem::directory_iterator(Vocabularies)) {
    const std::string manifest = fileText(bundle.path() / "manifest.ttl");
    // A vocabulary's manifest is an ontology, or versioned with no plugin library of its own.
    const bool versioned = manifest.find("lv2:minorVersion") != std::string::npos &&
                           manifest.find("lv2:binary") == std::string::npos;
    if (!versioned && manifest.find("owl:Ontology") == std::string::npos) continue;
    for (const auto& file : std::filesystem::directory_iterator(bundle.path())) {
      if (file.path().extension() == ".ttl") readTurtle(vocabulary, fileText(file.path()));
    }
  }
  Statements ours;
  for (const auto& file : std::filesystem::directory_iterator(QUILLFERN_LV2_BUNDLE)) {
    if (file.path().extension() == ".ttl") readTurtle(ours, fileText(file.path()));
  }
  std::string error;
  Lv2Hosted* hosted = openLv2(QUILLFERN_LV2_BUNDLE, 48000.0, 64, error);
  ASSERT_NE(hosted, nullptr) << error;
  std::vector<BlockEvent> moves;
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    moves.push_back({.offset = 0,
                     .kind = BlockEventKind::Parameter,
                     .parameter = index,
                     .value = instrumentParameters()[index].maximum});
  }
  std::vector<float> output(64);
  runLv2(*hosted, moves, 64, output.data());
  std::string state;
  ASSERT_TRUE(saveLv2State(*hosted, state));
  closeLv2(hosted);
  // lilv gives a state as text without the prefixes a saved file declares.
  readTurtle(ours,
             "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
             "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n" +
                 state);
  ASSERT_GT(vocabulary.properties.size(), 100u);
  for (const std::string& predicate : ours.predicates) {
    EXPECT_EQ(vocabulary.properties.count(predicate), 1u) << predicate;
  }
}

// The URIDs a preset's state needs: each URI numbered in the order first asked for.
LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* text) {
  auto& uris = *static_cast<std::vector<std::string>*>(handle);
  const auto found = std::find(uris.begin(), uris.end(), text);
  if (found == uris.end()) uris.emplace_back(text);
  return static_cast<LV2_URID>(std::find(uris.begin(), uris.end(), text) - uris.begin() + 1);
}

using PortValues = std::map<std::string, float>;

struct PresetPorts {
  LV2_URID intType;
  PortValues values;
};

// A port value of a preset: a float, or a whole number for an integer port.
void takePortValue(const char* symbol, void* ports, const void* value, uint32_t /*size*/,
                   uint32_t type) {
  auto& preset = *static_cast<PresetPorts*>(ports);
  preset.values[symbol] = type == preset.intType
                              ? static_cast<float>(*static_cast<const int32_t*>(value))
                              : *static_cast<const float*>(value);
}

// Each factory preset, as a host finds and loads it: related to the plugin, labelled with its
// name, and setting every parameter but the MIDI channel to the value the bank plays.
TEST_F(Lv2Conformance, TheFactoryBankLoadsAsPresets) {
  std::vector<std::string> uris;
  LV2_URID_Map map{&uris, mapUri};
  const LV2_URID intType = mapUri(&uris, LV2_ATOM__Int);
  std::map<std::string, PortValues> loaded;
  LilvNodes* presets = lilv_plugin_get_related(plugin, uri(LV2_PRESETS__Preset).get());
  LILV_FOREACH(nodes, entry, presets) {
    const LilvNode* preset = lilv_nodes_get(presets, entry);
    lilv_world_load_resource(world, preset);
    const Node label(
        lilv_world_get(world, preset, uri(std::string(RdfsNamespace) + "label").get(), nullptr));
    ASSERT_NE(label, nullptr) << lilv_node_as_uri(preset);
    PresetPorts ports{intType, {}};
    LilvState* state = lilv_state_new_from_world(world, &map, preset);
    ASSERT_NE(state, nullptr);
    lilv_state_emit_port_values(state, takePortValue, &ports);
    lilv_state_free(state);
    loaded[lilv_node_as_string(label.get())] = ports.values;
  }
  lilv_nodes_free(presets);
  ASSERT_EQ(loaded.size(), factoryPresets().size());
  for (const FactoryPreset& preset : factoryPresets()) {
    SCOPED_TRACE(preset.name);
    const PortValues& values = loaded[preset.name];
    EXPECT_EQ(values.size(), ParameterCount - 2);  // all but the MIDI channel and MPE
    const ParameterValues expected = presetValues(preset);
    for (std::size_t index = 0; index < ParameterCount; ++index) {
      const InstrumentParameter& parameter = instrumentParameters()[index];
      if (!parameter.inPresets) continue;
      ASSERT_EQ(values.count(parameter.symbol), 1u) << parameter.symbol;
      EXPECT_EQ(valueOfPortFloat(parameter, values.at(parameter.symbol)), expected.value[index])
          << parameter.symbol;
    }
  }
}

// Sequences whose last atom says more than there is, each ending where its buffer ends (so that
// ASan sees a read past it), and trace ports with less room than a trace or an empty sequence:
// run() reads and writes only what it was given, and plays no note a lying event stood for.
TEST_F(Lv2Conformance, LyingAtomSizesAndSmallOutputsStayInTheirBuffers) {
  std::vector<std::string> uris;
  LV2_URID_Map map{&uris, mapUri};
  const LV2_Feature mapFeature{LV2_URID__map, &map};
  const LV2_Feature* features[] = {&mapFeature, nullptr};
  const auto id = [&](const char* text) { return mapUri(&uris, text); };
  const uint32_t midi = id(LV2_MIDI__MidiEvent), object = id(LV2_ATOM__Object);
  const uint32_t position = id(LV2_TIME__Position), speed = id(LV2_TIME__speed);
  const uint32_t floatType = id(LV2_ATOM__Float), noteOn = 0x643C90;
  // After a request for the trace: events as words (frame, 0, size, type, body).
  const std::vector<std::pair<std::vector<uint32_t>, bool>> shapes = {
      {{0, 0, 3, midi, noteOn, 0}, true},                                // honest: it plays
      {{0, 0, 3, midi}, false},                                          // its bytes past the end
      {{0, 0, 0xFFFFFFF0, midi, noteOn, 0}, false},                      // a size of 4 GiB
      {{0, 0}, false},                                                   // half an event's head
      {{0, 0, 16, object, 0, position, speed, 0}, false},                // half a property's head
      {{0, 0, 24, object, 0, position, speed, 0, 0, floatType}, false},  // a float of 0 bytes
      {{0, 0, 32, object, 0, position, speed, 0, 0xFFFFFFF8, floatType, 0x3F800000, 0}, false}};
  for (const uint32_t capacity : {0u, 4u, 7u, 8u, 80u}) {
    for (std::size_t shape = 0; shape < shapes.size(); ++shape) {
      const auto& [events, plays] = shapes[shape];
      std::vector<uint32_t> words = {0, id(LV2_ATOM__Sequence), 0, 0, 0, 0, 8, object,
                                     0, id(Lv2TraceOnUri)};
      words.insert(words.end(), events.begin(), events.end());
      words[0] = static_cast<uint32_t>(words.size() * 4 - sizeof(LV2_Atom));
      const auto input = std::make_unique<uint32_t[]>(words.size());
      std::copy(words.begin(), words.end(), input.get());
      const auto trace = std::make_unique<uint8_t[]>(sizeof(LV2_Atom) + capacity);
      *reinterpret_cast<LV2_Atom*>(trace.get()) = {capacity, id(LV2_ATOM__Chunk)};
      std::vector<float> output(4096);
      LilvInstance* instance = lilv_plugin_instantiate(plugin, 44100.0, features);
      ASSERT_NE(instance, nullptr);
      lilv_instance_connect_port(instance, Lv2MidiInPort, input.get());
      lilv_instance_connect_port(instance, Lv2OutputPort, output.data());
      lilv_instance_connect_port(instance, Lv2TracePort, trace.get());
      lilv_instance_activate(instance);
      lilv_instance_run(instance, static_cast<uint32_t>(output.size()));
      lilv_instance_free(instance);
      EXPECT_LE(reinterpret_cast<const LV2_Atom*>(trace.get())->size, capacity);
      EXPECT_EQ(std::any_of(output.begin(), output.end(), [](float x) { return x != 0.0f; }), plays)
          << "shape " << shape << ", capacity " << capacity;
    }
  }
}

}  // namespace
