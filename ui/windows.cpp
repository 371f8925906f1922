// SPDX-License-Identifier: GPL-3.0-or-later
// Numbered top-level windows: fixed client size, centring, close requests that only raise an
// event, and each window's keyboard shortcuts.
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <array>
#include <utility>

#include "ui/event_queue.h"
#include "ui/toolkit_internal.h"
#include "ui/toolkit_text.h"

namespace {

// Title bar with system menu and close box; no minimise or maximise box. The fixed size
// takes away the sizing border.
constexpr Qt::WindowFlags TitledWindow = Qt::Window | Qt::CustomizeWindowHint |
                                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                         Qt::WindowCloseButtonHint;

// The window manager's frame is known only after a window is shown; until then the frame of
// the last window stands in for it.
QMargins lastFrameMargins;

// Key codes that the application passes (virtual-key codes) and Qt's keys for them. Digits
// and letters share their codes with Qt.
constexpr std::array<std::pair<int32_t, int>, 16> NamedKeys{{
    {8, Qt::Key_Backspace},
    {9, Qt::Key_Tab},
    {13, Qt::Key_Return},
    {KeyEscape, Qt::Key_Escape},
    {32, Qt::Key_Space},
    {33, Qt::Key_PageUp},
    {34, Qt::Key_PageDown},
    {35, Qt::Key_End},
    {36, Qt::Key_Home},
    {37, Qt::Key_Left},
    {38, Qt::Key_Up},
    {39, Qt::Key_Right},
    {40, Qt::Key_Down},
    {45, Qt::Key_Insert},
    {46, Qt::Key_Delete},
    {144, Qt::Key_NumLock},
}};
constexpr int32_t FirstFunctionKey = 112;  // F1 to F12
constexpr int32_t LastFunctionKey = 123;

std::optional<int> qtKeyOf(int32_t key) {
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return key;
  if (key >= FirstFunctionKey && key <= LastFunctionKey) {
    return Qt::Key_F1 + (key - FirstFunctionKey);
  }
  const auto named = std::find_if(NamedKeys.begin(), NamedKeys.end(),
                                  [key](const auto& entry) { return entry.first == key; });
  if (named == NamedKeys.end()) return std::nullopt;
  return named->second;
}

// The outer frame is cut to the screen, then centred on it.
void centreOnScreen(QWidget* window, const QMargins& frame) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QSize frameSize(frame.left() + frame.right(), frame.top() + frame.bottom());
  const QSize outer = (window->size() + frameSize).boundedTo(screen.size());
  if (outer - frameSize != window->size()) window->setFixedSize(outer - frameSize);
  // move() places the frame's top-left corner, not the client area's.
  window->move(screen.x() + (screen.width() - outer.width()) / 2,
               screen.y() + (screen.height() - outer.height()) / 2);
}

void placeWindow(WindowRecord& record, int32_t x, int32_t y, int32_t flags) {
  if ((flags & WindowScreenCentred) != 0) {
    centreOnScreen(record.window, lastFrameMargins);
    record.awaitingFrame = true;
  } else if (x != IgnoreValue && y != IgnoreValue) {
    record.window->move(x, y);
  }
}

std::optional<int32_t> windowNumberOfWidget(const QWidget* widget) {
  for (const auto& [number, record] : objects.windows) {
    if (record.window == widget) return number;
  }
  return std::nullopt;
}

// The toolkit window that a widget belongs to. A combo box's open list is a window of its own
// but still counts as part of the combo box's window; a menu keeps its own keys.
QWidget* owningWindow(QWidget* widget) {
  QWidget* window = widget == nullptr ? nullptr : widget->window();
  while (window != nullptr && window->windowType() == Qt::Popup &&
         qobject_cast<QMenu*>(window) == nullptr && window->parentWidget() != nullptr) {
    window = window->parentWidget()->window();
  }
  return window;
}

bool raiseCloseEvent(QObject* receiver, QEvent* event) {
  const auto number = windowNumberOfWidget(qobject_cast<QWidget*>(receiver));
  if (!number) return false;
  // Only the application closes a window; the request becomes an event and the window stays.
  event->ignore();
  queueEvent({CloseWindowEvent, 0, *number, 0});
  return true;
}

