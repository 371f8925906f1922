// SPDX-License-Identifier: GPL-3.0-or-later
// waitEvent: Qt's event processing driven by hand, so that the window thread blocks in the
// native wait (no polling, no periodic timer) until the toolkit has an event to return.
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <thread>

#include "ui/event_queue.h"
#include "ui/toolkit_internal.h"

namespace {

// One single-shot timer, made once, ends finite waits.
QPointer<QTimer> waitTimer;
bool waitTimedOut = false;

QTimer* timeoutTimer() {
  if (waitTimer.isNull()) {
    // A child of the application, so it goes with it.
    waitTimer = new QTimer(QCoreApplication::instance());
    waitTimer->setSingleShot(true);
    waitTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(waitTimer, &QTimer::timeout, [] { waitTimedOut = true; });
  }
  return waitTimer;
}

void processNativeEvents(QEventLoop::ProcessEventsFlags flags) {
  QCoreApplication::processEvents(flags);
  // Objects handed to deleteLater go only when a loop runs them; this loop is ours.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void waitForEvent(int32_t timeoutMs) {
  if (timeoutMs == 0) {
    processNativeEvents(QEventLoop::AllEvents);
    return;
  }
  if (timeoutMs < 0) {
    // One pass may handle input that raises nothing (a repaint, a status text): wait on.
    while (!eventWaiting()) processNativeEvents(QEventLoop::WaitForMoreEvents);
    return;
  }
  QTimer* timer = timeoutTimer();
  waitTimedOut = false;
  timer->start(timeoutMs);
  while (!eventWaiting() && !waitTimedOut) processNativeEvents(QEventLoop::WaitForMoreEvents);
  timer->stop();
}

}  // namespace

int32_t waitEvent(int32_t timeoutMs) {
  if (!eventWaiting()) {
    if (guiRunning()) {
      waitForEvent(timeoutMs);
    } else if (timeoutMs > 0) {
      // No display: nothing can ever arrive, but a finite wait still pauses the caller.
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    }
  }
  const std::optional<EventRecord> next = takeNextEvent();
  return next ? makeCurrentEvent(*next) : NoEvent;
}
