// Runs the quillfern-render program as a user would and looks at the WAV files it writes.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/envelope.h"

namespace {

namespace fs = std::filesystem;

struct RenderRun {
  int exitCode = -1;
  std::string errors;
};

class RenderTool : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = fs::temp_directory_path() /
                ("quillfern-render-test-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(directory);
  }
  void TearDown() override { fs::remove_all(directory); }

  fs::path writeScore(const std::string& name, const std::string& text) {
    const fs::path path = directory / name;
    std::ofstream(path) << text;
    return path;
  }

  RenderRun run(const fs::path& score, const fs::path& output, const std::string& extra = "") {
    const fs::path errors = directory / "stderr.txt";
    const std::string command = std::string(QUILLFERN_RENDER) + " '" + score.string() + "' -o '" +
                                output.string() + "' " + extra + " 2>'" + errors.string() + "'";
    const int status = std::system(command.c_str());
    RenderRun result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream stream(errors);
    std::getline(stream, result.errors, '\0');
    return result;
  }

  std::vector<float> renderSamples(const std::string& scoreText, const std::string& extra = "") {
    const fs::path output = directory / "out.wav";
    const RenderRun result = run(writeScore("score.txt", scoreText), output, extra);
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

TEST_F(RenderTool, RunawayHighNotesComeOutAsSilenceNotInfinity) {
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
      {"0 midi 90\n10 end\n", "score.txt:1: 'midi' needs more values"},
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

TEST_F(RenderTool, UnwritableOutputFailsWithoutLeavingFiles) {
  const fs::path score = writeScore("score.txt", "0 midi 90 69 1\n10 end\n");
  const RenderRun result = run(score, directory / "missing-folder" / "out.wav");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.errors.find("cannot write"), std::string::npos);
  EXPECT_FALSE(fs::exists(directory / "missing-folder"));
}

TEST_F(RenderTool, BadArgumentsShowTheUsage) {
  const fs::path score = writeScore("score.txt", "10 end\n");
  const RenderRun badBlock = run(score, directory / "out.wav", "--block 0");
  EXPECT_EQ(badBlock.exitCode, 2);
  EXPECT_NE(badBlock.errors.find("usage: quillfern-render"), std::string::npos);
  EXPECT_FALSE(fs::exists(directory / "out.wav"));
  EXPECT_EQ(std::system((std::string(QUILLFERN_RENDER) + " --help >/dev/null").c_str()), 0);
}

}  // namespace
