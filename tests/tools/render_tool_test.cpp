// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the quillfern-render program as a user would and looks at the WAV files it writes.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "engine/envelope.h"
#include "engine/oscillator.h"
#include "engine/voice_controls.h"
#include "instrument/factory_presets.h"
#include "instrument/user_presets.h"
#include "tests/tools/midi_bytes.h"
#include "tools/audio_output.h"

namespace {

namespace fs = std::filesystem;

struct RenderRun {
  int exitCode = -1;
  std::string errors;
};

// As root, permissions would not be checked: renders run as a normal user would run them.
const passwd* normalUser() {
  return ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
}

std::string asNormalUser() {
  return normalUser() != nullptr ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : "";
}

int exitCodeOf(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Sound {
  SF_INFO info{};
  std::vector<float> samples;
};

Sound readSound(const std::filesystem::path& path) {
  Sound sound;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sound.info);
  if (file == nullptr) return sound;
  sound.samples.resize(static_cast<std::size_t>(sound.info.frames));
  sound.samples.resize(
      static_cast<std::size_t>(sf_readf_float(file, sound.samples.data(), sound.info.frames)));
  sf_close(file);
  return sound;
}

double peakOf(const std::vector<float>& samples) {
  double peak = 0.0;
  for (const float sample : samples) peak = std::max(peak, std::fabs(double{sample}));
  return peak;
}

double meanOf(const std::vector<float>& samples) {
  return std::accumulate(samples.begin(), samples.end(), 0.0) / samples.size();
}

class RenderTool : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = fs::temp_directory_path() /
                ("quillfern-render-test-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(directory);
    if (const passwd* user = normalUser()) {
      ASSERT_EQ(::chown(directory.c_str(), user->pw_uid, user->pw_gid), 0);
    }
  }
  void TearDown() override { fs::remove_all(directory); }

  // What the normal user runs or reads, out of a clone that may lie in a folder only root can
  // enter (mktemp -d). The renderer links to system libraries only: its copy runs anywhere.
  fs::path reachableCopy(const fs::path& path) {
    fs::copy_file(path, directory / path.filename());
    fs::permissions(directory / path.filename(), static_cast<fs::perms>(0755));
    return directory / path.filename();
  }

