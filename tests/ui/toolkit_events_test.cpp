// Windows, the event queue and waitEvent on Qt's offscreen platform.
#include <QApplication>
#include <QComboBox>
#include <QMenuBar>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "toolkit_test_support.h"

namespace {

class ToolkitEvents : public ::testing::Test {
 protected:
  void TearDown() override { closeToolkit(); }
};

constexpr RaisedEvent sliderEvent(int32_t slider, int32_t window = PanelWindow) {
  return {ControlEvent, slider, window, 0};
}

TEST_F(ToolkitEvents, QueueMergesOnlyARepeatOfTheLastWaitingEvent) {
  openPanelWindow();
  auto* slider = controlWidget<QSlider>(PanelWindow, PanelISlider);
  auto* deviceList = controlWidget<QComboBox>(PanelWindow, PanelDeviceList);

  QTest::keyClick(slider, Qt::Key_Up);
  QTest::keyClick(slider, Qt::Key_Up);
  EXPECT_EQ(takeWaitingEvents(), Events{sliderEvent(PanelISlider)});

  QTest::keyClick(slider, Qt::Key_Up);
  QTest::keyClick(deviceList, Qt::Key_Down);
  QTest::keyClick(slider, Qt::Key_Up);
  const RaisedEvent selection{ControlEvent, PanelDeviceList, PanelWindow, ChangeEventType};
  EXPECT_EQ(takeWaitingEvents(),
            (Events{sliderEvent(PanelISlider), selection, sliderEvent(PanelISlider)}));
  EXPECT_EQ(getControlState(PanelISlider), 504);
}

TEST_F(ToolkitEvents, ClosingAWindowDropsItsEventsAndNoOthers) {
  openPanelWindow();
  const int32_t other = openWindow(AnyNumber, IgnoreValue, IgnoreValue, 200, 200, "Other",
                                   WindowTitleBar + WindowScreenCentred);
  ASSERT_NE(other, 0);
  ASSERT_NE(other, PanelWindow);
  const int32_t otherSlider = addSlider(AnyNumber, 10, 10, 20, 120, 0, 10, SliderVertical);
  ASSERT_NE(otherSlider, 0);

  QTest::keyClick(controlWidget<QSlider>(other, otherSlider), Qt::Key_Up);
  QTest::keyClick(controlWidget<QSlider>(PanelWindow, PanelISlider), Qt::Key_Up);
  windowWidget(other)->close();
  QTest::keyClick(controlWidget<QSlider>(PanelWindow, PanelAttackSlider), Qt::Key_Up);
  closeWindow(PanelWindow);

  EXPECT_EQ(takeWaitingEvents(),
            (Events{sliderEvent(otherSlider, other), RaisedEvent{CloseWindowEvent, 0, other, 0}}));
  EXPECT_EQ(windowHandle(PanelWindow), nullptr);
  EXPECT_EQ(getControlState(PanelISlider), 0) << "a destroyed control reads 0";
}

TEST_F(ToolkitEvents, CloseRequestOnlyRaisesAnEventAndTheWindowStays) {
  openPanelWindow();
  EXPECT_FALSE(windowWidget(PanelWindow)->close());
  EXPECT_EQ(waitEvent(0), CloseWindowEvent);
  EXPECT_EQ(eventWindow(), PanelWindow);
  EXPECT_TRUE(windowWidget(PanelWindow)->isVisible());
}

TEST_F(ToolkitEvents, CurrentEventStaysUntilTheNextEventIsReturned) {
  openPanelWindow();
  QTest::keyClick(controlWidget<QSlider>(PanelWindow, PanelAttackSlider), Qt::Key_Up);
  ASSERT_EQ(waitEvent(0), ControlEvent);
  EXPECT_EQ(waitEvent(0), NoEvent);
  EXPECT_EQ(waitEvent(1), NoEvent);
  EXPECT_EQ(eventControl(), PanelAttackSlider);
  EXPECT_EQ(eventWindow(), PanelWindow);
  EXPECT_EQ(eventType(), 0);

  QTest::keyClick(controlWidget<QWidget>(PanelWindow, PanelCheckBox), Qt::Key_Space);
  ASSERT_EQ(waitEvent(0), ControlEvent);
  EXPECT_EQ(eventControl(), PanelCheckBox);
}

TEST_F(ToolkitEvents, EscapeRaisesTheShortcutOnlyInTheActiveWindowAndWithoutModifiers) {
  openPanelWindow();
  QWidget* slider = controlWidget<QWidget>(PanelWindow, PanelISlider);
  QTest::keyClick(slider, Qt::Key_Escape);
  EXPECT_EQ(takeWaitingEvents(), (Events{{MenuEvent, PanelQuitShortcut, PanelWindow, 0}}));

  QTest::keyClick(slider, Qt::Key_Escape, Qt::ShiftModifier);
  QTest::keyClick(slider, Qt::Key_Escape, Qt::ControlModifier);
  EXPECT_TRUE(takeWaitingEvents().empty());

  addKeyboardShortcut(PanelWindow, KeyEscape, 112);
  QTest::keyClick(slider, Qt::Key_Escape);
  EXPECT_EQ(takeWaitingEvents(), (Events{{MenuEvent, 112, PanelWindow, 0}}));

  const int32_t other = openWindow(AnyNumber, IgnoreValue, IgnoreValue, 200, 100, "Other",
                                   WindowTitleBar + WindowScreenCentred);
  ASSERT_TRUE(waitUntilActive(other));
  QTest::keyClick(windowWidget(other), Qt::Key_Escape);
  QTest::keyClick(slider, Qt::Key_Escape);
  EXPECT_TRUE(takeWaitingEvents().empty());
}

TEST_F(ToolkitEvents, EscapeWithTheComboBoxListOpenStillRaisesTheShortcut) {
  openPanelWindow();
  controlWidget<QComboBox>(PanelWindow, PanelDeviceList)->showPopup();
  QWidget* list = QApplication::activePopupWidget();
  ASSERT_NE(list, nullptr);
  QTest::keyClick(list->focusWidget() != nullptr ? list->focusWidget() : list, Qt::Key_Escape);
  EXPECT_EQ(takeWaitingEvents(), (Events{{MenuEvent, PanelQuitShortcut, PanelWindow, 0}}));
}

TEST_F(ToolkitEvents, MenuItemsRaiseTheirEventNumbers) {
  openPanelWindow();
  auto* menuBar = qobject_cast<QMenuBar*>(childWidget(PanelWindow, "menuBar0"));
  ASSERT_NE(menuBar, nullptr);
  ASSERT_EQ(menuBar->actions().size(), 1);
  EXPECT_EQ(menuBar->actions()[0]->text(), "?");
  const auto items = menuBar->actions()[0]->menu()->actions();
  ASSERT_EQ(items.size(), 2);
  EXPECT_EQ(items[0]->text(), "About");
  items[1]->trigger();
  items[0]->trigger();
  EXPECT_EQ(takeWaitingEvents(), (Events{RaisedEvent{MenuEvent, 2, PanelWindow, 0},
                                         RaisedEvent{MenuEvent, 1, PanelWindow, 0}}));
}

TEST_F(ToolkitEvents, FiniteWaitsReturnNoEventAfterTheirTime) {
  openPanelWindow();
  takeWaitingEvents();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitEvent(1), NoEvent);
  EXPECT_EQ(waitEvent(20), NoEvent);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(21));
}

