// SPDX-License-Identifier: GPL-3.0-or-later
// Controls on Qt's offscreen platform: what the user's actions raise, what the program's
// changes do not, and the states that other threads read.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <thread>

#include <gtest/gtest.h>

#include "toolkit_test_support.h"

namespace {

class ToolkitControls : public ::testing::Test {
 protected:
  void SetUp() override {
    openPanelWindow();
    takeWaitingEvents();
  }
  void TearDown() override { closeToolkit(); }
};

int32_t readOnAnotherThread(int32_t control) {
  int32_t state = 0;
  std::thread reader([&state, control] { state = getControlState(control); });
  reader.join();
  return state;
}

// Presses the mouse near one end of the slider, drags to the other end and lets go.
void dragSlider(QSlider* slider, QPoint from, QPoint to) {
  QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, from);
  for (int step = 1; step <= 10; ++step) QTest::mouseMove(slider, from + (to - from) * step / 10);
  QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, to);
}

TEST_F(ToolkitControls, VerticalSliderGrowsUpwardsWithinItsRange) {
  auto* slider = controlWidget<QSlider>(PanelWindow, PanelAttackSlider);
  const QPoint bottom(slider->width() / 2, slider->height() - 4);
  const QPoint top(slider->width() / 2, 4);
  EXPECT_EQ(getControlState(PanelAttackSlider), 1) << "a new slider stands at its minimum";

  // At the minimum the thumb is at the bottom: pulled from there to the top it reaches the
  // maximum, and the other threads read the new value at once.
  dragSlider(slider, bottom, top);
  EXPECT_EQ(readOnAnotherThread(PanelAttackSlider), 2000);
  EXPECT_EQ(takeWaitingEvents(), (Events{{ControlEvent, PanelAttackSlider, PanelWindow, 0}}));
  dragSlider(slider, top, bottom);
  EXPECT_EQ(getControlState(PanelAttackSlider), 1);
  QTest::keyClick(slider, Qt::Key_Up);
  EXPECT_EQ(readOnAnotherThread(PanelAttackSlider), 2);
  EXPECT_FALSE(takeWaitingEvents().empty());

  setControlState(PanelAttackSlider, 5000);
  EXPECT_EQ(getControlState(PanelAttackSlider), 2000);
  setControlState(PanelAttackSlider, -3);
  EXPECT_EQ(getControlState(PanelAttackSlider), 1);
  const int32_t negative = addSlider(AnyNumber, 0, 0, 20, 120, -50, 10, SliderVertical);
  EXPECT_EQ(getControlState(negative), 0) << "a negative bound is taken as 0";
}

TEST_F(ToolkitControls, ProgramChangesRaiseNoEvents) {
  setControlState(PanelISlider, 20);
  setControlState(PanelDeviceList, 1);
  setControlState(PanelCheckBox, 1);
  setControlText(PanelIReadout, "1.080");
  addControlItem(PanelDeviceList, 0, "First");
  EXPECT_EQ(waitEvent(0), NoEvent);
  EXPECT_EQ(getControlState(PanelISlider), 20);
  EXPECT_EQ(getControlState(PanelCheckBox), 1);
  EXPECT_EQ(getControlState(PanelDeviceList), 2) << "the selection follows its item";
  EXPECT_EQ(controlWidget<QLabel>(PanelWindow, PanelIReadout)->text(), "1.080");
}