  fs::path writeScore(const std::string& name, const std::string& text) {
    const fs::path path = directory / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  RenderRun run(const fs::path& score, const fs::path& output, const std::string& extra = "") {
    const fs::path errors = directory / "stderr.txt";
    const std::string command = asNormalUser() + QUILLFERN_RENDER + " '" + score.string() +
                                "' -o '" + output.string() + "' " + extra + " 2>'" +
                                errors.string() + "'";
    RenderRun result;
    result.exitCode = exitCodeOf(command);
    std::ifstream stream(errors);
    std::getline(stream, result.errors, '\0');
    return result;
  }

  std::vector<float> renderSamples(const std::string& scoreText, const std::string& extra = "",
                                   const std::string& name = "score.txt") {
    const fs::path output = directory / "out.wav";
    const RenderRun result = run(writeScore(name, scoreText), output, extra);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    return readWav(output);
  }

  static std::vector<float> readWav(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> samples(static_cast<std::size_t>(info.frames));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
  }

  static std::string bytesOf(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
  }

  fs::path directory;
};

// Two notes with a legato change, controls moved between and during them, a close notice and a
// note-on right at a block boundary: events that split blocks in many places.
constexpr const char* BusyScore =
    "0 control 19 60\n"
    "100 midi 90 60 100\n"
    "256 midi 90 64 90   # legato\n"
    "3000 control 17 700\n"
    "3000 control 26 80\n"
    "5000 midi 80 64 0\n"
    "5001 midi 80 60 0\n"
    "6000 control 5 400\n"
    "6001 midi 90 67 100\n"
    "9000 close\n"
    "9100 midi 90 67 0\n"
    "9100 midi 90 55 127\n"
    "12000 control 27 1\n"
    "12000 control 27 0\n"
    "15000 end\n";

TEST_F(RenderTool, OutputIsTheSameForEveryBlockSize) {
  const fs::path score = writeScore("busy.txt", BusyScore);
  std::string reference;
  for (const int block : {1, 64, 256, 4096}) {
    const fs::path output = directory / ("block" + std::to_string(block) + ".wav");
    const RenderRun result = run(score, output, "--block " + std::to_string(block));
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    const std::string bytes = bytesOf(output);
    if (reference.empty()) reference = bytes;
    EXPECT_EQ(bytes, reference) << "block " << block;
  }
  EXPECT_GT(reference.size(), 15000u * 4);
}

// The file holds nothing that changes from run to run: libsndfile's PEAK chunk would carry
// the time of writing, and renders a second apart would differ.
TEST_F(RenderTool, TheFileHoldsNoTimeOfWriting) {
  const fs::path score = writeScore("score.txt", "0 midi 90 69 100\n500 end\n");
  ASSERT_EQ(run(score, directory / "out.wav").exitCode, 0);
  const std::string bytes = bytesOf(directory / "out.wav");
  EXPECT_EQ(bytes.find("PEAK"), std::string::npos);
  EXPECT_EQ(readWav(directory / "out.wav").size(), 500u);
}

TEST_F(RenderTool, OneNoteFromSilenceThroughRelease) {
  const std::vector<float> samples = renderSamples(
      "1000 midi 90 69 100\n"
      "20000 midi 80 69 0\n"
      "90000 end\n");
  ASSERT_EQ(samples.size(), 90000u);
  // Silence before the note, through the 1001 gate-open handover samples and the attack's n = 0.
  for (int frame = 0; frame <= 1000 + 1001; ++frame) ASSERT_EQ(samples[frame], 0.0f) << frame;
  // The attack: the shortest attack peaks within 5 samples, under the fade-in's fifth power.
  EXPECT_NE(samples[2002], 0.0f);
  EXPECT_LT(std::fabs(samples[2002]), 1e-9f);
  float loudest = 0.0f;
  for (int frame = 2002; frame < 20000; ++frame)
    loudest = std::fmax(loudest, std::fabs(samples[frame]));
  EXPECT_GT(loudest, 0.1f);
  // The release of 66150 samples runs out before the end and stays silent.
  for (std::size_t frame = 19999 + 66150; frame < samples.size(); ++frame) {
    ASSERT_EQ(samples[frame], 0.0f) << frame;
  }
  EXPECT_NE(samples[19999 + 60000], 0.0f);
}

// A model that runs away is silent from its first step past the bound: its loudest sample,
// as the level line gives it, is no louder than a bounded model's at that volume, and no
// sample of a high note is infinite.
TEST_F(RenderTool, RunAwayModelsAreNoLouderThanBoundedOnes) {
  const fs::path score = reachableCopy(QUILLFERN_TEST_SCORES "/run_away.score");
  const RenderRun result = run(score, directory / "out.wav");
  double peak = 0;
  ASSERT_EQ(std::sscanf(result.errors.c_str(), "quillfern-render: peak %lf dBFS", &peak), 1)
      << result.errors;
  EXPECT_LE(peak, 20 * std::log10(BoundedModelPeak * volumeAt(30)));
  const std::vector<float> samples = renderSamples("0 midi 90 90 100\n44100 end\n");
  ASSERT_EQ(samples.size(), 44100u);
  for (const float sample : samples) ASSERT_TRUE(std::isfinite(sample));
}

TEST_F(RenderTool, ControlsChangeTheSoundAsTheWindowWould) {
  const std::string note = "0 midi 90 57 100\n30000 end\n";
  const std::vector<float> plain = renderSamples(note);
  const std::vector<float> louder = renderSamples("0 control 26 60\n" + note);
  ASSERT_EQ(plain.size(), louder.size());
  // Volume 60 instead of the start-up 0.3: every sample scales by 0.6 / 0.3 (within rounding).
  for (std::size_t frame = 2100; frame < plain.size(); frame += 97) {
    ASSERT_NEAR(louder[frame], 2.0f * plain[frame], 1e-6f * (1.0f + std::fabs(plain[frame])));
  }
  // The attack slider takes effect at the next note, not during one.
  const std::vector<float> lateAttack =
      renderSamples("0 midi 90 57 100\n10 control 5 2000\n30000 end\n");
  EXPECT_EQ(lateAttack, plain);
}

TEST_F(RenderTool, MalformedScoresNameTheLineAndLeaveNoFile) {
  const struct {
    const char* score;
    const char* message;
  } cases[] = {
      {"0 midi 90 69 100\n5 play\n10 end\n", "score.txt:2: unknown word 'play'"},
      {"# header\n\n0 midi 9G 69\n10 end\n", "score.txt:3: bad status byte '9G'"},
      {"0 midi 70 69 1\n10 end\n", "score.txt:1: status byte 70 is out of range"},
      {"0 midi 90 128 1\n10 end\n", "score.txt:1: data byte 128 is out of range"},
      {"0 midi F0 1 2\n10 end\n", "score.txt:1: system exclusive"},
      {"100 midi 90 69 1\n50 close\n200 end\n", "score.txt:2: frame 50 comes before frame 100"},
      {"0 control 9 1\n10 end\n", "score.txt:1: no control 9"},
      {"0 control 5 2001\n10 end\n", "score.txt:1: value of control 5 2001 is out of range"},
      {"0 control 27 2\n10 end\n", "score.txt:1: value of control 27 2 is out of range"},
      {"0 midi 90 69 100\n", "score.txt:1: the score has no 'end'"},
      {"10 end\n20 close\n", "score.txt:2: nothing may follow 'end'"},
      {"x midi 90 1 1\n10 end\n", "score.txt:1: bad frame 'x'"},
      {"0 close now\n10 end\n", "score.txt:1: too many values for 'close'"},
      {"0 midi\n10 end\n", "score.txt:1: 'midi' needs more values"},
  };
  for (const auto& c : cases) {
    const fs::path output = directory / "never.wav";
    const RenderRun result = run(writeScore("score.txt", c.score), output);
    EXPECT_EQ(result.exitCode, 2) << c.score;
    EXPECT_NE(result.errors.find(std::string(c.message)), std::string::npos)
        << "got: " << result.errors;
    EXPECT_FALSE(fs::exists(output)) << c.score;
  }
}

TEST_F(RenderTool, BadArgumentsAreRefusedInOneLine) {
  const fs::path score = writeScore("score.txt", "10 end\n");
  const struct {
    const char* options;
    const char* message;
  } cases[] = {
      {"--block 0", "--block takes a whole number of frames from 1 to 1048576, not '0'"},
      {"--format ''", "--format takes float, pcm24 or pcm16, not ''"},
      {"--plot ''", "--plot takes a file name, not ''"},
      {"--rate 7999", "--rate takes a whole number of hertz from 8000 to 384000, not '7999'"},
      {"--frobnicate", "unknown option '--frobnicate'"},
      {"--rate", "--rate needs a value"},
      {"again.txt", "unexpected argument 'again.txt'"},
  };
  for (const auto& c : cases) {
    const RenderRun result = run(score, directory / "out.wav", c.options);
    EXPECT_EQ(result.exitCode, 2) << c.options;
    EXPECT_TRUE(result.errors.starts_with("quillfern-render: " + std::string(c.message)))
        << result.errors;
    EXPECT_TRUE(result.errors.ends_with(" (see quillfern-render --help)\n")) << result.errors;
    EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
    EXPECT_FALSE(fs::exists(directory / "out.wav"));
  }
  EXPECT_EQ(std::system((std::string(QUILLFERN_RENDER) + " --help >/dev/null").c_str()), 0);
}

// twoTrackSong() as a text score: the same messages at the same frames, then the port's close
// where the song ends and the render's end after the handover, the 1500 ms release and 0.1 s.
constexpr const char* TwoTrackScore =
    "0 midi C0 5\n"
    "0 midi 90 57 100\n"
    "11484 midi 90 60 100\n"
    "22968 midi 90 57 0\n"
    "27562 midi 91 48 64\n"
    "34453 midi 80 60 0\n"
    "45018 midi 90 64 112\n"
    "56503 midi 80 64 0\n"
    "66150 close\n"
    "137711 end\n";

TEST_F(RenderTool, MidiFileSoundsExactlyLikeItsScore) {
  const std::vector<float> score = renderSamples(TwoTrackScore);
  ASSERT_EQ(score.size(), 137711u);
  EXPECT_EQ(renderSamples(midi_bytes::twoTrackSong(), "", "song.mid"), score);
  // Recognised by its first bytes, whatever its name, and the same for any block size.
  EXPECT_EQ(renderSamples(midi_bytes::twoTrackSong(), "--block 7", "song.bin"), score);
  // The release has run out before the end: the last tenth of a second is silent.
  for (std::size_t frame = score.size() - 4410; frame < score.size(); ++frame) {
    ASSERT_EQ(score[frame], 0.0f) << frame;
  }
  EXPECT_NE(score[56503 + 1001 + 60000], 0.0f);
}

// However the release was set, the song plays on until it has run out: the last tenth of a
// second is silent but for the DC filter's fading tail, and the end is no click.
TEST_F(RenderTool, MidiFilesEndAfterTheReleaseTheVoicePlays) {
  using namespace midi_bytes;
  const std::string song =
      header(0, 1, 96) + track(event(0, bytes({0x90, 57, 100})) + event(192, bytes({0x80, 57, 0})));
  for (const std::string options :
       {"--param release=5", "--preset 'Burst Pad'", "--release 3000"}) {
    const std::vector<float> samples = renderSamples(song, options, "song.mid");
    const std::vector<float> last(samples.end() - 4410, samples.end());
    EXPECT_LT(peakOf(last), 0.005 * peakOf(samples)) << options;
    EXPECT_LT(std::fabs(samples.back()), 1e-4 * peakOf(samples)) << options;
  }
}

// A user's preset plays bit for bit as the factory preset it copies; a damaged one is refused.
TEST_F(RenderTool, PresetFindsTheUsersOwnAfterTheBank) {
  setenv("XDG_DATA_HOME", directory.c_str(), 1);
  fs::create_directories(directory / "quillfern/presets");
  std::ofstream(directory / "quillfern/presets/Mine.qfpreset")
      << presetText("Mine", presetValues(*findFactoryPreset("Chaos")));
  std::ofstream(directory / "quillfern/presets/Broken.qfpreset")
      << "quillfern-preset 1\nname Broken\nr 7\nend\n";
  const std::string song = "0 midi 90 57 100\n30000 end\n";
  EXPECT_EQ(renderSamples(song, "--preset mine"), renderSamples(song, "--preset Chaos"));
  const RenderRun broken =
      run(writeScore("score.txt", song), directory / "out.wav", "--preset Broken");
  EXPECT_NE(broken.exitCode, 0);
  EXPECT_NE(broken.errors.find("r takes a number"), std::string::npos) << broken.errors;
  unsetenv("XDG_DATA_HOME");
}

TEST_F(RenderTool, ChannelOptionPlaysAnotherChannelAndSilenceIsWarnedOf) {
  using namespace midi_bytes;
  const auto note = [](int channel, int key) {
    return event(0, bytes({0x90 | channel, key, 100})) +
           event(9600, bytes({0x80 | channel, key, 0}));
  };
  const std::string channelOne = header(0, 1, 96) + track(note(0, 60));
  const std::string channelThree = header(0, 1, 96) + track(note(2, 60));
  const std::string both = header(1, 2, 96) + track(note(0, 72)) + track(note(2, 60));

  const RenderRun silent = run(writeScore("three.mid", channelThree), directory / "out.wav");
  EXPECT_EQ(silent.exitCode, 0);
  EXPECT_NE(silent.errors.find("no notes on channel 1"), std::string::npos) << silent.errors;
  EXPECT_NE(silent.errors.find("notes on channel 3: play them with --channel 3"), std::string::npos)
      << silent.errors;
  const std::vector<float> silence = readWav(directory / "out.wav");
  EXPECT_TRUE(std::all_of(silence.begin(), silence.end(), [](float s) { return s == 0.0f; }));

  // Channel 3 plays as channel 1 would, and channel 1 is silent in its place.
  const std::vector<float> played = renderSamples(channelOne, "", "one.mid");
  EXPECT_NE(played[20000], 0.0f);
  EXPECT_EQ(renderSamples(channelThree, "--channel 3", "three.mid"), played);
  EXPECT_EQ(renderSamples(both, "--channel 3", "both.mid"), played);
  EXPECT_EQ(run(writeScore("both.mid", both), directory / "out.wav", "--channel 17").exitCode, 2);
}

TEST_F(RenderTool, ListShowsTracksNotesByChannelAndLengthWithoutRendering) {
  using namespace midi_bytes;
  const std::string file =
      header(1, 2, 96) + track(event(0, bytes({0xFF, 0x03, 5}) + "Tempo") + tempo(0, 250000), 192) +
      track(event(0, bytes({0xFF, 0x03, 4}) + "Lead") + event(0, bytes({0x90, 57, 100})) +
            event(0, bytes({0x99, 36, 90})) + event(48, bytes({0x80, 57, 0})) +
            event(0, bytes({0x90, 64, 100})) + event(48, bytes({0x90, 64, 0})));
  const fs::path listing = directory / "listing.txt";
  const RenderRun result = run(writeScore("song.mid", file), directory / "out.wav",
                               "--list >'" + listing.string() + "'");
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(bytesOf(listing),
            (directory / "song.mid").string() +
                ": MIDI file of format 1, 2 tracks, length 0.500 s (22050 frames)\n"
                "track 1 \"Tempo\": no notes\n"
                "track 2 \"Lead\": channel 1, 2 notes from A3 (57) to E4 (64)\n"
                "track 2 \"Lead\": channel 10, 1 note, C2 (36)\n");
  EXPECT_FALSE(fs::exists(directory / "out.wav"));
}

TEST_F(RenderTool, ReadsStandardInputAndRefusesWhatCannotBeRead) {
  const std::string note = "0 midi 90 57 100\n20000 end\n";
  const fs::path output = directory / "out.wav";
  const fs::path song = writeScore("s.txt", note);
  const RenderRun piped = run("-", output, "<'" + song.string() + "'");
  EXPECT_EQ(piped.exitCode, 0) << piped.errors;
  EXPECT_EQ(readWav(output), renderSamples(note));
  fs::remove(output);
  const RenderRun ontoItself = run("-", song, "<'" + song.string() + "'");
  EXPECT_EQ(ontoItself.exitCode, 2);
  EXPECT_NE(ontoItself.errors.find("it is the song being read"), std::string::npos);
  EXPECT_EQ(bytesOf(song), note);
  const std::pair<fs::path, std::string> unreadable[] = {
      {directory, "cannot read " + directory.string() + ": Is a directory"},
      {"/dev/zero", "/dev/zero is larger than 64 MiB"},
  };
  for (const auto& [path, message] : unreadable) {
    const RenderRun result = run(path, output);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.errors.find(message), std::string::npos) << result.errors;
    EXPECT_FALSE(fs::exists(output));
  }
}

