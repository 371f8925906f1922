// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/status_mailbox.h"

#include <array>
#include <atomic>
#include <memory>
#include <thread>

namespace {

// A slot's identity joins the status bar's number with a generation that grows at every
// claim, so a text deposited for a status bar that has gone is never shown on its successor.
using Identity = uint64_t;
constexpr Identity FreeSlot = 0;

struct PendingText {
  Identity identity;
  int32_t appearance;
  std::string text;
};

struct StatusSlot {
  std::atomic<Identity> identity{FreeSlot};
  std::array<std::atomic<PendingText*>, StatusFieldCapacity> fields{};
};

struct Mailbox {
  std::array<StatusSlot, StatusBarSlotCount> slots;
  uint32_t generation = 0;  // window thread only
  std::atomic<bool> accepting{false};
  std::atomic<int32_t> depositsUnderWay{0};
  std::atomic<bool> wakeUpPending{false};
  void (*wakeWindowThread)() = nullptr;  // set before accepting, read only while accepting
};

// Static and never destroyed before the process ends: a late caller on another thread can
// always touch it safely.
Mailbox mailbox;

int32_t numberOf(Identity identity) {
  return static_cast<int32_t>(identity & 0xFFFFFFFFu);
}

Identity makeIdentity(uint32_t generation, int32_t number) {
  return (Identity{generation} << 32) | static_cast<uint32_t>(number);
}

void freeWaitingText(std::atomic<PendingText*>& field) {
  delete field.exchange(nullptr, std::memory_order_acquire);
}

void freeWaitingTexts(StatusSlot& slot) {
  for (auto& field : slot.fields) freeWaitingText(field);
}

StatusSlot* findSlot(int32_t number, Identity& identity) {
  for (auto& slot : mailbox.slots) {
    identity = slot.identity.load(std::memory_order_acquire);
    if (identity != FreeSlot && numberOf(identity) == number) return &slot;
  }
  return nullptr;
}

// Keeps closeStatusMailbox from tearing down the wake-up while a deposit is using it.
struct DepositGuard {
  bool admitted;
  DepositGuard() {
    mailbox.depositsUnderWay.fetch_add(1, std::memory_order_seq_cst);
    admitted = mailbox.accepting.load(std::memory_order_seq_cst);
  }
  ~DepositGuard() { mailbox.depositsUnderWay.fetch_sub(1, std::memory_order_release); }
  DepositGuard(const DepositGuard&) = delete;
  DepositGuard& operator=(const DepositGuard&) = delete;
};

void wakeUnlessPending() {
  if (!mailbox.wakeUpPending.exchange(true, std::memory_order_acq_rel)) {
    mailbox.wakeWindowThread();
  }
}

}  // namespace

void openStatusMailbox(void (*wakeWindowThread)()) {
  mailbox.wakeWindowThread = wakeWindowThread;
  mailbox.wakeUpPending.store(false, std::memory_order_relaxed);
  mailbox.accepting.store(true, std::memory_order_seq_cst);
}

void closeStatusMailbox() {
  mailbox.accepting.store(false, std::memory_order_seq_cst);
  while (mailbox.depositsUnderWay.load(std::memory_order_acquire) != 0) {
    std::this_thread::yield();
  }
  for (auto& slot : mailbox.slots) freeWaitingTexts(slot);
}

int32_t claimStatusSlot(int32_t number) {
  for (int32_t index = 0; index < StatusBarSlotCount; ++index) {
    StatusSlot& slot = mailbox.slots[index];
    if (slot.identity.load(std::memory_order_relaxed) != FreeSlot) continue;
    freeWaitingTexts(slot);
    mailbox.generation = mailbox.generation == UINT32_MAX ? 1 : mailbox.generation + 1;
    slot.identity.store(makeIdentity(mailbox.generation, number), std::memory_order_release);
    return index;
  }
  return -1;
}

void releaseStatusSlot(int32_t slot) {
  if (slot < 0 || slot >= StatusBarSlotCount) return;
  mailbox.slots[slot].identity.store(FreeSlot, std::memory_order_release);
  freeWaitingTexts(mailbox.slots[slot]);
}

bool statusSlotExists(int32_t number) {
  Identity identity;
  return findSlot(number, identity) != nullptr;
}

bool depositStatusText(int32_t number, int32_t field, const char* text, int32_t appearance,
                       bool wakeWindowThread) {
  const DepositGuard guard;
  if (!guard.admitted || field < 0 || field >= StatusFieldCapacity) return false;
  Identity identity;
  StatusSlot* slot = findSlot(number, identity);
  if (slot == nullptr) return false;
  // The caller may reuse its buffer as soon as this returns: keep a copy.
  auto pending = std::make_unique<PendingText>(
      PendingText{identity, appearance, text == nullptr ? std::string() : std::string(text)});
  delete slot->fields[field].exchange(pending.release(), std::memory_order_acq_rel);
  if (wakeWindowThread) wakeUnlessPending();
  return true;
}

void takeStatusTexts(StatusTextSink show) {
  for (auto& slot : mailbox.slots) {
    const Identity identity = slot.identity.load(std::memory_order_acquire);
    if (identity == FreeSlot) continue;
    for (int32_t field = 0; field < StatusFieldCapacity; ++field) {
      if (slot.fields[field].load(std::memory_order_relaxed) == nullptr) continue;
      const std::unique_ptr<PendingText> pending(
          slot.fields[field].exchange(nullptr, std::memory_order_acquire));
      if (pending && pending->identity == identity) {
        show(numberOf(identity), field, pending->text, pending->appearance);
      }
    }
  }
}

void takeStatusTextsOnWakeUp(StatusTextSink show) {
  // Cleared before taking: a text deposited from here on either is taken now or brings
  // another wake-up.
  mailbox.wakeUpPending.store(false, std::memory_order_seq_cst);
  takeStatusTexts(show);
}
