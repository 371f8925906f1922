// SPDX-License-Identifier: GPL-3.0-or-later
// Menu bars: one per window, along the top of its client area, with titles whose drop-downs
// hold plain items that raise menu events.
#include <QMenu>
#include <QMenuBar>

#include "ui/event_queue.h"
#include "ui/toolkit_internal.h"
#include "ui/toolkit_text.h"

namespace {

void destroyMenuBar(std::map<int32_t, MenuBarRecord>::iterator menuBar) {
  if (objects.currentMenuBar == menuBar->first) {
    objects.currentMenuBar.reset();
    objects.currentMenu = nullptr;
  }
  const int32_t window = menuBar->second.window;
  delete menuBar->second.bar;
  objects.menuBars.erase(menuBar);
  layoutWindow(window);
}

}  // namespace

void destroyWindowMenuBars(int32_t window) {
  destroyWindowRecords(objects.menuBars, window, destroyMenuBar);
}

int placeMenuBar(int32_t window, int clientWidth) {
  for (const auto& [number, menuBar] : objects.menuBars) {
    if (menuBar.window != window) continue;
    const int height = menuBar.bar->sizeHint().height();
    menuBar.bar->setGeometry(0, 0, clientWidth, height);
    return height;
  }
  return 0;
}

int32_t createMenuBar(int32_t number, WindowHandle windowHandle) {
  const std::optional<int32_t> window = windowNumberOfHandle(windowHandle);
  const std::optional<int32_t> chosen = numberForNewObject(number, objects.menuBars);
  if (!window || !chosen) return 0;
  destroyNumberedRecord(objects.menuBars, *chosen, destroyMenuBar);
  // A window holds one menu bar: a new one replaces the one it had.
  destroyWindowMenuBars(*window);
  auto* bar = new QMenuBar(findWindow(*window)->window);
  bar->setObjectName(QStringLiteral("menuBar%1").arg(*chosen));
  // Inside the window, never handed to a desktop-wide menu, so the client area below it is
  // the same on every desktop.
  bar->setNativeMenuBar(false);
  bar->show();
  objects.menuBars[*chosen] = {bar, *window};
  objects.currentMenuBar = *chosen;
  objects.currentMenu = nullptr;
  layoutWindow(*window);
  return creationResult(number, *chosen);
}

void addMenuTitle(const char* text) {
  MenuBarRecord* menuBar = findRecord(objects.menuBars, objects.currentMenuBar);
  if (menuBar == nullptr) return;
  objects.currentMenu = menuBar->bar->addMenu(toolkitText(text));
  layoutWindow(menuBar->window);
}

void addMenuItem(int32_t eventNumber, const char* text) {
  const MenuBarRecord* menuBar = findRecord(objects.menuBars, objects.currentMenuBar);
  if (menuBar == nullptr || objects.currentMenu.isNull()) return;
  QAction* item = objects.currentMenu->addAction(toolkitText(text));
  QObject::connect(item, &QAction::triggered, item, [eventNumber, window = menuBar->window] {
    raiseEventAtOnce({MenuEvent, eventNumber, window, 0});
  });
}