TEST_F(RenderTool, ControlOptionsSetTheSlidersBeforeAnythingElse) {
  const std::string note = "0 midi 90 57 100\n0 control 26 60\n30000 midi 80 57 0\n40000 end\n";
  EXPECT_EQ(renderSamples(note, "--volume 20 --a 60 --s 1 --attack 400 --release 300"),
            renderSamples("0 control 26 20\n0 control 20 60\n0 control 27 1\n0 control 5 400\n"
                          "0 control 8 300\n" +
                          std::string(note)));
  // A MIDI file's render lasts as long as the release the option sets: 10 ms here.
  const std::vector<float> shortRelease =
      renderSamples(midi_bytes::twoTrackSong(), "--release 10 --r 80", "song.mid");
  EXPECT_EQ(shortRelease.size(), 66150u + 1001 + 441 + 4410);
  std::string score = TwoTrackScore;
  score.replace(score.find("137711"), 6, std::to_string(shortRelease.size()));
  EXPECT_EQ(shortRelease, renderSamples("0 control 8 10\n0 control 19 80\n" + score));
}

TEST_F(RenderTool, ControlOptionsOutOfRangeAreRefused) {
  const fs::path score = writeScore("score.txt", "0 midi 90 69 1\n10 end\n");
  const struct {
    const char* option;
    const char* message;
  } cases[] = {
      {"--attack 0", "--attack takes a whole number from 1 to 2000, not '0'"},
      {"--release 5001", "--release takes a whole number from 1 to 5000, not '5001'"},
      {"--s 2", "--s takes a whole number from 0 to 1, not '2'"},
      {"--volume loud", "--volume takes a whole number from 1 to 100, not 'loud'"},
      {"--i", "--i needs a value"},
  };
  for (const auto& c : cases) {
    const RenderRun result = run(score, directory / "out.wav", c.option);
    EXPECT_EQ(result.exitCode, 2) << c.option;
    EXPECT_NE(result.errors.find(c.message), std::string::npos) << result.errors;
    EXPECT_FALSE(fs::exists(directory / "out.wav")) << c.option;
  }
}

