// The status mailbox on its own, without Qt: last text wins, one wake-up at a time, no text
// for a status bar that has gone, and safe shutdown under concurrent writers.
#include "ui/status_mailbox.h"

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::atomic<int> wakeUps{0};
void countWakeUp() {
  ++wakeUps;
}

struct ShownText {
  int32_t number;
  int32_t field;
  std::string text;
};
std::vector<ShownText> shown;
void recordShown(int32_t number, int32_t field, const std::string& text, int32_t) {
  shown.push_back({number, field, text});
}

class StatusMailbox : public ::testing::Test {
 protected:
  void SetUp() override {
    wakeUps = 0;
    shown.clear();
    openStatusMailbox(&countWakeUp);
    slot = claimStatusSlot(0);
  }
  void TearDown() override {
    releaseStatusSlot(slot);
    closeStatusMailbox();
  }
  int32_t slot = -1;
};

TEST_F(StatusMailbox, CrossThreadLastTextPerFieldWinsWithOneWakeUp) {
  std::thread writer([] {
    for (int call = 0; call < 1000; ++call) {
      depositStatusText(0, 1, std::to_string(call).c_str(), 4, true);
    }
    depositStatusText(0, 0, "MIDI IN", 4, true);
  });
  writer.join();
  EXPECT_EQ(wakeUps, 1);
  takeStatusTextsOnWakeUp(&recordShown);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].field, 0);
  EXPECT_EQ(shown[0].text, "MIDI IN");
  EXPECT_EQ(shown[1].text, "999");

  depositStatusText(0, 1, "Off", 4, true);
  EXPECT_EQ(wakeUps, 2) << "taking the texts re-arms the wake-up";
}

TEST_F(StatusMailbox, UnknownBarsAndFieldsAreRefused) {
  EXPECT_TRUE(statusSlotExists(0));
  EXPECT_FALSE(statusSlotExists(1));
  EXPECT_FALSE(depositStatusText(1, 0, "x", 4, true));
  EXPECT_FALSE(depositStatusText(0, -1, "x", 4, true));
  EXPECT_FALSE(depositStatusText(0, StatusFieldCapacity, "x", 4, true));
  EXPECT_TRUE(depositStatusText(0, StatusFieldCapacity - 1, nullptr, 4, false));
  EXPECT_EQ(wakeUps, 0);
  takeStatusTexts(&recordShown);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "");
}

TEST_F(StatusMailbox, TextForAStatusBarThatHasGoneNeverReachesItsSuccessor) {
  depositStatusText(0, 1, "for the old bar", 4, false);
  releaseStatusSlot(slot);
  EXPECT_FALSE(statusSlotExists(0));
  slot = claimStatusSlot(0);
  takeStatusTexts(&recordShown);
  EXPECT_TRUE(shown.empty());

  std::vector<int32_t> slots;
  for (int32_t number = 1; number < StatusBarSlotCount; ++number) {
    slots.push_back(claimStatusSlot(number));
  }
  EXPECT_EQ(claimStatusSlot(99), -1) << "all slots taken";
  for (int32_t taken : slots) releaseStatusSlot(taken);
}

TEST_F(StatusMailbox, CrossThreadTextsComeOutInCallOrderWhileBeingTaken) {
  std::atomic<bool> writing{true};
  std::thread writer([&writing] {
    for (int call = 1; call <= 20000; ++call) {
      depositStatusText(0, 1, std::to_string(call).c_str(), 4, true);
    }
    writing = false;
  });
  while (writing) takeStatusTextsOnWakeUp(&recordShown);
  writer.join();
  takeStatusTextsOnWakeUp(&recordShown);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().text, "20000");
  for (std::size_t index = 1; index < shown.size(); ++index) {
    ASSERT_LT(std::stoi(shown[index - 1].text), std::stoi(shown[index].text));
  }
}

TEST_F(StatusMailbox, CrossThreadDepositsDuringCloseAreDropped) {
  std::atomic<bool> writing{true};
  std::atomic<int> refused{0};
  std::vector<std::thread> writers;
  for (int thread = 0; thread < 2; ++thread) {
    writers.emplace_back([&] {
      while (writing) {
        if (!depositStatusText(0, 1, "On 440.000", 4, true)) ++refused;
      }
    });
  }
  while (wakeUps == 0) std::this_thread::yield();
  closeStatusMailbox();
  const int refusedAtClose = refused;
  while (refused < refusedAtClose + 1000) std::this_thread::yield();
  writing = false;
  for (auto& writer : writers) writer.join();
  takeStatusTexts(&recordShown);
  EXPECT_TRUE(shown.empty()) << "closing freed what was waiting";
  openStatusMailbox(&countWakeUp);
}

}  // namespace
