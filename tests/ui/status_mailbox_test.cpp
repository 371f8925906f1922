// SPDX-License-Identifier: GPL-3.0-or-later
// The status mailbox on its own, without Qt: the last text wins, one wake-up at a time, texts
// keep the order of the calls, and no text reaches a status bar that was not its own.
#include "ui/status_mailbox.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

// This test program's allocator runs `beforeNextAllocation`, once, on the thread that set it.
// A deposit allocates its copy of the text after it has found the status bar and before the
// text lands, so a test can step in between the two.
thread_local void (*beforeNextAllocation)() = nullptr;

// Out of line, so that the compiler never sees a new paired with a free.
[[gnu::noinline]] void* operator new(std::size_t size) {
  if (void (*step)() = std::exchange(beforeNextAllocation, nullptr)) step();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* memory) noexcept {
  std::free(memory);
}
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}

namespace {

std::atomic<int> wakeUps{0};
void countWakeUp() {
  ++wakeUps;
}

std::vector<std::string> shown;
void recordShown(int32_t, int32_t field, const std::string& text, int32_t) {
  shown.push_back(std::to_string(field) + ":" + text);
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
    EXPECT_FALSE(depositStatusText(0, StatusFieldCapacity, "no such field", 4, true));
  });
  writer.join();
  EXPECT_EQ(wakeUps, 1);
  takeStatusTextsOnWakeUp(&recordShown);
  EXPECT_EQ(shown, (std::vector<std::string>{"0:MIDI IN", "1:999"}));

  depositStatusText(0, 1, "Off", 4, true);
  EXPECT_EQ(wakeUps, 2) << "taking the texts re-arms the wake-up";
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
  EXPECT_EQ(shown.back(), "1:20000");
  for (std::size_t index = 1; index < shown.size(); ++index) {
    ASSERT_LT(std::stoi(shown[index - 1].substr(2)), std::stoi(shown[index].substr(2)));
  }
}

int32_t replacedSlot = -1;

TEST_F(StatusMailbox, TextForAStatusBarThatHasGoneNeverReachesItsSuccessor) {
  // A text waiting when its bar goes goes with it; later ones find no bar.
  depositStatusText(0, 1, "for the old bar", 4, false);
  releaseStatusSlot(slot);
  EXPECT_FALSE(statusSlotExists(0));
  EXPECT_FALSE(depositStatusText(0, 1, "no bar", 4, false));
  slot = claimStatusSlot(0);
  takeStatusTexts(&recordShown);
  EXPECT_TRUE(shown.empty());

  // The bar goes and a new bar of the same number takes its slot while a deposit that found
  // the old one is under way: its text lands in the new bar's slot and must not be shown.
  replacedSlot = slot;
  beforeNextAllocation = [] {
    releaseStatusSlot(replacedSlot);
    replacedSlot = claimStatusSlot(0);
  };
  depositStatusText(0, 1, "for the old bar", 4, false);
  ASSERT_EQ(beforeNextAllocation, nullptr) << "the deposit allocated nothing";
  slot = replacedSlot;
  takeStatusTexts(&recordShown);
  EXPECT_TRUE(shown.empty()) << shown.front();
}

}  // namespace