TEST_F(ToolkitControls, ComboBoxReadsMinusOneWithoutSelection) {
  const int32_t list = addComboBox(AnyNumber, 10, 10, 140, 20);
  auto* comboBox = controlWidget<QComboBox>(PanelWindow, list);
  EXPECT_EQ(getControlState(list), -1);
  addControlItem(list, -1, "b");
  addControlItem(list, 0, "a");
  addControlItem(list, -1, "c");
  addControlItem(list, -2, "ignored");
  addControlItem(list, 7, "ignored");
  EXPECT_EQ(getControlState(list), -1) << "adding items selects nothing";
  ASSERT_EQ(comboBox->count(), 3);
  EXPECT_EQ(comboBox->itemText(0), "a");
  EXPECT_EQ(comboBox->height(), 20);
  setControlState(list, 2);
  setControlState(list, 5);
  EXPECT_EQ(getControlState(list), -1) << "an index that names no item";
  EXPECT_EQ(comboBox->currentIndex(), -1);

  QTest::keyClick(comboBox, Qt::Key_Down);
  EXPECT_EQ(readOnAnotherThread(list), 0);
  comboBox->showPopup();
  comboBox->hidePopup();
  EXPECT_EQ(takeWaitingEvents(), (Events{{ControlEvent, list, PanelWindow, ChangeEventType}}))
      << "the user's change and nothing for opening and closing the list";
}

TEST_F(ToolkitControls, CheckBoxTogglesByClickAndSpaceAndEventsNeverMerge) {
  auto* checkBox = controlWidget<QCheckBox>(PanelWindow, PanelCheckBox);
  const RaisedEvent toggled{ControlEvent, PanelCheckBox, PanelWindow, 0};
  QTest::mouseClick(checkBox, Qt::LeftButton, Qt::NoModifier, QPoint(8, checkBox->height() / 2));
  EXPECT_EQ(getControlState(PanelCheckBox), 1);
  QTest::keyClick(checkBox, Qt::Key_Space);
  QTest::keyClick(checkBox, Qt::Key_Space);
  EXPECT_EQ(readOnAnotherThread(PanelCheckBox), 1);
  EXPECT_EQ(takeWaitingEvents(), (Events{toggled, toggled, toggled}));
}

TEST_F(ToolkitControls, EditorBreaksLinesAtBareCarriageReturnsAndDoesNotWrap) {
  const int32_t editor = addEditor(AnyNumber, 5, 5, 610, 360, EditorReadOnly);
  auto* textEdit = controlWidget<QTextEdit>(PanelWindow, editor);
  ASSERT_NE(textEdit, nullptr);
  setControlText(editor, ("\rfirst\rsecond\r\nthird\r" + std::string(400, 'x')).c_str());

  const QTextDocument* document = textEdit->document();
  ASSERT_EQ(document->blockCount(), 5);
  EXPECT_EQ(document->findBlockByNumber(0).text(), "");
  EXPECT_EQ(document->findBlockByNumber(1).text(), "first");
  EXPECT_EQ(document->findBlockByNumber(3).text(), "third") << "CR LF is one line end";
  EXPECT_TRUE(textEdit->isReadOnly());
  EXPECT_TRUE(textEdit->verticalScrollBar()->isVisible());
  EXPECT_TRUE(textEdit->horizontalScrollBar()->isVisible());
  EXPECT_GT(textEdit->horizontalScrollBar()->maximum(), 0) << "the long line is not wrapped";
  EXPECT_EQ(textEdit->size(), QSize(610, 360)) << "keeps its size past the client area";
}

// Read-outs keep the place and size the application gives them and still show their whole
// number on one line, however large the desktop's font.
TEST_F(ToolkitControls, LabelsShowTheirWholeTextInTheirOwnBox) {
  auto* readout = controlWidget<QLabel>(PanelWindow, PanelIReadout);
  const int32_t letter = addTextLabel(AnyNumber, 105, 27, 20, 20, "I");
  QFont large = windowWidget(PanelWindow)->font();
  large.setPointSize(12);
  windowWidget(PanelWindow)->setFont(large);
  for (const char* text : {"3.000", "0.0100"}) {
    setControlText(PanelIReadout, text);
    EXPECT_FALSE(readout->wordWrap());
    EXPECT_EQ(readout->geometry(), QRect(90, 160, 30, 20));
    EXPECT_LE(readout->fontMetrics().horizontalAdvance(text), readout->width()) << text;
  }
  setControlText(letter, "r");
  EXPECT_EQ(controlWidget<QLabel>(PanelWindow, letter)->font().pointSize(), 12)
      << "a text that fits keeps the window's font";
}

}  // namespace
