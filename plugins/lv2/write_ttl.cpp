// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the LV2 bundle's manifest.ttl, the plugin's description, quillfern.ttl, from the
// parameter table, so that the ports' symbols, names, units, ranges and defaults have one home,
// and the factory bank as LV2 presets, presets.ttl, from the bank's table.
// Run by the build: quillfern-lv2-ttl BUNDLE-FOLDER BINARY-NAME UI-BINARY-NAME VERSION.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "engine/voice.h"
#include "instrument/factory_presets.h"
#include "instrument/lv2_ports.h"

namespace {

constexpr const char* Prefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
    "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
    "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
    "@prefix work: <http://lv2plug.in/ns/ext/worker#> .\n\n";

constexpr const char* Project =
    "  doap:name \"Quillfern\" ;\n"
    "  doap:license <https://spdx.org/licenses/GPL-3.0-or-later> ;\n"
    "  doap:maintainer [\n"
    "    a foaf:Person ;\n"
    "    foaf:name \"Quillfern developers\" ;\n"
    "    foaf:mbox <mailto:quillfern@users.noreply.github.com> ;\n"
    "    foaf:homepage <https://github.com/quillfern/quillfern>\n"
    "  ] ;\n"
    "  rdfs:comment \"A neuron model played as an instrument: the Hindmarsh-Rose equations at "
    "the pitch of the note.\" ;\n";

// A MIDI channel has no unit of the LV2 vocabulary: one of its own.
constexpr const char* ChannelUnit =
    "[ a units:Unit ; rdfs:label \"MIDI channel\" ; units:symbol \"ch\" ; "
    "units:render \"channel %d\" ]";

constexpr const char* PresetFile = "presets.ttl";

// A property list of one subject: "predicate object" pairs joined by " ;".
using Properties = std::vector<std::string>;

std::string joined(const Properties& properties, const std::string& indent) {
  std::string text;
  for (const std::string& property : properties) {
    if (!text.empty()) text += " ;\n";
    text += indent + property;
  }
  return text;
}

std::string quoted(const std::string& text) {
  return '"' + text + '"';
}

// A port value as LV2 hosts read it, a 32-bit float: the shortest decimal that reads back as
// that float, always with a point so that it is a decimal literal.
std::string floatLiteral(double value) {
  char text[64];
  const auto written =
      std::to_chars(text, text + sizeof text, static_cast<float>(value), std::chars_format::fixed);
  std::string literal(text, written.ptr);
  if (literal.find('.') == std::string::npos) literal += ".0";
  return literal;
}

bool isWhole(const InstrumentParameter& parameter) {
  return parameter.scale == ParameterScale::Enumeration ||
         parameter.scale == ParameterScale::Toggle;
}

std::string numberLiteral(const InstrumentParameter& parameter, double value) {
  return isWhole(parameter) ? std::to_string(static_cast<int32_t>(value)) : floatLiteral(value);
}

std::string unitOf(ParameterUnit unit) {
  switch (unit) {
    case ParameterUnit::Seconds:
      return "units:s";
    case ParameterUnit::Level:
    case ParameterUnit::Number:
      return "units:coef";
    case ParameterUnit::Channel:
      return ChannelUnit;
  }
  return "units:coef";
}

// "Envelope" is <urn:quillfern:synth#envelope>, of symbol "envelope".
std::string groupSymbol(const std::string& group) {
  std::string symbol;
  for (const char c : group) {
    symbol += c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return symbol;
}

std::string groupUri(const std::string& group) {
  return "<" + std::string(Lv2PluginUri) + "#" + groupSymbol(group) + ">";
}

std::string scalePoint(const std::string& label, const std::string& value) {
  return "[ rdfs:label " + quoted(label) + " ; rdf:value " + value + " ]";
}

// A stepped parameter's points are its window control's positions, named as the host shows
// them; an enumerated or toggled one's its labels.
std::string scalePoints(const InstrumentParameter& parameter) {
  std::vector<std::string> points;
  if (const VoiceControl* control = windowControlOf(parameter)) {
    for (int32_t position = control->minimum; position <= control->maximum; ++position) {
      const double value = positionValue(parameter, position);
      char label[64];
      formatParameterValue(parameter, value, label, sizeof label);
      points.push_back(scalePoint(label, floatLiteral(value)));
    }
  } else {
    for (std::size_t label = 0; label < parameter.labels.size(); ++label) {
      const double value = parameter.minimum + static_cast<double>(label);
      points.push_back(scalePoint(parameter.labels[label], numberLiteral(parameter, value)));
    }
  }
  std::string text = "lv2:scalePoint ";
  for (std::size_t point = 0; point < points.size(); ++point) {
    text += (point == 0 ? "" : " ,\n      ") + points[point];
  }
  return text;
}

std::vector<std::string> portProperties(const InstrumentParameter& parameter) {
  std::vector<std::string> properties;
  switch (parameter.scale) {
    case ParameterScale::Linear:
      break;
    case ParameterScale::Logarithmic:
      properties.emplace_back("pprops:logarithmic");
      break;
    case ParameterScale::Stepped:
      properties.emplace_back("lv2:enumeration");
      break;
    case ParameterScale::Enumeration:
      properties.insert(properties.end(), {"lv2:integer", "lv2:enumeration"});
      break;
    case ParameterScale::Toggle:
      properties.insert(properties.end(), {"lv2:integer", "lv2:toggled"});
      break;
  }
  if (!parameter.automatable) properties.emplace_back("pprops:notAutomatic");
  return properties;
}

std::string parameterPort(const InstrumentParameter& parameter, uint32_t index) {
  Properties port{"a lv2:InputPort , lv2:ControlPort",
                  "lv2:index " + std::to_string(index),
                  "lv2:symbol " + quoted(parameter.symbol),
                  "lv2:name " + quoted(parameter.name),
                  "lv2:default " + numberLiteral(parameter, parameter.defaultValue),
                  "lv2:minimum " + numberLiteral(parameter, parameter.minimum),
                  "lv2:maximum " + numberLiteral(parameter, parameter.maximum),
                  "units:unit " + unitOf(parameter.unit),
                  "pg:group " + groupUri(parameterGroupName(parameter.group))};
  const bool hasPoints = parameter.scale == ParameterScale::Stepped ||
                         parameter.scale == ParameterScale::Enumeration ||
                         parameter.scale == ParameterScale::Toggle;
  if (hasPoints) port.push_back(scalePoints(parameter));
  const std::vector<std::string> properties = portProperties(parameter);
  if (!properties.empty()) {
    std::string list = "lv2:portProperty ";
    for (std::size_t property = 0; property < properties.size(); ++property) {
      list += (property == 0 ? "" : " , ") + properties[property];
    }
    port.push_back(list);
  }
  return "  [\n" + joined(port, "    ") + "\n  ]";
}

std::string latencyPort() {
  const Properties port{"a lv2:OutputPort , lv2:ControlPort",
                        "lv2:index " + std::to_string(Lv2LatencyPort),
                        "lv2:symbol \"latency\"",
                        "lv2:name \"Latency\"",
                        "lv2:designation lv2:latency",
                        "lv2:minimum 0",
                        "lv2:maximum " + std::to_string(latencySamplesAt(MaximumSampleRate)),
                        "units:unit units:frame",
                        "lv2:portProperty lv2:reportsLatency , lv2:integer , pprops:notOnGUI"};
  return "  [\n" + joined(port, "    ") + "\n  ]";
}

// The model's course out to the window, sent while the window asks for it.
std::string tracePort() {
  const Properties port{"a lv2:OutputPort , atom:AtomPort",
                        "atom:bufferType atom:Sequence",
                        "atom:supports atom:Object",
                        "rsz:minimumSize " + std::to_string(Lv2TraceBufferBytes),
                        "lv2:index " + std::to_string(Lv2TracePort),
                        "lv2:symbol \"trace\"",
                        "lv2:name \"Model trace\""};
  return "  [\n" + joined(port, "    ") + "\n  ]";
}

std::string fixedPorts() {
  const Properties midiIn{"a lv2:InputPort , atom:AtomPort",
                          "atom:bufferType atom:Sequence",
                          "atom:supports midi:MidiEvent , time:Position",
                          "lv2:designation lv2:control",
                          "lv2:index " + std::to_string(Lv2MidiInPort),
                          "lv2:symbol \"midi_in\"",
                          "lv2:name \"MIDI in\""};
  const Properties output{"a lv2:OutputPort , lv2:AudioPort",
                          "lv2:index " + std::to_string(Lv2OutputPort), "lv2:symbol \"out\"",
                          "lv2:name \"Output\""};
  return "  [\n" + joined(midiIn, "    ") + "\n  ] , [\n" + joined(output, "    ") + "\n  ]";
}

// The groups the table names, each with its symbol and label.
std::string portGroups() {
  std::set<std::string> groups;
  for (const InstrumentParameter& parameter : instrumentParameters())
    groups.insert(parameterGroupName(parameter.group));
  std::string text;
  for (const std::string& group : groups) {
    text += "\n" + groupUri(group) + "\n  a pg:Group ;\n  lv2:symbol " +
            quoted(groupSymbol(group)) + " ;\n  rdfs:label " + quoted(group) + " .\n";
  }
  return text;
}

// "1.01" gives minor version 1 and micro version 0; "1.2.3" gives 2 and 3.
std::string versionProperties(const std::string& version) {
  std::vector<int32_t> numbers;
  for (std::size_t at = 0; at <= version.size();) {
    const std::size_t end = std::min(version.find('.', at), version.size());
    int32_t number = 0;
    std::from_chars(version.data() + at, version.data() + end, number);
    numbers.push_back(number);
    at = end + 1;
  }
  numbers.resize(3, 0);
  return "  lv2:minorVersion " + std::to_string(numbers[1]) + " ;\n  lv2:microVersion " +
         std::to_string(numbers[2]) + " ;\n";
}

std::string pluginDescription(const std::string& version) {
  std::string text = Prefixes;
  text += "<" + std::string(Lv2PluginUri) +
          ">\n  a lv2:Plugin , lv2:InstrumentPlugin , doap:Project ;\n";
  text += Project + versionProperties(version);
  text +=
      "  lv2:requiredFeature urid:map ;\n"
      "  lv2:optionalFeature lv2:hardRTCapable , work:schedule ;\n"
      "  lv2:extensionData work:interface ;\n"
      "  ui:ui <" +
      std::string(Lv2UiUri) +
      "> ;\n"
      "  lv2:port\n";
  text += fixedPorts() + " ,\n";
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    text += parameterPort(instrumentParameters()[index], lv2PortOf(index)) + " ,\n";
  }
  return text + latencyPort() + " ,\n" + tracePort() + " .\n" + portGroups();
}

// The window: an X11 child of the host's window, driven by the host's idle calls.
std::string uiDescription(const std::string& uiBinary) {
  return "<" + std::string(Lv2UiUri) +
         ">\n"
         "  a ui:X11UI ;\n"
         "  ui:binary <" +
         uiBinary +
         "> ;\n"
         "  lv2:requiredFeature urid:map , ui:idleInterface , ui:parent ;\n"
         "  lv2:optionalFeature ui:resize , ui:touch ;\n"
         "  lv2:extensionData ui:idleInterface , ui:resize .\n";
}

// "Start-up Neuron" is <urn:quillfern:synth#preset_start_up_neuron>.
std::string presetUri(const FactoryPreset& preset) {
  std::string symbol;
  for (const char c : std::string(preset.name)) {
    symbol += std::isalnum(static_cast<unsigned char>(c)) != 0
                  ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                  : '_';
  }
  return "<" + std::string(Lv2PluginUri) + "#preset_" + symbol + ">";
}

// What every host reads of a preset before it loads one: its kind, plugin and label.
Properties presetHeading(const FactoryPreset& preset) {
  return {"a pset:Preset", "lv2:appliesTo <" + std::string(Lv2PluginUri) + ">",
          "rdfs:label " + quoted(preset.name)};
}

// A preset sets every parameter of the sound (not the MIDI channel, which says where the notes
// come from): loading one after another plays exactly the latter.
std::string presetPorts(const FactoryPreset& preset) {
  const ParameterValues values = presetValues(preset);
  std::string text;
  for (std::size_t index = 0; index < ParameterCount; ++index) {
    const InstrumentParameter& parameter = instrumentParameters()[index];
    if (!parameter.inPresets) continue;
    text += std::string(text.empty() ? "lv2:port " : " , ") + "[\n    lv2:symbol " +
            quoted(parameter.symbol) + " ;\n    pset:value " +
            numberLiteral(parameter, values.value[index]) + "\n  ]";
  }
  return text;
}

std::string presetDescriptions() {
  std::string text =
      "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
      "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
      "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n";
  for (const FactoryPreset& preset : factoryPresets()) {
    Properties properties = presetHeading(preset);
    properties.push_back(presetPorts(preset));
    text += "\n" + presetUri(preset) + "\n" + joined(properties, "  ") + " .\n";
  }
  return text;
}

std::string presetManifest() {
  std::string text;
  for (const FactoryPreset& preset : factoryPresets()) {
    Properties properties = presetHeading(preset);
    properties.push_back("rdfs:seeAlso <" + std::string(PresetFile) + ">");
    text += "\n" + presetUri(preset) + "\n" + joined(properties, "  ") + " .\n";
  }
  return text;
}

std::string manifest(const std::string& binary, const std::string& uiBinary) {
  return "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
         "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
         "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
         "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
         "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n<" +
         std::string(Lv2PluginUri) +
         ">\n"
         "  a lv2:Plugin , lv2:InstrumentPlugin ;\n"
         "  lv2:binary <" +
         binary +
         "> ;\n"
         "  rdfs:seeAlso <quillfern.ttl> .\n\n" +
         uiDescription(uiBinary) + presetManifest();
}

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  file.close();
  if (file) return true;
  std::fprintf(stderr, "quillfern-lv2-ttl: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr,
                 "usage: quillfern-lv2-ttl BUNDLE-FOLDER BINARY-NAME UI-BINARY-NAME VERSION\n");
    return 2;
  }
  const std::string bundle = argv[1];
  const bool written = writeFile(bundle + "/manifest.ttl", manifest(argv[2], argv[3])) &&
                       writeFile(bundle + "/quillfern.ttl", pluginDescription(argv[4])) &&
                       writeFile(bundle + "/" + PresetFile, presetDescriptions());
  return written ? 0 : 1;
}
