// Controls on Qt's offscreen platform: what the user's actions raise, what the program's
// changes do not, and the states that other threads read.
#include <QAccessible>
#include <QApplication>
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

// Presses the mouse near one end of the slider's groove, drags to the other end and lets go.
void dragSlider(QSlider* slider, bool fromBottom) {
  const int x = slider->width() / 2;
  const QPoint bottom(x, slider->height() - 4);
  const QPoint top(x, 4);
  QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, fromBottom ? bottom : top);
  for (int step = 1; step <= 10; ++step) {
    const QPoint from = fromBottom ? bottom : top;
    const QPoint to = fromBottom ? top : bottom;
    QTest::mouseMove(slider, from + (to - from) * step / 10);
  }
  QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, fromBottom ? top : bottom);
}

TEST_F(ToolkitControls, VerticalSliderValueGrowsUpwards) {
  auto* slider = controlWidget<QSlider>(PanelWindow, PanelAttackSlider);
  EXPECT_EQ(getControlState(PanelAttackSlider), 1) << "a new slider stands at its minimum";

  // At the minimum the thumb is at the bottom: grabbing it there and pulling it up ends at
  // the maximum.
  dragSlider(slider, true);
  EXPECT_EQ(slider->value(), 2000);
  EXPECT_EQ(readOnAnotherThread(PanelAttackSlider), 2000);
  EXPECT_EQ(takeWaitingEvents(), (Events{{ControlEvent, PanelAttackSlider, PanelWindow, 0}}));

  dragSlider(slider, false);
  EXPECT_EQ(getControlState(PanelAttackSlider), 1);

  QTest::keyClick(slider, Qt::Key_Up);
  EXPECT_EQ(readOnAnotherThread(PanelAttackSlider), 2);
  EXPECT_FALSE(takeWaitingEvents().empty());
}

TEST_F(ToolkitControls, SliderStatesAreClampedToTheRange) {
  setControlState(PanelAttackSlider, 5000);
  EXPECT_EQ(getControlState(PanelAttackSlider), 2000);
  setControlState(PanelAttackSlider, -3);
  EXPECT_EQ(getControlState(PanelAttackSlider), 1);

  const int32_t negative = addSlider(AnyNumber, 0, 0, 20, 120, -50, 10, SliderVertical);
  EXPECT_EQ(getControlState(negative), 0) << "a negative bound is taken as 0";
  setControlState(negative, -20);
  EXPECT_EQ(getControlState(negative), 0);
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
  EXPECT_EQ(comboBox->itemText(2), "c");

  setControlState(list, 2);
  EXPECT_EQ(getControlState(list), 2);
  setControlState(list, 5);
  EXPECT_EQ(getControlState(list), -1);
  EXPECT_EQ(comboBox->currentIndex(), -1);
  EXPECT_EQ(comboBox->height(), 20);
}

TEST_F(ToolkitControls, UserSelectionRaisesAChangeEvent) {
  auto* comboBox = controlWidget<QComboBox>(PanelWindow, PanelDeviceList);
  QTest::keyClick(comboBox, Qt::Key_Down);
  EXPECT_EQ(readOnAnotherThread(PanelDeviceList), 1);
  EXPECT_EQ(takeWaitingEvents(),
            (Events{{ControlEvent, PanelDeviceList, PanelWindow, ChangeEventType}}));
  comboBox->showPopup();
  comboBox->hidePopup();
  EXPECT_TRUE(takeWaitingEvents().empty()) << "opening and closing the list raise nothing";
}

TEST_F(ToolkitControls, CheckBoxTogglesByClickAndSpace) {
  auto* checkBox = controlWidget<QCheckBox>(PanelWindow, PanelCheckBox);
  const RaisedEvent toggled{ControlEvent, PanelCheckBox, PanelWindow, 0};
  QTest::mouseClick(checkBox, Qt::LeftButton, Qt::NoModifier, QPoint(8, checkBox->height() / 2));
  EXPECT_EQ(getControlState(PanelCheckBox), 1);
  EXPECT_EQ(waitEvent(0), ControlEvent) << "returned at once";
  EXPECT_EQ(eventControl(), PanelCheckBox);

  QTest::keyClick(checkBox, Qt::Key_Space);
  QTest::keyClick(checkBox, Qt::Key_Space);
  EXPECT_EQ(readOnAnotherThread(PanelCheckBox), 1);
  EXPECT_EQ(takeWaitingEvents(), (Events{toggled, toggled})) << "check-box events never merge";
}

