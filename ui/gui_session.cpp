// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt application object: started by the first window or message box once a display is
// known to be reachable, ended by closeToolkit.
#include <QApplication>
#include <QFont>
#include <array>
#include <string>

#include "ui/display_probe.h"
#include "ui/event_queue.h"
#include "ui/status_mailbox.h"
#include "ui/toolkit_internal.h"

namespace {

// Sees every event of the application before its receiver: close requests and shortcut keys
// of the toolkit's windows become toolkit events.
class ToolkitEventFilter final : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* receiver, QEvent* event) override {
    return onWindowEvent(receiver, event);
  }
};

struct GuiSession {
  // QApplication keeps referring to its arguments, so they live here.
  char programName[10] = "quillfern";
  char platformOption[10] = "-platform";
  std::string platform;
  std::array<char*, 4> argv{};
  int argc = 0;
  QApplication* application = nullptr;
};

GuiSession session;
thread_local bool isWindowThread = false;

void prepareArguments(const std::string& platform) {
  session.platform = platform;
  session.argv = {session.programName, nullptr, nullptr, nullptr};
  session.argc = 1;
  if (session.platform.empty()) return;
  session.argv[1] = session.platformOption;
  session.argv[2] = session.platform.data();
  session.argc = 3;
}

// Windows are laid out in pixels for a compact interface font of 8 points; the desktop's usual
// 9 or 10 points would not fit a read-out such as "0.0100" into its 40 pixels.
constexpr qreal InterfacePointSize = 8.0;

void useInterfaceFont() {
  QFont font = QApplication::font();
  font.setPointSizeF(InterfacePointSize);
  QApplication::setFont(font);
}

}  // namespace

ToolkitObjects objects;

bool startGui() {
  if (session.application != nullptr) return true;
  const std::optional<std::string> platform = chooseQtPlatform();
  if (!platform) return false;
  prepareArguments(*platform);
  session.application = new QApplication(session.argc, session.argv.data());
  useInterfaceFont();
  session.application->installEventFilter(new ToolkitEventFilter(session.application));
  isWindowThread = true;
  startStatusWakeUps();
  openStatusMailbox(&wakeWindowThreadForStatusTexts);
  return true;
}

bool guiRunning() {
  return session.application != nullptr;
}

bool onWindowThread() {
  return isWindowThread;
}

void closeToolkit() {
  if (session.application == nullptr) return;
  closeStatusMailbox();
  stopStatusWakeUps();
  while (!objects.windows.empty()) closeWindow(objects.windows.begin()->first);
  clearEvents();
  delete session.application;
  session.application = nullptr;
  isWindowThread = false;
}
