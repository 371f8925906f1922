// SPDX-License-Identifier: GPL-3.0-or-later
// The LV2 plugin's window (ui:X11UI), a shared object of its own: an X11 child of the host's
// window (ui:parent), driven by the host's idle calls (ui:idleInterface) in its UI thread, sized
// through ui:resize. Controls go to the plugin's ports through the host; the model's course
// comes from the trace port, as eg-scope's samples do.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "instrument/lv2_ports.h"
#include "plugins/gui/gui_parameters.h"
#include "plugins/gui/x11_window.h"
#include "plugins/lv2/lv2_trace.h"

namespace {

struct Lv2Window {
  X11Window* x11 = nullptr;
  LV2UI_Write_Function write = nullptr;
  LV2UI_Controller controller = nullptr;
  const LV2UI_Resize* resize = nullptr;
  const LV2UI_Touch* touch = nullptr;
  Lv2TraceUris uris{};
  LV2_URID midiEvent = 0;
};

// The parameter a control port carries, or false for another port.
bool parameterOfPort(uint32_t port, std::size_t& index) {
  for (index = 0; index < guiParameterCount(); ++index) {
    if (lv2PortOf(index) == port) return true;
  }
  return false;
}

void touch(Lv2Window& window, std::size_t index, bool grabbed) {
  if (window.touch != nullptr) window.touch->touch(window.touch->handle, lv2PortOf(index), grabbed);
}

void beginGesture(void* context, std::size_t index) {
  touch(*static_cast<Lv2Window*>(context), index, true);
}

void setValue(void* context, std::size_t index, double value) {
  auto& window = *static_cast<Lv2Window*>(context);
  const auto port = static_cast<float>(value);
  window.write(window.controller, lv2PortOf(index), sizeof port, 0, &port);
}

void endGesture(void* context, std::size_t index) {
  touch(*static_cast<Lv2Window*>(context), index, false);
}

// The strip's keys as MIDI events to the plugin's MIDI input, on the channel it listens to.
void playKey(void* context, int32_t key, bool down) {
  auto& window = *static_cast<Lv2Window*>(context);
  const uint8_t channel = guiMidiChannel(viewOf(*window.x11).values);
  struct {
    LV2_Atom atom;
    uint8_t bytes[3];
  } message{{3, window.midiEvent},
            {static_cast<uint8_t>((down ? 0x90 : 0x80) | channel), static_cast<uint8_t>(key),
             static_cast<uint8_t>(down ? KeyboardVelocity : 0)}};
  window.write(window.controller, Lv2MidiInPort, sizeof message.atom + sizeof message.bytes,
               window.uris.atomEventTransfer, &message);
}

GuiHost guiHostOf(Lv2Window& window) {
  return {&window, beginGesture, setValue, endGesture, playKey};
}

void askForTrace(Lv2Window& window, bool on) {
  const LV2_Atom_Object message = traceSwitch(window.uris, on);
  window.write(window.controller, Lv2MidiInPort, sizeof message, window.uris.atomEventTransfer,
               &message);
}

const void* feature(const LV2_Feature* const* features, const char* uri) {
  for (; features != nullptr && *features != nullptr; ++features) {
    if (std::strcmp((*features)->URI, uri) == 0) return (*features)->data;
  }
  return nullptr;
}

void cleanup(LV2UI_Handle handle) {
  auto* window = static_cast<Lv2Window*>(handle);
  releaseKeyboard(viewOf(*window->x11), guiHostOf(*window));
  askForTrace(*window, false);
  closeX11Window(window->x11);
  delete window;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor* /*descriptor*/, const char* pluginUri,
                         const char* /*bundlePath*/, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget,
                         const LV2_Feature* const* features) {
  const auto* map = static_cast<const LV2_URID_Map*>(feature(features, LV2_URID__map));
  void* parent = const_cast<void*>(feature(features, LV2_UI__parent));
  if (std::strcmp(pluginUri, Lv2PluginUri) != 0 || map == nullptr || parent == nullptr) {
    return nullptr;
  }
  auto* window = new Lv2Window;
  window->write = write;
  window->controller = controller;
  window->resize = static_cast<const LV2UI_Resize*>(feature(features, LV2_UI__resize));
  window->touch = static_cast<const LV2UI_Touch*>(feature(features, LV2_UI__touch));
  window->uris = mapTraceUris(*map);
  window->midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
  window->x11 = connectX11(guiHostOf(*window));
  if (window->x11 == nullptr) {
    delete window;
    return nullptr;
  }
  const double scale = std::clamp(desktopScale(*window->x11), SmallestScale, LargestScale);
  const auto width = static_cast<int>(std::lround(BaseWidth * scale));
  const auto height = static_cast<int>(std::lround(BaseHeight * scale));
  if (!embedX11Window(*window->x11, reinterpret_cast<uintptr_t>(parent), width, height)) {
    closeX11Window(window->x11);
    delete window;
    return nullptr;
  }
  showX11Window(*window->x11, true);
  if (window->resize != nullptr) window->resize->ui_resize(window->resize->handle, width, height);
  // An X11 UI's widget is its window's id.
  *widget = reinterpret_cast<LV2UI_Widget>(  // NOLINT(performance-no-int-to-ptr)
      static_cast<uintptr_t>(x11WindowId(*window->x11)));
  askForTrace(*window, true);
  return window;
}

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format,
               const void* buffer) {
  auto& window = *static_cast<Lv2Window*>(handle);
  WindowView& view = viewOf(*window.x11);
  std::size_t index = 0;
  if (format == 0 && size == sizeof(float) && parameterOfPort(port, index)) {
    followHostValue(view, index, *static_cast<const float*>(buffer));
    return;
  }
  TraceLevel level;
  const float* pairs = nullptr;
  uint32_t count = 0;
  if (port == Lv2TracePort && format == window.uris.atomEventTransfer && size >= sizeof(LV2_Atom) &&
      tracePointsOf(*static_cast<const LV2_Atom*>(buffer), window.uris, level, pairs, count)) {
    setPointRate(view.history, level.pointRate);
    appendPoints(view.history, pairs, count);
    view.dirty = view.dirty || count > 0;
    followLevel(view, level.peak, level.notePoints, level.voices);
  }
}

int idle(LV2UI_Handle handle) {
  auto& window = *static_cast<Lv2Window*>(handle);
  handleX11Events(*window.x11);
  redrawX11Window(*window.x11, false);
  return 0;
}

// The host resizes the window: the nearest size of the window's aspect.
int resizeWindow(LV2UI_Feature_Handle handle, int width, int height) {
  auto& window = *static_cast<Lv2Window*>(handle);
  const double scale =
      std::clamp(std::min(width / BaseWidth, height / BaseHeight), SmallestScale, LargestScale);
  resizeX11Window(*window.x11, static_cast<int>(std::lround(BaseWidth * scale)),
                  static_cast<int>(std::lround(BaseHeight * scale)));
  return 0;
}

const LV2UI_Idle_Interface IdleInterface = {idle};
const LV2UI_Resize ResizeInterface = {nullptr, resizeWindow};

const void* extensionData(const char* uri) {
  if (std::strcmp(uri, LV2_UI__idleInterface) == 0) return &IdleInterface;
  if (std::strcmp(uri, LV2_UI__resize) == 0) return &ResizeInterface;
  return nullptr;
}

const LV2UI_Descriptor Descriptor = {Lv2UiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
  return index == 0 ? &Descriptor : nullptr;
}