TEST_F(ToolkitControls, EditorBreaksLinesAtBareCarriageReturnsAndDoesNotWrap) {
  const int32_t editor = addEditor(AnyNumber, 5, 5, 610, 360, EditorReadOnly);
  ASSERT_NE(editor, 0);
  auto* textEdit = controlWidget<QTextEdit>(PanelWindow, editor);
  const std::string longLine(400, 'x');
  setControlText(editor, ("\rfirst\rsecond\r\nthird\r" + longLine).c_str());

  const QTextDocument* document = textEdit->document();
  ASSERT_EQ(document->blockCount(), 5);
  EXPECT_EQ(document->findBlockByNumber(0).text(), "");
  EXPECT_EQ(document->findBlockByNumber(1).text(), "first");
  EXPECT_EQ(document->findBlockByNumber(2).text(), "second");
  EXPECT_EQ(document->findBlockByNumber(3).text(), "third");
  EXPECT_TRUE(textEdit->isReadOnly());
  EXPECT_EQ(textEdit->lineWrapMode(), QTextEdit::NoWrap);
  EXPECT_TRUE(textEdit->horizontalScrollBar()->isVisible());
  EXPECT_GT(textEdit->horizontalScrollBar()->maximum(), 0) << "the long line is not wrapped";
  EXPECT_TRUE(textEdit->verticalScrollBar()->isVisible());
  EXPECT_EQ(textEdit->size(), QSize(610, 360)) << "keeps its size past the client area";
  EXPECT_EQ(getControlState(editor), 0);
}

// Read-outs keep the place and size the application gives them and still show their whole
// number on one line, however large the desktop's font.
TEST_F(ToolkitControls, LabelsShowTheirWholeTextInTheirOwnBox) {
  auto* readout = controlWidget<QLabel>(PanelWindow, PanelIReadout);
  const int32_t letter = addTextLabel(AnyNumber, 105, 27, 20, 20, "I");
  QFont large = windowWidget(PanelWindow)->font();
  large.setPointSize(12);
  windowWidget(PanelWindow)->setFont(large);
  for (const char* text : {"3.000", "0.0100", "5.000"}) {
    setControlText(PanelIReadout, text);
    EXPECT_FALSE(readout->wordWrap());
    EXPECT_EQ(readout->geometry(), QRect(90, 160, 30, 20));
    EXPECT_LE(readout->fontMetrics().horizontalAdvance(text), readout->width()) << text;
  }
  setControlText(letter, "r");
  EXPECT_EQ(controlWidget<QLabel>(PanelWindow, letter)->font().pointSize(), 12)
      << "a text that fits keeps the window's font";
}

TEST_F(ToolkitControls, TabMovesTheFocusPastLabels) {
  QWidget* slider = controlWidget<QWidget>(PanelWindow, PanelISlider);
  QWidget* checkBox = controlWidget<QWidget>(PanelWindow, PanelCheckBox);
  slider->setFocus();
  QTest::keyClick(slider, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), checkBox) << "the read-out between them takes no focus";
  QTest::keyClick(checkBox, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), slider);
  EXPECT_TRUE(takeWaitingEvents().empty());
}

TEST_F(ToolkitControls, ControlNumbersAreChosenReplacedOrRefused) {
  const int32_t chosen = addSlider(AnyNumber, 0, 0, 20, 120, 7, 9, SliderVertical);
  EXPECT_GT(chosen, 0);
  EXPECT_LT(chosen, ControlStateCapacity);
  EXPECT_NE(chosen, PanelISlider);
  EXPECT_EQ(getControlState(chosen), 7);

  EXPECT_NE(addTextLabel(PanelISlider, 0, 0, 20, 20, "now a label"), 0);
  EXPECT_EQ(windowWidget(PanelWindow)->findChildren<QSlider*>("control17").size(), 0);
  EXPECT_NE(controlWidget<QLabel>(PanelWindow, PanelISlider), nullptr);
  EXPECT_EQ(getControlState(PanelISlider), 0);
  setControlState(PanelISlider, 3);
  EXPECT_EQ(getControlState(PanelISlider), 0);

  EXPECT_EQ(addSlider(ControlStateCapacity, 0, 0, 20, 120, 1, 2, SliderVertical), 0);
  setControlState(999, 1);
  setControlText(999, "nothing");
  addControlItem(PanelISlider, -1, "not a combo box");

  closeWindow(PanelWindow);
  EXPECT_EQ(addCheckBox(30, 0, 0, 40, 20, "no window"), 0);
}

TEST_F(ToolkitControls, ControlsCarryAccessibleNames) {
  setControlAccessibleName(PanelISlider, "I");
  QAccessibleInterface* slider =
      QAccessible::queryAccessibleInterface(controlWidget<QWidget>(PanelWindow, PanelISlider));
  ASSERT_NE(slider, nullptr);
  EXPECT_EQ(slider->text(QAccessible::Name), "I");
  QAccessibleInterface* checkBox =
      QAccessible::queryAccessibleInterface(controlWidget<QWidget>(PanelWindow, PanelCheckBox));
  EXPECT_EQ(checkBox->text(QAccessible::Name), "s");
  setStatusText(0, 0, "MIDI IN", StatusTextCentred);
  QAccessibleInterface* field =
      QAccessible::queryAccessibleInterface(statusField(PanelWindow, 0, 0));
  EXPECT_EQ(field->text(QAccessible::Name), "MIDI IN");
  EXPECT_EQ(field->text(QAccessible::Description), "Status field 1");
}

}  // namespace
