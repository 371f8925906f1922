// SPDX-License-Identifier: GPL-3.0-or-later
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
  void SetUp() override { openPanelWindow(); }
  void TearDown() override { closeToolkit(); }
};

constexpr RaisedEvent sliderEvent(int32_t slider, int32_t window = PanelWindow) {
  return {ControlEvent, slider, window, 0};
}

void pressUp(int32_t window, int32_t slider) {
  QTest::keyClick(controlWidget<QSlider>(window, slider), Qt::Key_Up);
}

TEST_F(ToolkitEvents, QueueMergesOnlyARepeatOfTheLastWaitingEvent) {
  pressUp(PanelWindow, PanelISlider);
  pressUp(PanelWindow, PanelISlider);
  EXPECT_EQ(takeWaitingEvents(), Events{sliderEvent(PanelISlider)});

  pressUp(PanelWindow, PanelISlider);
  QTest::keyClick(controlWidget<QComboBox>(PanelWindow, PanelDeviceList), Qt::Key_Down);
  pressUp(PanelWindow, PanelISlider);
  const RaisedEvent selection{ControlEvent, PanelDeviceList, PanelWindow, ChangeEventType};
  EXPECT_EQ(takeWaitingEvents(),
            (Events{sliderEvent(PanelISlider), selection, sliderEvent(PanelISlider)}));
  EXPECT_EQ(getControlState(PanelISlider), 504) << "merged events lose no step";
}

TEST_F(ToolkitEvents, ClosingAWindowDropsItsEventsAndNoOthers) {
  const int32_t other = openWindow(AnyNumber, IgnoreValue, IgnoreValue, 200, 200, "Other",
                                   WindowTitleBar + WindowScreenCentred);
  const int32_t otherSlider = addSlider(AnyNumber, 10, 10, 20, 120, 0, 10, SliderVertical);
  ASSERT_NE(otherSlider, 0);

  pressUp(other, otherSlider);
  pressUp(PanelWindow, PanelISlider);
  EXPECT_FALSE(windowWidget(other)->close()) << "the close box only raises an event";
  pressUp(PanelWindow, PanelAttackSlider);
  closeWindow(PanelWindow);

  EXPECT_EQ(takeWaitingEvents(),
            (Events{sliderEvent(otherSlider, other), RaisedEvent{CloseWindowEvent, 0, other, 0}}));
  EXPECT_TRUE(windowWidget(other)->isVisible());
  EXPECT_EQ(windowHandle(PanelWindow), nullptr);
  EXPECT_EQ(getControlState(PanelISlider), 0) << "a destroyed control reads 0";
}

TEST_F(ToolkitEvents, CurrentEventStaysUntilTheNextEventIsReturned) {
  pressUp(PanelWindow, PanelAttackSlider);
  ASSERT_EQ(waitEvent(0), ControlEvent);
  EXPECT_EQ(waitEvent(0), NoEvent);
  EXPECT_EQ(waitEvent(1), NoEvent);
  EXPECT_EQ(eventControl(), PanelAttackSlider);
  EXPECT_EQ(eventWindow(), PanelWindow);

  auto* menuBar = qobject_cast<QMenuBar*>(childWidget(PanelWindow, "menuBar0"));
  menuBar->actions()[0]->menu()->actions()[1]->trigger();  // "?" > "Help"
  ASSERT_EQ(waitEvent(0), MenuEvent);
  EXPECT_EQ(eventMenu(), 2);
  EXPECT_EQ(eventType(), 0);
}

TEST_F(ToolkitEvents, EscapeRaisesTheShortcutOnlyInTheActiveWindowAndWithoutModifiers) {
  const RaisedEvent quit{MenuEvent, PanelQuitShortcut, PanelWindow, 0};
  QWidget* slider = controlWidget<QWidget>(PanelWindow, PanelISlider);
  QTest::keyClick(slider, Qt::Key_Escape);
  QTest::keyClick(slider, Qt::Key_Escape, Qt::ShiftModifier);
  EXPECT_EQ(takeWaitingEvents(), Events{quit});

  auto* deviceList = controlWidget<QComboBox>(PanelWindow, PanelDeviceList);
  deviceList->showPopup();
  QWidget* list = QApplication::activePopupWidget();
  ASSERT_NE(list, nullptr);
  QTest::keyClick(list->focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(takeWaitingEvents(), Events{quit}) << "with the list open";
  deviceList->hidePopup();

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

TEST_F(ToolkitEvents, WaitsLastAsLongAsAsked) {
  takeWaitingEvents();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitEvent(1), NoEvent);
  EXPECT_EQ(waitEvent(20), NoEvent);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(21));

  // Waiting forever returns the first event, not the status text handled on the way.
  std::thread writer([] { setStatusText(0, 1, "On 440.000", StatusTextCentred); });
  QTimer::singleShot(50, [] { pressUp(PanelWindow, PanelAttackSlider); });
  EXPECT_EQ(waitEvent(WaitForever), ControlEvent);
  EXPECT_EQ(eventControl(), PanelAttackSlider);
  writer.join();
}

TEST_F(ToolkitEvents, NumbersAreChosenReplacedOrRefused) {
  const int32_t chosen = openWindow(AnyNumber, 10, 20, 300, 200, "Any", WindowTitleBar);
  EXPECT_NE(chosen, 0);
  EXPECT_NE(chosen, PanelWindow);
  EXPECT_EQ(windowWidget(chosen)->pos(), QPoint(10, 20));

  windowWidget(PanelWindow)->close();  // queues a close request for window 1
  EXPECT_NE(openWindow(PanelWindow, 0, 0, 100, 100, "Again", WindowTitleBar), 0);
  EXPECT_EQ(windowWidget(PanelWindow)->windowTitle(), "Again");
  EXPECT_EQ(controlWidget<QWidget>(PanelWindow, PanelISlider), nullptr);
  EXPECT_TRUE(takeWaitingEvents().empty()) << "the replaced window's events went with it";

  const int32_t slider = addSlider(AnyNumber, 0, 0, 20, 120, 7, 9, SliderVertical);
  EXPECT_GT(slider, 0);
  EXPECT_LT(slider, ControlStateCapacity) << "other threads can read its state";
  EXPECT_EQ(getControlState(slider), 7);
  EXPECT_NE(addTextLabel(slider, 0, 0, 20, 20, "now a label"), 0);
  setControlState(slider, 3);
  EXPECT_EQ(getControlState(slider), 0) << "the slider went; a label has no state";
  EXPECT_EQ(addSlider(ControlStateCapacity, 0, 0, 20, 120, 1, 2, SliderVertical), 0);

  EXPECT_EQ(openWindow(-7, 0, 0, 100, 100, "Bad number", WindowTitleBar), 0);
  EXPECT_EQ(windowHandle(99), nullptr);
  closeWindow(99);
  addKeyboardShortcut(99, KeyEscape, 1);
  EXPECT_EQ(createMenuBar(0, nullptr), 0);
  int unrelated = 0;
  EXPECT_EQ(createStatusBar(0, &unrelated), 0);
  closeWindow(PanelWindow);
  closeWindow(chosen);
  EXPECT_EQ(addCheckBox(30, 0, 0, 40, 20, "no window"), 0);
}

}  // namespace
