// SPDX-License-Identifier: GPL-3.0-or-later
// Status bars: along the bottom of a window over its whole width, with fixed-width fields
// laid left to right. Texts may come from any thread; they travel through the status mailbox
// and are shown on the window thread.
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QLabel>
#include <QSocketNotifier>
#include <QWidget>
#include <algorithm>

#include "ui/status_mailbox.h"
#include "ui/toolkit_internal.h"
#include "ui/toolkit_text.h"

namespace {

// Other threads wake the window thread by writing to an event counter that the window
// thread's native wait watches: a system call, with no lock and no allocation.
struct StatusWakeUps {
  int fd = -1;
  QSocketNotifier* notifier = nullptr;
};

StatusWakeUps statusWakeUps;

constexpr int FieldMargin = 2;   // between the bar's edges and its fields
constexpr int FieldBorders = 4;  // the sunken frame and a pixel of room, above and below
constexpr int LeastTextHeight = 18;

int fieldHeight(const QWidget* bar) {
  return std::max(LeastTextHeight, bar->fontMetrics().height() + FieldBorders);
}

// Each field's right edge is the running sum of the widths; IgnoreValue fields share what the
// fixed widths leave of the bar.
void layoutFields(const StatusBarRecord& statusBar) {
  int fixedWidths = 0;
  int sharingFields = 0;
  for (const StatusField& field : statusBar.fields) {
    if (field.width == IgnoreValue) {
      ++sharingFields;
    } else {
      fixedWidths += std::max(field.width, 0);
    }
  }
  const int share = sharingFields == 0 ? 0 : (statusBar.bar->width() - fixedWidths) / sharingFields;
  const int height = fieldHeight(statusBar.bar);
  int left = 0;
  for (const StatusField& field : statusBar.fields) {
    const int width = std::max(field.width == IgnoreValue ? share : field.width, 0);
    field.label->setGeometry(left, FieldMargin, width, height);
    left += width;
  }
}

void destroyStatusBar(std::map<int32_t, StatusBarRecord>::iterator statusBar) {
  if (objects.currentStatusBar == statusBar->first) objects.currentStatusBar.reset();
  releaseStatusSlot(statusBar->second.mailboxSlot);
  delete statusBar->second.bar;
  objects.statusBars.erase(statusBar);
}

void showStatusText(int32_t number, int32_t field, const std::string& text, int32_t appearance) {
  const StatusBarRecord* statusBar = findRecord(objects.statusBars, number);
  if (statusBar == nullptr || field >= static_cast<int32_t>(statusBar->fields.size())) return;
  QLabel* label = statusBar->fields[field].label;
  label->setAlignment(appearance == StatusTextCentred ? Qt::AlignCenter
                                                      : Qt::AlignLeft | Qt::AlignVCenter);
  label->setText(toolkitText(text.c_str()));
}

}  // namespace

void destroyWindowStatusBars(int32_t window) {
  destroyWindowRecords(objects.statusBars, window, destroyStatusBar);
}

void placeStatusBar(int32_t window, int clientWidth, int clientHeight) {
  for (const auto& [number, statusBar] : objects.statusBars) {
    if (statusBar.window != window) continue;
    const int height = fieldHeight(statusBar.bar) + 2 * FieldMargin;
    statusBar.bar->setGeometry(0, clientHeight - height, clientWidth, height);
    statusBar.bar->raise();
    layoutFields(statusBar);
  }
}

void startStatusWakeUps() {
  statusWakeUps.fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  statusWakeUps.notifier =
      new QSocketNotifier(statusWakeUps.fd, QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(statusWakeUps.notifier, &QSocketNotifier::activated, [] {
    uint64_t wakeUps = 0;
    [[maybe_unused]] const ssize_t got = read(statusWakeUps.fd, &wakeUps, sizeof wakeUps);
    takeStatusTextsOnWakeUp(&showStatusText);
  });
}

void stopStatusWakeUps() {
  delete statusWakeUps.notifier;
  statusWakeUps.notifier = nullptr;
  close(statusWakeUps.fd);
  statusWakeUps.fd = -1;
}

void wakeWindowThreadForStatusTexts() {
  // At most one wake-up is outstanding, so the counter never fills and this never blocks.
  const uint64_t wakeUp = 1;
  [[maybe_unused]] const ssize_t written = write(statusWakeUps.fd, &wakeUp, sizeof wakeUp);
}

int32_t createStatusBar(int32_t number, WindowHandle windowHandle) {
  const std::optional<int32_t> window = windowNumberOfHandle(windowHandle);
  const std::optional<int32_t> chosen = numberForNewObject(number, objects.statusBars);
  if (!window || !chosen) return 0;
  destroyNumberedRecord(objects.statusBars, *chosen, destroyStatusBar);
  const int32_t slot = claimStatusSlot(*chosen);
  if (slot < 0) return 0;
  auto* bar = new QWidget(findWindow(*window)->window);
  bar->setObjectName(QStringLiteral("statusBar%1").arg(*chosen));
  bar->setAutoFillBackground(true);  // covers the bottom of the client area
  bar->show();
  objects.statusBars[*chosen] = {bar, *window, slot, {}};
  objects.currentStatusBar = *chosen;
  layoutWindow(*window);
  return creationResult(number, *chosen);
}

void addStatusField(int32_t width) {
  StatusBarRecord* statusBar = findRecord(objects.statusBars, objects.currentStatusBar);
  if (statusBar == nullptr || statusBar->fields.size() >= std::size_t{StatusFieldCapacity}) return;
  auto* label = new QLabel(statusBar->bar);
  const auto index = static_cast<int>(statusBar->fields.size());
  label->setObjectName(QStringLiteral("statusField%1").arg(index));
  label->setAccessibleDescription(QStringLiteral("Status field %1").arg(index + 1));
  label->setTextFormat(Qt::PlainText);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->show();
  statusBar->fields.push_back({label, width});
  layoutFields(*statusBar);
}

bool statusBarExists(int32_t number) {
  return statusSlotExists(number);
}

void setStatusText(int32_t number, int32_t field, const char* text, int32_t appearance) {
  const bool windowThread = onWindowThread();
  if (!depositStatusText(number, field, text, appearance, !windowThread)) return;
  if (windowThread) takeStatusTexts(&showStatusText);
}