TEST_F(ToolkitEvents, WaitingForeverReturnsTheFirstEventAndNothingBefore) {
  openPanelWindow();
  takeWaitingEvents();
  // A status text from another thread is handled on the way but raises nothing.
  std::thread writer([] { setStatusText(0, 1, "On 440.000", StatusTextCentred); });
  QTimer::singleShot(50, [] {
    QTest::keyClick(controlWidget<QWidget>(PanelWindow, PanelAttackSlider), Qt::Key_PageUp);
  });
  EXPECT_EQ(waitEvent(WaitForever), ControlEvent);
  EXPECT_EQ(eventControl(), PanelAttackSlider);
  writer.join();
}

TEST_F(ToolkitEvents, WindowNumbersAreChosenOrReplaced) {
  const int32_t fixed = openWindow(3, 10, 20, 300, 200, "Three", WindowTitleBar);
  EXPECT_NE(fixed, 0);
  QWidget* first = windowWidget(3);
  EXPECT_EQ(first->pos(), QPoint(10, 20));
  const int32_t chosen =
      openWindow(AnyNumber, IgnoreValue, IgnoreValue, 300, 200, "Any", WindowTitleBar);
  EXPECT_NE(chosen, 0);
  EXPECT_NE(chosen, 3);
  EXPECT_NE(chosen, AnyNumber);
  EXPECT_NE(windowHandle(chosen), nullptr);

  first->close();  // queues a close request for window 3
  EXPECT_NE(openWindow(3, 0, 0, 100, 100, "Three again", WindowTitleBar), 0);
  EXPECT_EQ(windowWidget(3)->windowTitle(), "Three again");
  EXPECT_TRUE(takeWaitingEvents().empty()) << "the replaced window's events went with it";

  EXPECT_EQ(openWindow(-7, 0, 0, 100, 100, "Bad number", WindowTitleBar), 0);
  EXPECT_EQ(windowHandle(99), nullptr);
  closeWindow(99);
  addKeyboardShortcut(99, KeyEscape, 1);
  EXPECT_EQ(createMenuBar(0, nullptr), 0);
  int unrelated = 0;
  EXPECT_EQ(createStatusBar(0, static_cast<WindowHandle>(&unrelated)), 0);
}

TEST_F(ToolkitEvents, MenuBarTakesItsHeightFromTheClientArea) {
  openWindow(PanelWindow, 0, 0, 510, 230, "Quillfern", WindowTitleBar + WindowScreenCentred);
  QWidget* window = windowWidget(PanelWindow);
  ASSERT_NE(addSlider(PanelAttackSlider, 250, 40, 20, 120, 1, 2000, SliderVertical), 0);
  ASSERT_NE(createMenuBar(0, windowHandle(PanelWindow)), 0);
  addMenuTitle("?");
  QWidget* clientArea = childWidget(PanelWindow, "clientArea");
  const int menuHeight = childWidget(PanelWindow, "menuBar0")->height();

  EXPECT_EQ(window->size(), QSize(510, 230));
  EXPECT_GT(menuHeight, 0);
  EXPECT_EQ(clientArea->geometry(), QRect(0, menuHeight, 510, 230 - menuHeight));
  EXPECT_EQ(controlWidget<QWidget>(PanelWindow, PanelAttackSlider)->mapTo(window, QPoint(0, 0)),
            QPoint(250, 40 + menuHeight));
}

TEST_F(ToolkitEvents, CentredWindowsSitInTheMiddleOfThePrimaryScreen) {
  openWindow(PanelWindow, 0, 0, 510, 230, "Quillfern", WindowTitleBar + WindowScreenCentred);
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QRect frame = windowWidget(PanelWindow)->frameGeometry();
  EXPECT_EQ(frame.topLeft(), QPoint(screen.x() + (screen.width() - frame.width()) / 2,
                                    screen.y() + (screen.height() - frame.height()) / 2));
}

}  // namespace