TEST_F(RenderTool, DamagedMidiFilesNameThePlaceAndLeaveNoFiles) {
  const std::string song = midi_bytes::twoTrackSong();
  const struct {
    std::string file;
    const char* message;
  } cases[] = {
      {song.substr(0, 40), "song.mid: offset 14, track 1: a chunk of 27 bytes runs past the end"},
      {song.substr(0, song.size() - 1), "song.mid: offset 49, track 2: a chunk of 33 bytes"},
      {"0 midi 90 60 1\n10 end\n", "song.mid: offset 0: not a Standard MIDI File"},
  };
  for (const auto& c : cases) {
    const RenderRun result = run(writeScore("song.mid", c.file), directory / "out.wav",
                                 "--plot '" + (directory / "out.svg").string() + "'");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.errors.find(c.message), std::string::npos) << result.errors;
    EXPECT_FALSE(fs::exists(directory / "out.wav"));
    EXPECT_FALSE(fs::exists(directory / "out.svg"));
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(directory)) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"song.mid", "stderr.txt"}));  // no partial files
}

TEST_F(RenderTool, PlotsAreWellFormedPicturesThatLeaveTheSoundAlone) {
  // A name that is not UTF-8 and holds a control character still gives well-formed XML.
  const fs::path song = writeScore("song\x01\xFF.mid", midi_bytes::twoTrackSong());
  const fs::path svg = directory / "song.svg";
  ASSERT_EQ(run(song, directory / "plain.wav").exitCode, 0);
  const RenderRun plotted = run(song, directory / "plotted.wav", "--plot '" + svg.string() + "'");
  ASSERT_EQ(plotted.exitCode, 0) << plotted.errors;
  EXPECT_EQ(bytesOf(directory / "plotted.wav"), bytesOf(directory / "plain.wav"));

  const std::string text = bytesOf(svg);
  const std::string parse =
      "python3 -c 'import sys, xml.dom.minidom as m; "
      "sys.exit(len(m.parse(sys.argv[1]).getElementsByTagName(\"path\")) != 3)' '" +
      svg.string() + "'";
  EXPECT_EQ(std::system(parse.c_str()), 0) << "not XML, or not three traces";
  for (const char* part : {"time (s)", ">output<", ">x<", ">z<", ">A3<", ">E4<", "r = 0.0100"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part;
  }
  EXPECT_LT(text.size(), 200000u);  // traces kept per pixel column, not per sample

  if (std::system("command -v rsvg-convert >/dev/null") != 0) GTEST_SKIP() << "no rsvg-convert";
  const fs::path png = directory / "song.PNG";
  ASSERT_EQ(run(song, directory / "png.wav", "--plot '" + png.string() + "'").exitCode, 0);
  const std::string picture = bytesOf(png);
  ASSERT_GT(picture.size(), 24u);
  EXPECT_EQ(picture.substr(0, 8), "\x89PNG\r\n\x1A\n");
  EXPECT_EQ(picture.substr(16, 8), midi_bytes::bigEndian(1200, 4) + midi_bytes::bigEndian(780, 4));
}

// Short enough to run in a blink, long enough that a check left until after rendering shows.
constexpr const char* TenMinutes = "0 midi 90 57 100\n26460000 end\n";
constexpr const char* HeldNote = "0 midi 90 57 100\n132300 midi 80 57 0\n220500 end\n";

TEST_F(RenderTool, EveryFormatReadsBackWithItsRateLengthAndPeak) {
  const fs::path score = writeScore("score.txt", HeldNote);
  const double peak = peakOf(renderSamples(HeldNote));
  const struct {
    std::string name;
    const char* options;
    int format;
    double tolerance;  // of the peak: the format's step, or what a lossy codec moves it
  } cases[] = {
      {"f.wav", "--format float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.0},
      {std::string(246, 'n') + ".wav", "", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.0},  // the longest
      {"i24.wav", "--format pcm24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1.0 / (1 << 22)},
      {"i16.Wav", "--format pcm16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.0 / (1 << 14)},
      {"SONG.FLAC", "", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1.0 / (1 << 22)},
      {"v.ogg", "", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0.05 * peak},
      {"m.mp3", "", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 0.05 * peak},
  };
  const bool tools = exitCodeOf("command -v sox ffmpeg >/dev/null") == 0;
  for (const auto& c : cases) {
    const fs::path output = directory / c.name;
    const RenderRun result = run(score, output, c.options);
    ASSERT_EQ(result.exitCode, 0) << c.name << result.errors;
    const Sound sound = readSound(output);
    EXPECT_EQ(sound.info.format, c.format) << c.name;
    EXPECT_EQ(sound.info.samplerate, 44100) << c.name;
    EXPECT_EQ(sound.samples.size(), 220500u) << c.name;
    EXPECT_NEAR(peakOf(sound.samples), peak, c.tolerance) << c.name;
    if (!tools || (sound.info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV) continue;
    // sox and ffmpeg read every WAV without a word (ffmpeg's guess that a file without a
    // speaker mask is mono is turned off: it says so for its own plain WAV files too).
    const std::string quiet = " 2>&1 | grep . && exit 1 || exit 0";
    EXPECT_EQ(exitCodeOf("sox -V2 '" + output.string() + "' -n" + quiet), 0) << c.name;
    EXPECT_EQ(exitCodeOf("ffmpeg -nostdin -v warning -guess_layout_max 0 -i '" + output.string() +
                         "' -f null -" + quiet),
              0)
        << c.name;
  }
  // Opus takes no 44100 Hz: without --rate it gets 48000 Hz, the same sound.
  ASSERT_EQ(run(score, directory / "o.opus", "").exitCode, 0);
  const Sound opus = readSound(directory / "o.opus");
  EXPECT_EQ(opus.info.format, SF_FORMAT_OGG | SF_FORMAT_OPUS);
  EXPECT_EQ(opus.info.samplerate, 48000);
  EXPECT_EQ(opus.samples.size(), 240000u);
  // At its default bit rate the codec overshoots the spikes by about a third.
  EXPECT_NEAR(peakOf(opus.samples), peak, 0.4 * peak);
  // The rates below the voice's own that Opus carries: rendered at 48000 Hz and lowered.
  for (const int rate : {8000, 12000, 16000}) {
    const fs::path low = directory / ("low" + std::to_string(rate) + ".opus");
    ASSERT_EQ(run(score, low, "--rate " + std::to_string(rate)).exitCode, 0) << rate;
    const Sound sound = readSound(low);
    EXPECT_EQ(sound.info.samplerate, rate);
    EXPECT_EQ(sound.samples.size(), 220500u * rate / 44100) << rate;
    EXPECT_NEAR(peakOf(sound.samples), peak, 0.4 * peak) << rate;
  }
}

TEST(WavHeader, BecomesRf64PastTheRiffLimitAndReadsBack) {
  const fs::path path = fs::temp_directory_path() / ("wav-header-" + std::to_string(::getpid()));
  const struct {
    SampleFormat sample;
    int64_t frames;
    uint64_t largestRiff;
    int major;
  } cases[] = {
      {SampleFormat::Float, 1000, UINT32_MAX, SF_FORMAT_WAV},
      {SampleFormat::Float, 1000, 4000, SF_FORMAT_RF64},
      {SampleFormat::Pcm24, 1001, UINT32_MAX, SF_FORMAT_WAV},  // odd: a pad byte follows
      {SampleFormat::Pcm24, 1001, 3000, SF_FORMAT_RF64},
      {SampleFormat::Float, (int64_t{1} << 30) + 7, UINT32_MAX, SF_FORMAT_RF64},  // 4 GiB, sparse
  };
  for (const auto& c : cases) {
    const std::string header = wavHeader(c.sample, 44100, c.frames, c.largestRiff);
    const int bytes = c.sample == SampleFormat::Float ? 4 : 3;
    std::ofstream(path, std::ios::binary) << header;
    fs::resize_file(path, header.size() + (c.frames * bytes + 1) / 2 * 2);
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << c.frames << sf_strerror(nullptr);
    sf_close(file);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, c.major) << c.frames;
    EXPECT_EQ(info.frames, c.frames) << c.frames;
  }
  fs::remove(path);
}

TEST_F(RenderTool, LevelLineNormalizeAndDcBlock) {
  const fs::path score = writeScore("score.txt", HeldNote);
  const fs::path output = directory / "out.wav";
  const RenderRun plain = run(score, output);
  const std::vector<float> samples = readSound(output).samples;
  double peak = 0, rms = 0, dc = 0;
  ASSERT_EQ(
      std::sscanf(plain.errors.c_str(),
                  "quillfern-render: peak %lf dBFS, RMS %lf dBFS, DC offset %lf", &peak, &rms, &dc),
      3)
      << plain.errors;
  const double meanSquare =
      std::inner_product(samples.begin(), samples.end(), samples.begin(), 0.0) / samples.size();
  EXPECT_NEAR(peak, 20 * std::log10(peakOf(samples)), 0.005);
  EXPECT_NEAR(rms, 10 * std::log10(meanSquare), 0.005);
  EXPECT_NEAR(dc, meanOf(samples), 0.00005);
  EXPECT_LT(dc, -0.05);  // the model's offset, which --dc-block takes out
  for (const char* format : {"float", "pcm16"}) {
    const RenderRun normalized =
        run(score, output, std::string("--normalize -1 --format ") + format);
    ASSERT_EQ(normalized.exitCode, 0) << normalized.errors;
    EXPECT_NEAR(20 * std::log10(peakOf(readSound(output).samples)), -1.0, 0.01) << format;
  }
  ASSERT_EQ(run(score, output, "--dc-block").exitCode, 0);
  EXPECT_LT(std::fabs(meanOf(readSound(output).samples)), 1e-4);
  // At full volume the peak passes 0 dBFS: float keeps it, integer WAV and FLAC clip it, and
  // the lossy formats keep it too, but their decoders may clip it.
  const struct {
    std::string name;
    const char* options;
    const char* warning;  // nullptr: none
  } cases[] = {
      {"out.wav", "", nullptr},
      {"out.wav", "--format pcm24", "this format clips it"},
      {"out.flac", "", "this format clips it"},
      {"out.ogg", "", "decoders and players may clip it"},
      {"out.mp3", "", "decoders and players may clip it"},
  };
  for (const auto& c : cases) {
    const RenderRun loud = run(score, directory / c.name, std::string("--volume 100 ") + c.options);
    EXPECT_EQ(loud.errors.find("warning") != std::string::npos, c.warning != nullptr)
        << loud.errors;
    if (c.warning != nullptr) {
      EXPECT_NE(loud.errors.find(c.warning), std::string::npos) << loud.errors;
    }
  }
}

std::vector<std::string> namesIn(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(RenderTool, OutputProblemsAreFoundBeforeRenderingAndHarmNothing) {
  const fs::path score = writeScore("score.txt", TenMinutes);
  fs::create_directory(directory / "folder");
  fs::create_directory(directory / "locked");
  fs::permissions(directory / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  writeScore("readonly.wav", "keep");
  fs::permissions(directory / "readonly.wav", fs::perms::owner_read);
  fs::create_hard_link(score, directory / "again.wav");
  fs::create_symlink(score, directory / "alias.svg");
  fs::create_symlink("clash.svg", directory / "dangling.wav");  // a name not yet taken
  const std::string at = directory.string() + "/";
  const struct {
    std::string output;
    std::string extra;
    std::string message;
  } cases[] = {
      {at + "missing/out.wav", "",
       "cannot write " + at + "missing/out.wav: No such file or directory"},
      {at + "folder", "", "cannot write " + at + "folder: Is a directory"},
      {at + "locked/out.wav", "", "cannot write " + at + "locked/out.wav: Permission denied"},
      {at + "readonly.wav", "", "cannot write " + at + "readonly.wav: Permission denied"},
      {at + "again.wav", "", "will not write " + at + "again.wav: it is the song being read"},
      {at + "out.wav", "--plot '" + at + "alias.svg'", "it is the song being read"},
      {at + "out.wav", "--plot '" + at + "folder/../score.txt'", "it is the song being read"},
      {at + "out.wav", "--plot " + at + "out.jpg", "cannot tell the picture format of"},
      {at + "dangling.wav", "--plot '" + at + "folder/../clash.svg'",
       "the sound and the picture cannot both go to"},
      {at + "out.aiff", "", "cannot tell the sound format of"},
      {at + "out.opus", "--rate 44100", "cannot write Opus at 44100 Hz"},
      {at + "out.wav", "--format pcm8", "--format takes float, pcm24 or pcm16, not 'pcm8'"},
  };
  writeScore("stderr.txt", "");
  const std::vector<std::string> before = namesIn(directory);
  for (const auto& c : cases) {
    const RenderRun result = run(score, c.output, c.extra);
    EXPECT_EQ(result.exitCode, 2) << c.output;
    EXPECT_NE(result.errors.find(c.message), std::string::npos) << result.errors;
    EXPECT_EQ(namesIn(directory), before) << c.output;
  }
  EXPECT_EQ(bytesOf(score), TenMinutes);
  EXPECT_EQ(bytesOf(directory / "readonly.wav"), "keep");
}

TEST_F(RenderTool, DevicesPipesAndLinksAreWrittenNeverReplaced) {
  const fs::path score = writeScore("score.txt", HeldNote);
  const std::vector<float> reference = renderSamples(HeldNote);
  const std::string render = asNormalUser() + QUILLFERN_RENDER + " '" + score.string() + "' -o ";
  const fs::path fifo = directory / "fifo.wav";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  fs::permissions(fifo, fs::perms::all);  // past the umask, for the normal user
  const fs::path fromFifo = directory / "from-fifo.wav";
  // A reader that gives up, should the render not write into the FIFO.
  ASSERT_EQ(exitCodeOf("timeout 20 cat '" + fifo.string() + "' >'" + fromFifo.string() + "' & " +
                       render + "'" + fifo.string() + "' 2>/dev/null; wait"),
            0);
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(readSound(fromFifo).samples, reference);
  ASSERT_EQ(
      exitCodeOf(render + "- 2>/dev/null | cat >'" + (directory / "stdout.wav").string() + "'"), 0);
  EXPECT_EQ(readSound(directory / "stdout.wav").samples, reference);
  ASSERT_EQ(run(score, "/dev/null", "--plot /dev/null").exitCode, 0);  // takes any number
  fs::create_symlink("target.wav", directory / "link.wav");
  ASSERT_EQ(run(score, directory / "link.wav").exitCode, 0);
  EXPECT_TRUE(fs::is_symlink(directory / "link.wav"));
  EXPECT_EQ(readSound(directory / "target.wav").samples, reference);

  // Devices only as root, in a mount namespace of our own with a /dev of our own: the
  // machine's devices are never at risk.
  if (::geteuid() != 0 || exitCodeOf("unshare -m true 2>/dev/null") != 0) {
    GTEST_SKIP() << "devices need root and a mount namespace";
  }
  const std::string devices =
      "unshare -m sh -c 'mount -t tmpfs none /dev && mknod -m 666 /dev/null c 1 3 && "
      "mknod -m 666 /dev/full c 1 7 && ln -s /proc/self/fd/1 /dev/stdout && "
      "R=\"" QUILLFERN_RENDER " " +
      score.string() +
      " -o\" && $R /dev/null 2>/dev/null && "
      "{ $R /dev/stdout 2>/dev/null | cat >" +
      (directory / "dev-stdout.wav").string() +
      "; } && "
      "{ $R /dev/full 2>/dev/null; test $? = 2; } && test -c /dev/null && test -c /dev/full && "
      "test -L /dev/stdout'";
  EXPECT_EQ(exitCodeOf(devices), 0);
  EXPECT_EQ(readSound(directory / "dev-stdout.wav").samples, reference);
}

// Shell commands that wait until the render started last ($!) has its two unnamed files open.
constexpr const char* WaitForUnnamedFiles =
    "for i in $(seq 500); do test $(ls -l /proc/$!/fd | grep -c '(deleted)') = 2 && break; "
    "sleep 0.01; done; ";

TEST_F(RenderTool, InterruptedAndSimultaneousRendersLeaveNoLitterAndNoMixture) {
  const fs::path score = writeScore("score.txt", TenMinutes);
  const fs::path output = directory / "out.wav";
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    // Waits for the unnamed files to be open, then interrupts the render.
    const std::string command = asNormalUser() + QUILLFERN_RENDER + " '" + score.string() +
                                "' -o '" + output.string() + "' --plot '" + output.string() +
                                ".svg' & " + WaitForUnnamedFiles + "kill -" +
                                std::to_string(signal) + " $!; wait $!; exit $(( $? - 128 ))";
    EXPECT_EQ(exitCodeOf(command), signal);
    EXPECT_EQ(namesIn(directory), std::vector<std::string>{"score.txt"}) << signal;
  }
  const fs::path other = writeScore("other.txt", "0 midi 90 60 100\n2646000 end\n");
  writeScore("score.txt", "0 midi 90 57 100\n2646000 end\n");
  const std::string render = asNormalUser() + QUILLFERN_RENDER + " -o '" + output.string() + "' ";
  ASSERT_EQ(exitCodeOf(render + "'" + score.string() + "' 2>/dev/null & " + render + "'" +
                       other.string() + "' 2>/dev/null; wait"),
            0);
  const std::vector<float> both = readSound(output).samples;
  ASSERT_EQ(run(other, output).exitCode, 0);
  const std::vector<float> second = readSound(output).samples;
  ASSERT_EQ(run(score, output).exitCode, 0);
  EXPECT_TRUE(both == second || both == readSound(output).samples);
  EXPECT_EQ(namesIn(directory),
            (std::vector<std::string>{"other.txt", "out.wav", "score.txt", "stderr.txt"}));
}

// The picture's folder removed while the sound is rendered: the sound is written, but neither
// target takes its place, and the old sound stays.
TEST_F(RenderTool, ATargetThatCannotBePlacedLeavesEveryOtherAsItWas) {
  const fs::path score = writeScore("score.txt", TenMinutes);
  const fs::path sound = writeScore("out.wav", "old");
  fs::create_directory(directory / "picture");
  for (const fs::path& made : {sound, directory / "picture"}) fs::permissions(made, fs::perms::all);
  const std::string command =
      asNormalUser() + QUILLFERN_RENDER + " '" + score.string() + "' -o '" + sound.string() +
      "' --plot '" + (directory / "picture/p.svg").string() + "' 2>/dev/null & " +
      WaitForUnnamedFiles + "rmdir '" + (directory / "picture").string() + "'; wait $!";
  EXPECT_EQ(exitCodeOf(command), 1);
  EXPECT_TRUE(bytesOf(sound) == "old");  // not printed: it may be the whole render
  EXPECT_EQ(namesIn(directory), (std::vector<std::string>{"out.wav", "score.txt"}));
}

// A day of one held note, the longest render: most of a minute, so that a failure noticed only
// at the end shows. The commands below give up after 20 s, a thousand times what noticing the
// first failure takes.
constexpr const char* ADay = "0 midi 90 57 100\n3810240000 end\n";

TEST_F(RenderTool, TheFirstFailedWriteEndsTheRender) {
  const fs::path score = writeScore("score.txt", HeldNote);
  // Every encoder onto a full device: the WAV header fails before rendering.
  for (const auto& [name, exitCode] : {std::pair{"full.wav", 2},
                                       {"full.flac", 1},
                                       {"full.ogg", 1},
                                       {"full.opus", 1},
                                       {"full.mp3", 1}}) {
    fs::create_symlink("/dev/full", directory / name);
    const RenderRun result = run(score, directory / name);
    EXPECT_EQ(result.exitCode, exitCode) << name;
    EXPECT_NE(result.errors.find("No space left on device"), std::string::npos) << result.errors;
  }
  // Standard output whose reader has gone, and a FIFO of MP3 (written through libsndfile).
  const fs::path day = writeScore("day.txt", ADay);
  const fs::path fifo = directory / "fifo.mp3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  fs::permissions(fifo, fs::perms::all);
  const std::string render = "timeout 20 " + asNormalUser() + QUILLFERN_RENDER + " '" +
                             day.string() + "' 2>'" + (directory / "stderr.txt").string() + "' -o ";
  const std::string code = " echo $? >'" + (directory / "code").string() + "'";
  for (const std::string& command : {"{ " + render + "-;" + code + "; } | head -c 200 >/dev/null",
                                     "head -c 300 '" + fifo.string() + "' >/dev/null & " + render +
                                         "'" + fifo.string() + "';" + code + "; wait"}) {
    ASSERT_EQ(exitCodeOf(command), 0);
    EXPECT_EQ(bytesOf(directory / "code"), "1\n") << command;
    EXPECT_NE(bytesOf(directory / "stderr.txt").find("Broken pipe"), std::string::npos) << command;
  }
}

TEST_F(RenderTool, ClosedStandardStreamsNeverReceiveTheSound) {
  const fs::path score = writeScore("score.txt", "10000 end\n");  // silent: --normalize says so
  const fs::path output = directory / "out.wav";
  ASSERT_EQ(run(score, output, "--normalize -1").exitCode, 0);
  const std::string reference = bytesOf(output);
  fs::remove(output);
  ASSERT_EQ(exitCodeOf(asNormalUser() + QUILLFERN_RENDER + " '" + score.string() + "' -o '" +
                       output.string() + "' --normalize -1 2>&-"),
            0);
  EXPECT_EQ(bytesOf(output), reference);
  // "-" for a standard output closed at the start is refused before rendering.
  const RenderRun closed = run(score, "-", "--plot '" + output.string() + ".svg' >&-");
  EXPECT_EQ(closed.exitCode, 2);
  EXPECT_NE(closed.errors.find("standard output is closed"), std::string::npos) << closed.errors;
}

TEST_F(RenderTool, EmptyRendersGiveValidFilesOrAreRefused) {
  const fs::path score = writeScore("score.txt", "0 end\n");
  const bool ffprobe = exitCodeOf("command -v ffprobe >/dev/null") == 0;
  for (const auto& [name, written] : {std::pair{"empty.wav", true},
                                      {"empty.flac", true},
                                      {"empty.ogg", true},
                                      {"empty.opus", false},
                                      {"empty.mp3", false}}) {
    const fs::path output = directory / name;
    const RenderRun result = run(score, output);
    if (!written) {
      EXPECT_EQ(result.exitCode, 2) << name;
      EXPECT_NE(result.errors.find("has no valid file without sound"), std::string::npos)
          << result.errors;
      EXPECT_FALSE(fs::exists(output)) << name;
      continue;
    }
    EXPECT_EQ(result.exitCode, 0) << name << result.errors;
    SF_INFO info{};
    SNDFILE* file = sf_open(output.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << name << ": " << sf_strerror(nullptr);
    float sample = 0.0f;
    EXPECT_EQ(sf_readf_float(file, &sample, 1), 0) << name;
    sf_close(file);
    if (ffprobe) {
      EXPECT_EQ(exitCodeOf("ffprobe -v error '" + output.string() + "'"), 0) << name;
    }
  }
}

TEST_F(RenderTool, EchoedNamesShowTheirInvisibleCharacters) {
  using namespace midi_bytes;
  const std::string override = "\xE2\x80\xAE";  // U+202E, which reverses the rest of the line
  const fs::path song = writeScore(
      "song.mid", header(0, 1, 96) + track(event(0, bytes({0xFF, 0x03, 7}) + override + "evil")));
  const std::string escape = "\x1B[31m";
  const struct {
    std::string song;
    std::string output;
    std::string extra;
    std::string shown;
  } cases[] = {
      {song, (directory / (escape + "missing") / "out.wav").string(), "", "<0x1B>[31mmissing"},
      {(directory / (escape + "song.txt")).string(), (directory / "out.wav").string(), "",
       "cannot read " + directory.string() + "/<0x1B>[31msong.txt"},
      {song, (directory / "out.wav").string(), "--list", "track 1 \"<U+202E>evil\""},
      {song, (directory / (override + "x.aiff")).string(), "", "<U+202E>x.aiff"},
  };
  for (const auto& c : cases) {
    const RenderRun result =
        run(c.song, c.output, c.extra + " >'" + (directory / "stdout.txt").string() + "'");
    const std::string shown = result.errors + bytesOf(directory / "stdout.txt");
    EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
    EXPECT_EQ(shown.find(escape), std::string::npos) << shown;
    EXPECT_EQ(shown.find(override), std::string::npos) << shown;
  }
}

// A 64 MiB MIDI file, the largest read, of one track of notes in running status, written
// piece by piece: a child process is charged with its parent's peak of memory. Returns the
// number of notes.
int64_t writeLargestMidiFile(const fs::path& path) {
  using namespace midi_bytes;
  const std::string first = bytes({0, 0x90, 60, 100});
  const std::string notes = bytes({0, 60, 100, 0, 60, 0, 0, 62, 100, 1, 62, 0});  // two
  const std::string end = bytes({0, 0xFF, 0x2F, 0});
  const std::string head = header(0, 1, 96);
  const std::size_t units =
      ((std::size_t{64} << 20) - head.size() - 8 - first.size() - end.size()) / notes.size();
  std::ofstream file(path, std::ios::binary);
  file << head << "MTrk"
       << bigEndian(static_cast<uint32_t>(first.size() + units * notes.size() + end.size()), 4)
       << first;
  for (std::size_t unit = 0; unit < units; ++unit) file << notes;
  file << end;
  return 1 + 2 * static_cast<int64_t>(units);
}

TEST_F(RenderTool, ListingTheLargestMidiFileNeedsMemoryInProportionToIt) {
#ifdef QUILLFERN_SANITIZED
  GTEST_SKIP() << "a sanitizer's own memory would be measured";
#endif
  const fs::path song = directory / "big.mid";
  const int64_t notes = writeLargestMidiFile(song);
  ASSERT_LE(fs::file_size(song), std::size_t{64} << 20);
  const fs::path listing = directory / "listing.txt";
  const RenderRun result = run(song, directory / "out.wav", "--list >'" + listing.string() + "'");
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_NE(bytesOf(listing).find("channel 1, " + std::to_string(notes) + " notes"),
            std::string::npos)
      << bytesOf(listing);
  rusage usage{};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss * 1024, 2 * static_cast<long>(fs::file_size(song)));  // kilobytes
}

TEST_F(RenderTool, FoldersDeeperThanPathMaxAreWrittenRelativeToThemselves) {
  const fs::path score = writeScore("score.txt", HeldNote);
  const std::string folder(100, 'd');
  // 45 folders of 100 characters: past PATH_MAX (4096). Made and removed by bash, whose mkdir,
  // cd and rm work step by step.
  const std::string render =
      reachableCopy(QUILLFERN_RENDER).string() + " " + score.string() + " -o ";
  const std::string commands =
      "cd " + directory.string() + " && for i in $(seq 45); do mkdir " + folder + " && cd " +
      folder + " || exit 9; done && test $(pwd | wc -c) -gt 4500 && " + render + "out.wav && " +
      render + "out.wav --plot out.svg && " + render + "out.wav && test -s out.svg && ls -A";
  const fs::path listing = directory / "listing.txt";
  EXPECT_EQ(
      exitCodeOf(asNormalUser() + "bash -c '" + commands + "' >" + listing.string() + " 2>&1"), 0)
      << bytesOf(listing);
  EXPECT_TRUE(bytesOf(listing).ends_with("out.svg\nout.wav\n")) << bytesOf(listing);
  ASSERT_EQ(exitCodeOf("rm -rf " + (directory / folder).string()), 0);
}

}  // namespace
