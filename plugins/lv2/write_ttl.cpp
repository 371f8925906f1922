// Writes the LV2 bundle's manifest.ttl and the plugin's description, quillfern.ttl, from the
// parameter table, so that the ports' symbols, names and ranges have one home. Run by the
// build: quillfern-lv2-ttl BUNDLE-FOLDER BINARY-NAME UI-BINARY-NAME.
#include <cstdio>
#include <fstream>
#include <string>

#include "plugins/lv2/lv2_ports.h"

namespace {

constexpr const char* Prefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
    "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
    "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
    "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

std::string channelScalePoints() {
  std::string points = "    lv2:scalePoint [ rdfs:label \"Omni\" ; rdf:value 0 ]";
  for (int32_t channel = FirstMidiChannel; channel <= LastMidiChannel; ++channel) {
    points += " , [ rdfs:label \"" + std::to_string(channel) + "\" ; rdf:value " +
              std::to_string(channel) + " ]";
  }
  return points + " ;\n";
}

std::string parameterPort(const PluginParameter& parameter, uint32_t index) {
  const bool toggle = parameter.minimum == 0 && parameter.maximum == 1;
  std::string port = "  [\n    a lv2:InputPort , lv2:ControlPort ;\n";
  port += "    lv2:index " + std::to_string(index) + " ;\n";
  port += "    lv2:symbol \"" + std::string(parameter.symbol) + "\" ;\n";
  port += "    lv2:name \"" + std::string(parameter.name) + "\" ;\n";
  port += "    lv2:default " + std::to_string(parameter.initial) + " ;\n";
  port += "    lv2:minimum " + std::to_string(parameter.minimum) + " ;\n";
  port += "    lv2:maximum " + std::to_string(parameter.maximum) + " ;\n";
  if (parameter.id == ChannelParameterId) port += channelScalePoints();
  port += toggle ? "    lv2:portProperty lv2:integer , lv2:toggled\n"
                 : "    lv2:portProperty lv2:integer\n";
  return port + "  ]";
}

std::string pluginDescription() {
  std::string text = Prefixes;
  text += "<" + std::string(Lv2PluginUri) + ">\n";
  text +=
      "  a lv2:Plugin , lv2:InstrumentPlugin ;\n"
      "  doap:name \"Quillfern\" ;\n"
      "  rdfs:comment \"A neuron model played as an instrument: the Hindmarsh-Rose equations at "
      "the pitch of the note.\" ;\n"
      "  lv2:requiredFeature urid:map ;\n"
      "  lv2:optionalFeature lv2:hardRTCapable ;\n"
      "  lv2:extensionData state:interface ;\n"
      "  ui:ui <" +
      std::string(Lv2UiUri) +
      "> ;\n"
      "  lv2:port [\n"
      "    a lv2:InputPort , atom:AtomPort ;\n"
      "    atom:bufferType atom:Sequence ;\n"
      "    atom:supports midi:MidiEvent , time:Position ;\n"
      "    lv2:designation lv2:control ;\n"
      "    lv2:index " +
      std::to_string(Lv2MidiInPort) +
      " ;\n"
      "    lv2:symbol \"midi_in\" ;\n"
      "    lv2:name \"MIDI in\"\n"
      "  ] , [\n"
      "    a lv2:OutputPort , lv2:AudioPort ;\n"
      "    lv2:index " +
      std::to_string(Lv2OutputPort) +
      " ;\n"
      "    lv2:symbol \"out\" ;\n"
      "    lv2:name \"Output\"\n"
      "  ] ,\n";
  uint32_t index = Lv2FirstParameterPort;
  for (const PluginParameter& parameter : pluginParameters()) {
    text += parameterPort(parameter, index++) + " ,\n";
  }
  text +=
      "  [\n"
      "    a lv2:OutputPort , lv2:ControlPort ;\n"
      "    lv2:index " +
      std::to_string(Lv2LatencyPort) +
      " ;\n"
      "    lv2:symbol \"latency\" ;\n"
      "    lv2:name \"Latency\" ;\n"
      "    lv2:designation lv2:latency ;\n"
      "    lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
      "    units:unit units:frame\n"
      "  ] , [\n"
      "    a lv2:OutputPort , atom:AtomPort ;\n"
      "    atom:bufferType atom:Sequence ;\n"
      "    atom:supports atom:Object ;\n"
      "    rsz:minimumSize " +
      std::to_string(Lv2TraceBufferBytes) +
      " ;\n"
      "    lv2:index " +
      std::to_string(Lv2TracePort) +
      " ;\n"
      "    lv2:symbol \"trace\" ;\n"
      "    lv2:name \"Model trace\"\n"
      "  ] .\n";
  return text;
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

std::string manifest(const std::string& binary, const std::string& uiBinary) {
  return "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
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
         uiDescription(uiBinary);
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
  if (argc != 4) {
    std::fprintf(stderr, "usage: quillfern-lv2-ttl BUNDLE-FOLDER BINARY-NAME UI-BINARY-NAME\n");
    return 2;
  }
  const std::string bundle = argv[1];
  const bool written = writeFile(bundle + "/manifest.ttl", manifest(argv[2], argv[3])) &&
                       writeFile(bundle + "/quillfern.ttl", pluginDescription());
  return written ? 0 : 1;
}
