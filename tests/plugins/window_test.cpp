// SPDX-License-Identifier: GPL-3.0-or-later
// The plugins' window apart from any window system: drawn offscreen for a fixed parameter state
// and scope buffer against committed reference images (QUILLFERN_UPDATE_REFERENCES=1 writes
// them anew), and the player's gestures as the host receives them.
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/render.h"
#include "engine/voice.h"
#include "instrument/instrument_voice.h"
#include "instrument/user_presets.h"
#include "midi/instrument_messages.h"
#include "midi/midi_messages.h"
#include "plugins/gui/gui_parameters.h"
#include "plugins/gui/window_draw.h"
#include "plugins/gui/window_view.h"

namespace {

// The user's presets in a folder of the test's own, empty at first.
std::string usePresetFolderOfOwn() {
  std::string folder = std::string(QUILLFERN_ARTIFACTS) + "/window-presets-XXXXXX";
  EXPECT_NE(mkdtemp(folder.data()), nullptr);
  setenv("XDG_DATA_HOME", folder.c_str(), 1);
  return folder + "/quillfern/presets";
}

float peakOf(const std::vector<float>& sound) {
  float peak = 0.0f;
  for (const float sample : sound) peak = std::max(peak, std::fabs(sample));
  return peak;
}

// The view after `seconds` of `note` held at the start-up settings or `preset`'s in Key mode,
// its trace at 44100 Hz.
WindowView viewOfHeldNote(uint8_t note, double seconds, const GuiPreset& preset = {}) {
  WindowView view = makeWindowView();
  auto voice = std::make_unique<EngineState>();
  startVoice(*voice, DefaultSampleRate);
  if (!preset.values.empty()) {
    ParameterValues values = defaultValues();
    for (std::size_t index = 0; index < ParameterCount; ++index) {
      if (!std::isnan(preset.values[index])) values.value[index] = preset.values[index];
    }
    values.value[parameterIndexOfId(PitchSetting)] = 1.0;  // Key
    std::copy(values.value, values.value + ParameterCount, view.values.begin());
    startVoiceWith(*voice, DefaultSampleRate, values);
  }
  handleMidiNotice(*voice, MidiDataNotice, packShortMessage(0x90, note, 100));
  setPointRate(view.history, DefaultSampleRate);
  std::vector<float> sound(4096);
  std::vector<float> points(2 * sound.size());
  ModelTrace trace{points.data(), static_cast<uint32_t>(sound.size() - 1), 0, 1, 1};
  for (double done = 0; done < seconds * DefaultSampleRate; done += sound.size()) {
    trace.written = 0;
    renderFramesTraced(*voice, sound.data(), sound.size(), trace);
    appendPoints(view.history, points.data(), trace.written);
    followLevel(view, peakOf(sound), static_cast<uint32_t>(voice->noteSamples), 1);
  }
  return view;
}

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;

// The part `region` (in the layout's units) of the window drawn.
Surface drawnPart(const WindowView& view, const Rect& region) {
  Surface whole(renderWindowImage(view), cairo_surface_destroy);
  const double scale = viewScale(view);
  Surface part(cairo_image_surface_create(CAIRO_FORMAT_ARGB32,
                                          static_cast<int>(std::lround(region.width * scale)),
                                          static_cast<int>(std::lround(region.height * scale))),
               cairo_surface_destroy);
  cairo_t* cairo = cairo_create(part.get());
  cairo_set_source_surface(cairo, whole.get(), -std::round(region.x * scale),
                           -std::round(region.y * scale));
  cairo_paint(cairo);
  cairo_destroy(cairo);
  return part;
}

// Pixels differ where any channel differs by more than a font's anti-aliasing may; a few may.
void expectLooksLike(const WindowView& view, const std::string& name,
                     const Rect& region = {0, 0, BaseWidth, BaseHeight}) {
  const std::string path = std::string(QUILLFERN_WINDOW_REFERENCES) + "/" + name;
  Surface drawn = drawnPart(view, region);
  std::string artifact = std::string(QUILLFERN_ARTIFACTS) + "/" + name;
  cairo_surface_write_to_png(drawn.get(), artifact.c_str());
  if (std::getenv("QUILLFERN_UPDATE_REFERENCES") != nullptr) {
    ASSERT_EQ(cairo_surface_write_to_png(drawn.get(), path.c_str()), CAIRO_STATUS_SUCCESS);
  }
  Surface reference(cairo_image_surface_create_from_png(path.c_str()), cairo_surface_destroy);
  ASSERT_EQ(cairo_surface_status(reference.get()), CAIRO_STATUS_SUCCESS) << path;
  const int width = cairo_image_surface_get_width(drawn.get());
  const int height = cairo_image_surface_get_height(drawn.get());
  ASSERT_EQ(cairo_image_surface_get_width(reference.get()), width);
  ASSERT_EQ(cairo_image_surface_get_height(reference.get()), height);
  const unsigned char* ours = cairo_image_surface_get_data(drawn.get());
  const unsigned char* theirs = cairo_image_surface_get_data(reference.get());
  const int stride = cairo_image_surface_get_stride(drawn.get());
  int differing = 0;
  for (int row = 0; row < height; ++row) {
    for (int byte = 0; byte < width * 4; ++byte) {
      const int at = row * stride + byte;
      if (std::abs(ours[at] - theirs[at]) > 48) ++differing;
    }
  }
  EXPECT_LE(differing, width * height / 500) << "drawn: " << artifact << ", reference: " << path;
}

TEST(WindowDrawing, LooksLikeTheReferenceImages) {
  usePresetFolderOfOwn();
  WindowView bursting = viewOfHeldNote(57, 2.5);
  bursting.values[4] = 3.4;    // I
  bursting.values[15] = 1.0;   // note mode: last key
  bursting.values[16] = 0.08;  // glide
  bursting.hovered = {TargetKind::Control, 6};
  bursting.timeScale = 3;
  expectLooksLike(bursting, "window-bursting.png");
  WindowView ranAway = viewOfHeldNote(90, 0.5);
  resizeView(ranAway, BaseWidth * 1.5, BaseHeight * 1.5);
  ranAway.entry = {true, false, 1, "25O ms", false, true};
  ranAway.presetMenuOpen = true;
  expectLooksLike(ranAway, "window-run-away.png");
  // A note's first 0.2 s, loud enough to clip, after the bank's Chaos was chosen.
  WindowView settling = viewOfHeldNote(57, 0.2);
  const GuiHost quiet{nullptr, [](void*, std::size_t) {}, [](void*, std::size_t, double) {},
                      [](void*, std::size_t) {}};
  const Rect button = presetButtonRect();
  pointerPressed(settling, quiet, button.x + 5, button.y + 5, LeftButton, 0);
  const Rect chaos = presetItemRect(6);
  pointerPressed(settling, quiet, chaos.x + 5, chaos.y + 5, LeftButton, 100);
  followLevel(settling, 1.6f, settling.notePoints, 1);
  followLevel(settling, 0.7f, settling.notePoints, 1);
  expectLooksLike(settling, "window-settling.png");
}

// At scales 1 and 2: the name of each factory preset loaded by the host, a changed one with its
// mark beside the meter at clip, and Regular Spikes' held A3 settling and then settled.
class WindowParts : public testing::TestWithParam<double> {};

TEST_P(WindowParts, LookLikeTheReferenceImages) {
  usePresetFolderOfOwn();
  const double scale = GetParam();
  const std::string suffix = scale == 1.0 ? "-1x.png" : "-2x.png";
  const Rect header{presetStepRect(-1).x, 0, saveButtonRect().x - presetStepRect(-1).x, 42};
  const std::vector<GuiPreset> presets = guiPresets();
  const auto load = [&](WindowView& view, const GuiPreset& preset) {
    for (std::size_t index = 0; index < view.values.size(); ++index) {
      if (!std::isnan(preset.values[index])) followHostValue(view, index, preset.values[index]);
    }
  };
  for (std::size_t index = 0; index < guiFactoryPresetCount(); ++index) {
    WindowView view = makeWindowView();
    resizeView(view, BaseWidth * scale, BaseHeight * scale);
    load(view, presets[index]);
    expectLooksLike(view, "preset-" + std::to_string(index) + suffix, header);
  }
  WindowView changed = makeWindowView();
  resizeView(changed, BaseWidth * scale, BaseHeight * scale);
  load(changed, presets[1]);
  followHostValue(changed, 4, 3.0);
  followLevel(changed, 1.4f, 0, 1);
  expectLooksLike(changed, "changed-at-clip" + suffix,
                  {meterRect().x - 10, 0, BaseWidth - meterRect().x + 10, 42});
  for (const double seconds : {0.4, 1.5}) {
    WindowView held = viewOfHeldNote(57, seconds, presets[0]);
    resizeView(held, BaseWidth * scale, BaseHeight * scale);
    expectLooksLike(held, "regime-after-" + std::to_string(std::lround(10 * seconds)) + suffix,
                    regimeRect());
  }
}

INSTANTIATE_TEST_SUITE_P(AtTwoScales, WindowParts, testing::Values(1.0, 2.0));

// No mark of a value crosses a letter of its control's text: at the lowest, middle and highest
// value of every control, at two scales, no pixel of the mark's colour lies in the rows that
// hold the control's text.
TEST(WindowDrawing, NoMarkCrossesItsControlsText) {
  usePresetFolderOfOwn();
  const auto near = [](const unsigned char* pixel, int red, int green, int blue) {
    return std::abs(pixel[2] - red) < 12 && std::abs(pixel[1] - green) < 12 &&
           std::abs(pixel[0] - blue) < 12;
  };
  for (const double scale : {1.0, 2.0}) {
    for (const double place : {0.0, 0.5, 1.0}) {
      WindowView view = makeWindowView();
      resizeView(view, BaseWidth * scale, BaseHeight * scale);
      for (std::size_t index = 0; index < guiParameterCount(); ++index) {
        view.values[index] = guiValueAt(index, place);
      }
      Surface drawn(renderWindowImage(view), cairo_surface_destroy);
      const unsigned char* data = cairo_image_surface_get_data(drawn.get());
      const int stride = cairo_image_surface_get_stride(drawn.get());
      for (std::size_t index = 0; index < guiParameterCount(); ++index) {
        const Rect rect = controlRect(index);
        const auto pixel = [&](int x, int y) { return data + y * stride + 4 * x; };
        const auto [left, right] = std::pair{static_cast<int>(std::ceil(rect.x * scale)),
                                             static_cast<int>((rect.x + rect.width) * scale)};
        std::vector<int> inkRows;
        std::vector<int> markRows;
        for (int y = static_cast<int>(std::ceil(rect.y * scale));
             y < static_cast<int>((rect.y + rect.height) * scale); ++y) {
          for (int x = left; x < right; ++x) {
            const unsigned char* at = pixel(x, y);
            if (at[0] > 170 && at[1] > 170 && at[2] > 170) inkRows.push_back(y);
            if (near(at, 63, 193, 201)) markRows.push_back(y);  // the mark's colour
          }
        }
        if (inkRows.empty() || markRows.empty()) continue;
        EXPECT_LT(*std::max_element(inkRows.begin(), inkRows.end()),
                  *std::min_element(markRows.begin(), markRows.end()))
            << guiParameterName(index) << " at " << place << ", scale " << scale;
      }
    }
  }
}

// What no host should send (a NaN for every port, an infinite point rate) still draws.
TEST(WindowDrawing, NonFiniteValuesDraw) {
  WindowView view = viewOfHeldNote(57, 0.1);
  setPointRate(view.history, INFINITY);
  std::fill(view.values.begin(), view.values.end(), NAN);
  Surface drawn(renderWindowImage(view), cairo_surface_destroy);
  EXPECT_EQ(cairo_surface_status(drawn.get()), CAIRO_STATUS_SUCCESS);
}

// What the host hears of the window: every gesture as a begin, values and an end.
struct HostLog {
  std::vector<std::string> events;
  static void begin(void* log, std::size_t index) {
    static_cast<HostLog*>(log)->events.push_back("begin " + std::to_string(index));
  }
  // The value as the host shows it, in the parameter's unit.
  static void set(void* log, std::size_t index, double value) {
    char text[32];
    guiValueText(index, value, text, sizeof text);
    static_cast<HostLog*>(log)->events.push_back(std::to_string(index) + "=" + text);
  }
  static void end(void* log, std::size_t index) {
    static_cast<HostLog*>(log)->events.push_back("end " + std::to_string(index));
  }
  static void key(void* log, int32_t key, bool down) {
    static_cast<HostLog*>(log)->events.push_back("key " + std::to_string(key) +
                                                 (down ? " down" : " up"));
  }
};

std::vector<std::string> gestures(WindowView& view,
                                  const std::function<void(WindowView&, const GuiHost&)>& play) {
  HostLog log;
  const GuiHost host{&log, HostLog::begin, HostLog::set, HostLog::end, HostLog::key};
  play(view, host);
  return log.events;
}

// Where a parameter's control is, in pixels of a window at twice the base size.
std::pair<double, double> at(std::size_t parameter, double across) {
  const Rect rect = controlRect(parameter);
  return {2 * (rect.x + rect.width * across), 2 * (rect.y + rect.height / 2)};
}

TEST(WindowGestures, ReachTheHostAsBeginValuesEnd) {
  usePresetFolderOfOwn();
  using Log = std::vector<std::string>;
  WindowView view = makeWindowView();
  resizeView(view, 2 * BaseWidth, 2 * BaseHeight);
  // Volume (index 8, 1 % to 100 %, at 30 %): a drag of a tenth of the width, then the same finely.
  EXPECT_EQ(gestures(view,
                     [](WindowView& v, const GuiHost& h) {
                       const auto [x, y] = at(8, 0.5);
                       const double tenth = controlRect(8).width * 2 / 10;
                       pointerPressed(v, h, x, y, LeftButton, 1000);
                       pointerMoved(v, h, x + tenth, y, 0);
                       pointerMoved(v, h, x + 2 * tenth, y, FineModifier);
                       pointerReleased(v, h);
                     }),
            (Log{"begin 8", "8=39.9 %", "8=40.9 %", "end 8"}));
  // A double click puts it back to its default; a click on a switch's other value takes it.
  EXPECT_EQ(gestures(view,
                     [](WindowView& v, const GuiHost& h) {
                       const auto [x, y] = at(8, 0.5);
                       pointerPressed(v, h, x, y, LeftButton, 5000);
                       pointerReleased(v, h);
                       pointerPressed(v, h, x, y, LeftButton, 5200);
                       pointerReleased(v, h);
                       const auto [sx, sy] = at(9, 0.5);
                       pointerPressed(v, h, sx, sy, LeftButton, 9000);
                     }),
            (Log{"begin 8", "end 8", "begin 8", "8=30 %", "end 8", "begin 9", "9=2.8", "end 9"}));
  // The wheel: a hundredth of I's range a notch, a thousandth with Shift; on the scope
  // it changes the time scale and nothing of the sound.
  EXPECT_EQ(gestures(view,
                     [](WindowView& v, const GuiHost& h) {
                       const auto [x, y] = at(4, 0.5);
                       wheelTurned(v, h, x, y, 2, 0);
                       wheelTurned(v, h, x, y, -1, FineModifier);
                       const Rect scope = scopeRect();
                       wheelTurned(v, h, 2 * scope.x + 50, 2 * scope.y + 100, 1, 0);
                     }),
            (Log{"begin 4", "4=3.080", "end 4", "begin 4", "4=3.076", "end 4"}));
  EXPECT_EQ(view.timeScale, 1u);
  // A typed value: refused text stays for mending, a value that reads is taken.
  EXPECT_EQ(gestures(view,
                     [](WindowView& v, const GuiHost& h) {
                       const auto [x, y] = at(1, 0.5);
                       pointerPressed(v, h, x, y, RightButton, 20000);
                       keyPressed(v, h, EditKey::Text, "x");
                       keyPressed(v, h, EditKey::Enter, "");
                       keyPressed(v, h, EditKey::Backspace, "");
                       keyPressed(v, h, EditKey::Text, "25");
                       keyPressed(v, h, EditKey::Text, "0 ms");
                       keyPressed(v, h, EditKey::Enter, "");
                     }),
            (Log{"begin 1", "1=250 ms", "end 1"}));
  EXPECT_FALSE(view.entry.open);
  // A preset of the factory bank sets every parameter of the sound through the host, each as a
  // gesture of its own, and leaves those not to automate (the MIDI channel, the note start) as
  // they were.
  const std::vector<std::string> preset = gestures(view, [](WindowView& v, const GuiHost& h) {
    const Rect button = presetButtonRect();
    pointerPressed(v, h, 2 * button.x + 10, 2 * button.y + 10, LeftButton, 30000);
    const Rect item = presetItemRect(guiFactoryPresetCount() - 1);
    pointerPressed(v, h, 2 * item.x + 10, 2 * item.y + 10, LeftButton, 31000);
  });
  const std::vector<double> wanted = view.presets[guiFactoryPresetCount() - 1].values;
  EXPECT_EQ(preset.size(),
            3 * static_cast<std::size_t>(std::count_if(wanted.begin(), wanted.end(),
                                                       [](double v) { return !std::isnan(v); })));
  for (std::size_t index = 0; index < wanted.size(); ++index) {
    EXPECT_EQ(view.values[index],
              std::isnan(wanted[index]) ? guiDefaultValue(index) : wanted[index])
        << index;
  }
  // While the player drags a control, the host's value of it does not pull it back.
  gestures(view, [](WindowView& v, const GuiHost& h) {
    const auto [px, py] = at(6, 0.5);
    pointerPressed(v, h, px, py, LeftButton, 40000);
    pointerMoved(v, h, px + 100, py, 0);
  });
  const double dragged = view.values[6];
  followHostValue(view, 6, 0.2);
  followHostValue(view, 7, 2.5);
  EXPECT_EQ(view.values[6], dragged);
  EXPECT_EQ(view.values[7], 2.5);
  // The keyboard strip, the drag above still held: A3, then C#4 an octave up, each let go
  // before the next sounds.
  EXPECT_EQ(gestures(view,
                     [](WindowView& v, const GuiHost& h) {
                       const auto press = [&](const Rect& r) {
                         pointerPressed(v, h, 2 * r.x + 4, 2 * (r.y + r.height) - 4, LeftButton,
                                        50000);
                       };
                       press(keyRect(9));
                       press(octaveButtonRect(1));
                       press(keyRect(1));
                       pointerReleased(v, h);
                     }),
            (Log{"key 57 down", "key 57 up", "key 61 down", "key 61 up", "end 6"}));
}

// A sound saved as the user's preset loads back bit for bit, in the window and the renderer, is
// marked once changed, and a damaged file is refused, changing nothing.
TEST(WindowPresets, SaveLoadBackAndRefuseDamagedFiles) {
  const std::string folder = usePresetFolderOfOwn();
  WindowView view = makeWindowView();
  EXPECT_EQ(presetShownName(view), "Start-up Neuron");
  const auto click = [](const Rect& rect) {
    return [rect](WindowView& v, const GuiHost& h) {
      pointerPressed(v, h, rect.x + 5, rect.y + 5, LeftButton, 0);
    };
  };
  followHostValue(view, 4, 3.123456789012345);
  followHostValue(view, 6, 0.0012345678901234);
  EXPECT_EQ(presetShownName(view), "Start-up Neuron *");
  const std::vector<double> saved = view.values;
  gestures(view, click(saveButtonRect()));
  keyPressed(view, GuiHost{}, EditKey::Enter, "");
  EXPECT_EQ(presetShownName(view), "My sound 1") << view.message;
  std::ofstream(folder + "/Broken.qfpreset") << "quillfern-preset 1\nname Broken\nb 99\nend\n";
  followHostValue(view, 4, 2.0);
  EXPECT_EQ(presetShownName(view), "My sound 1 *");
  gestures(view, click(presetButtonRect()));
  const std::size_t user = guiFactoryPresetCount();
  ASSERT_EQ(view.presets.size(), user + 2);
  EXPECT_EQ(gestures(view, click(presetItemRect(user))), std::vector<std::string>{});
  EXPECT_NE(view.message.find("b takes a number"), std::string::npos) << view.message;
  EXPECT_EQ(view.values[4], 2.0);
  gestures(view, click(presetButtonRect()));
  gestures(view, click(presetItemRect(user + 1)));
  EXPECT_EQ(view.values, saved);
  EXPECT_EQ(presetShownName(view), "My sound 1");
  const UserPreset found = findUserPreset("MY SOUND 1");
  ASSERT_TRUE(found.readable);
  EXPECT_TRUE(std::equal(saved.begin(), saved.end(), found.values.value,
                         [](double a, double b) { return std::isnan(a) || a == b; }));
  // The next preset from the last is the bank's first, past the damaged file.
  gestures(view, click(presetStepRect(1)));
  EXPECT_EQ(presetShownName(view), "Regular Spikes");
}

// Every factory preset's A3 held 4 s in Key mode, the window following it block by block: once
// the read-out stops settling it names the regime the bank's own measure finds in the whole held
// sound, and a periodic one sounds A3 within 3 cents, as measured on the points it played.
TEST(WindowRegime, NamesNoWrongRegimeOrPitchAfterSettling) {
  usePresetFolderOfOwn();
  EXPECT_EQ(pitchName(220.0 * std::exp2(-2.0 / 1200.0)), "A3 \u22122 \u00A2");
  EXPECT_EQ(pitchName(16.35 * std::exp2(61.0 / 1200.0)), "C\u266F0 \u221239 \u00A2");
  constexpr uint32_t Block = 2205;  // 50 ms
  const std::vector<GuiPreset> presets = guiPresets();
  for (std::size_t index = 0; index < guiFactoryPresetCount(); ++index) {
    SCOPED_TRACE(presets[index].name);
    WindowView view = makeWindowView();
    setPointRate(view.history, DefaultSampleRate);
    ParameterValues values = defaultValues();
    for (std::size_t parameter = 0; parameter < ParameterCount; ++parameter) {
      if (!std::isnan(presets[index].values[parameter])) {
        values.value[parameter] = view.values[parameter] = presets[index].values[parameter];
      }
    }
    values.value[parameterIndexOfId(PitchSetting)] = 1.0;  // Key
    auto voice = std::make_unique<EngineState>();
    startVoiceWith(*voice, DefaultSampleRate, values);
    playInstrumentMessage(*voice, packShortMessage(0x90, 57, 127));
    std::vector<float> sound(Block);
    constexpr uint32_t Slots =
        4096;  // a power of two over a block's points, as a ring's mask needs
    std::vector<float> points(2 * Slots);
    std::vector<float> held;
    std::vector<std::string> shown;
    RegimeReading reading;
    for (int32_t block = 0; block < 80; ++block) {
      ModelTrace trace{points.data(), Slots - 1, 0, 1, 1};
      renderFramesTraced(*voice, sound.data(), Block, trace);
      appendPoints(view.history, points.data(), trace.written);
      for (uint32_t point = 0; point < trace.written; ++point) held.push_back(points[2 * point]);
      followLevel(view, 0.0f, static_cast<uint32_t>(voice->noteSamples), 1);
      std::vector<float> x;
      std::vector<float> z;
      latestPoints(view.history, HistorySeconds, x, z);
      reading = readRegime(view, x);
      if (!reading.settling) shown.emplace_back(regimeName(reading.regime));
    }
    const auto attack =
        static_cast<std::size_t>(settledAfterSeconds(view.values) * DefaultSampleRate);
    const std::string measured = regimeName(regimeOf(std::span(held).subspan(attack)));
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(std::count(shown.begin(), shown.end(), measured), std::ssize(shown)) << measured;
    if (reading.regime == ModelRegime::Spiking || reading.regime == ModelRegime::Bursting) {
      EXPECT_NEAR(1200.0 * std::log2(reading.frequency / 220.0), 0.0, 3.0);
    }
  }
}

}  // namespace