bool raiseShortcutEvent(QObject* receiver, const QKeyEvent& key) {
  if ((key.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) != 0) {
    return false;
  }
  QWidget* window = owningWindow(qobject_cast<QWidget*>(receiver));
  // The shortcuts of the active window only, looked up before the focused control sees the
  // key (so Escape with a combo box's list open still counts).
  if (window == nullptr || window != owningWindow(QApplication::activeWindow())) return false;
  const auto number = windowNumberOfWidget(window);
  if (!number) return false;
  const auto& shortcuts = objects.windows[*number].shortcuts;
  const auto shortcut =
      std::find_if(shortcuts.begin(), shortcuts.end(),
                   [&key](const KeyboardShortcut& entry) { return entry.qtKey == key.key(); });
  if (shortcut == shortcuts.end()) return false;
  raiseEventAtOnce({MenuEvent, shortcut->eventNumber, *number, 0});
  return true;
}

void placeAgainOnceFrameKnown(QObject* receiver) {
  const auto number = windowNumberOfWidget(qobject_cast<QWidget*>(receiver));
  if (!number) return;
  WindowRecord& record = objects.windows[*number];
  if (!record.awaitingFrame || record.window->windowHandle() == nullptr) return;
  const QMargins frame = record.window->windowHandle()->frameMargins();
  if (frame.isNull()) return;
  record.awaitingFrame = false;
  if (frame == lastFrameMargins) return;
  lastFrameMargins = frame;
  centreOnScreen(record.window, frame);
  layoutWindow(*number);
}

}  // namespace

WindowRecord* findWindow(int32_t number) {
  return findRecord(objects.windows, number);
}

std::optional<int32_t> windowNumberOfHandle(WindowHandle handle) {
  return windowNumberOfWidget(static_cast<const QWidget*>(handle));
}

void layoutWindow(int32_t number) {
  const WindowRecord* record = findWindow(number);
  if (record == nullptr) return;
  const QSize client = record->window->size();
  const int top = placeMenuBar(number, client.width());
  record->clientArea->setGeometry(0, top, client.width(), client.height() - top);
  placeStatusBar(number, client.width(), client.height());
}

bool onWindowEvent(QObject* receiver, QEvent* event) {
  switch (event->type()) {
    case QEvent::Close:
      return raiseCloseEvent(receiver, event);
    case QEvent::KeyPress:
      return raiseShortcutEvent(receiver, *static_cast<QKeyEvent*>(event));
    case QEvent::Move:
      placeAgainOnceFrameKnown(receiver);
      return false;
    default:
      return false;
  }
}

int32_t openWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const char* title, int32_t flags) {
  if (!startGui()) return 0;
  const std::optional<int32_t> chosen = numberForNewObject(number, objects.windows);
  if (!chosen) return 0;
  closeWindow(*chosen);
  auto* window = new QWidget(nullptr, TitledWindow);
  window->setObjectName(QStringLiteral("window%1").arg(*chosen));
  window->setWindowTitle(toolkitText(title));
  window->setFixedSize(std::max(width, 1), std::max(height, 1));
  auto* clientArea = new QWidget(window);
  clientArea->setObjectName(QStringLiteral("clientArea"));
  WindowRecord& record = objects.windows[*chosen];
  record = {window, clientArea, {}, false};
  placeWindow(record, x, y, flags);
  layoutWindow(*chosen);
  window->show();
  window->raise();
  window->activateWindow();
  objects.currentWindow = *chosen;
  return creationResult(number, *chosen);
}

WindowHandle windowHandle(int32_t number) {
  const WindowRecord* record = findWindow(number);
  return record == nullptr ? nullptr : record->window;
}

void closeWindow(int32_t number) {
  WindowRecord* record = findWindow(number);
  if (record == nullptr) return;
  destroyWindowControls(number);
  destroyWindowMenuBars(number);
  destroyWindowStatusBars(number);
  dropWindowEvents(number);
  delete record->window;
  objects.windows.erase(number);
  if (objects.currentWindow == number) objects.currentWindow.reset();
}

void addKeyboardShortcut(int32_t windowNumber, int32_t key, int32_t eventNumber) {
  WindowRecord* record = findWindow(windowNumber);
  const std::optional<int> qtKey = qtKeyOf(key);
  if (record == nullptr || !qtKey) return;
  auto& shortcuts = record->shortcuts;
  const auto existing =
      std::find_if(shortcuts.begin(), shortcuts.end(),
                   [&qtKey](const KeyboardShortcut& entry) { return entry.qtKey == *qtKey; });
  if (existing != shortcuts.end()) {
    existing->eventNumber = eventNumber;
  } else {
    shortcuts.push_back({*qtKey, eventNumber});
  }
}
