// SPDX-License-Identifier: GPL-3.0-or-later
// The window's layout and its status bar on Qt's offscreen platform: field geometry, centred
// texts, and texts that arrive from other threads.
#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "toolkit_test_support.h"

namespace {

class ToolkitStatusBar : public ::testing::Test {
 protected:
  void SetUp() override { openPanelWindow(); }
  void TearDown() override { closeToolkit(); }
};

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
}

TEST_F(ToolkitStatusBar, MenuBarAndStatusBarTakeTheirHeightFromTheClientArea) {
  QWidget* window = windowWidget(PanelWindow);
  const int menuHeight = childWidget(PanelWindow, "menuBar0")->height();
  QWidget* statusBar = childWidget(PanelWindow, "statusBar0");
  EXPECT_EQ(window->size(), QSize(510, 230));
  EXPECT_GT(menuHeight, 0);
  EXPECT_EQ(childWidget(PanelWindow, "clientArea")->geometry(),
            QRect(0, menuHeight, 510, 230 - menuHeight));
  EXPECT_EQ(controlWidget<QWidget>(PanelWindow, PanelAttackSlider)->mapTo(window, QPoint()),
            QPoint(250, 40 + menuHeight));
  EXPECT_EQ(statusBar->geometry(), QRect(0, 230 - statusBar->height(), 510, statusBar->height()));
  EXPECT_LE(menuHeight + statusBar->height(), 50) << "the read-outs end at 180 and stay visible";

  const int rightEdges[] = {100, 200, 230};
  int left = 0;
  for (int field = 0; field < 3; ++field) {
    const QRect area = statusField(PanelWindow, 0, field)->geometry();
    EXPECT_EQ(area.left(), left);
    left += area.width();
    EXPECT_EQ(left, rightEdges[field]);
    EXPECT_GE(area.height(), 18);
  }
}

TEST_F(ToolkitStatusBar, FieldsWithoutWidthShareTheRoomLeftAndAtMost256Exist) {
  ASSERT_NE(createStatusBar(1, windowHandle(PanelWindow)), 0);
  addStatusField(100);
  addStatusField(IgnoreValue);
  addStatusField(IgnoreValue);
  EXPECT_EQ(statusField(PanelWindow, 1, 1)->x(), 100);
  EXPECT_EQ(statusField(PanelWindow, 1, 1)->width(), (510 - 100) / 2);
  EXPECT_EQ(statusField(PanelWindow, 1, 2)->x(), 305);
  for (int field = 3; field < 300; ++field) addStatusField(1);
  EXPECT_NE(statusField(PanelWindow, 1, 255), nullptr);
  EXPECT_EQ(statusField(PanelWindow, 1, 256), nullptr);
}

TEST_F(ToolkitStatusBar, TextIsCentredInItsField) {
  EXPECT_TRUE(statusBarExists(0));
  EXPECT_FALSE(statusBarExists(1));
  setStatusText(0, 1, "Off", StatusTextCentred);
  QLabel* field = statusField(PanelWindow, 0, 1);
  EXPECT_EQ(field->text(), "Off");
  // The columns that hold ink, inside the field's border.
  const QImage image = field->grab().toImage();
  const QRgb background = image.pixel(3, 3);
  int first = image.width();
  int last = -1;
  for (int y = 3; y < image.height() - 3; ++y) {
    for (int x = 3; x < image.width() - 3; ++x) {
      if (image.pixel(x, y) == background) continue;
      first = std::min(first, x);
      last = std::max(last, x);
    }
  }
  ASSERT_LT(first, last) << "the text is drawn";
  EXPECT_NEAR(first, field->width() - 1 - last, 2);
  setStatusText(0, 7, "no such field", StatusTextCentred);
  setStatusText(5, 0, "no such bar", StatusTextCentred);
}

TEST_F(ToolkitStatusBar, CrossThreadTextIsShownWhileTheWindowThreadWaits) {
  std::string buffer = "On 261.626";
  std::thread writer([&buffer] {
    setStatusText(0, 1, buffer.c_str(), StatusTextCentred);
    buffer.assign("overwritten");  // the caller's buffer may change at once
  });
  writer.join();
  for (int wait = 0; wait < 100 && statusField(PanelWindow, 0, 1)->text().isEmpty(); ++wait) {
    waitEvent(10);
  }
  EXPECT_EQ(statusField(PanelWindow, 0, 1)->text(), "On 261.626");
}

// 100,000 texts a second for two seconds while the window thread sits in a message box: the
// last text is shown and memory stays flat.
TEST_F(ToolkitStatusBar, CrossThreadFloodDuringAMessageBoxKeepsMemoryFlat) {
#ifdef QUILLFERN_SANITIZED
  GTEST_SKIP() << "a sanitizer keeps freed memory in quarantine";
#endif
  using namespace std::chrono;
  std::atomic<bool> flooding{true};
  long settledKilobytes = 0;
  std::string lastText;
  std::thread writer([&] {
    char text[32];
    const auto start = steady_clock::now();
    for (int call = 0; call < 200000; ++call) {
      if (call % 1000 == 0) std::this_thread::sleep_until(start + milliseconds(call / 100));
      if (call == 50000) settledKilobytes = residentKilobytes();
      std::snprintf(text, sizeof text, "On %d.000", call);
      if (statusBarExists(0)) setStatusText(0, 1, text, StatusTextCentred);
    }
    lastText = text;
    flooding = false;
  });
  bool boxShown = false;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    boxShown = boxShown || box != nullptr;
    if (box != nullptr && !flooding) box->accept();
  });
  closer.start(50);
  showMessage("About", "Quillfern");
  writer.join();
  const long finalKilobytes = residentKilobytes();
  RecordProperty("residentKilobytesAfterQuarter", static_cast<int>(settledKilobytes));
  RecordProperty("residentKilobytesAtEnd", static_cast<int>(finalKilobytes));
  EXPECT_TRUE(boxShown);
  EXPECT_LT(finalKilobytes - settledKilobytes, 2048) << "grew from " << settledKilobytes;
  waitEvent(0);
  EXPECT_EQ(statusField(PanelWindow, 0, 1)->text().toStdString(), lastText);
}

TEST_F(ToolkitStatusBar, CrossThreadTextsDuringShutdownAreDroppedSafely) {
  std::atomic<bool> writing{true};
  std::atomic<int> afterShutdown{0};
  std::thread writer([&] {
    while (writing) {
      const bool exists = statusBarExists(0);
      setStatusText(0, 1, "On 440.000", StatusTextCentred);
      if (!exists) ++afterShutdown;
    }
  });
  waitEvent(20);
  closeToolkit();
  while (afterShutdown < 1000) std::this_thread::yield();
  writing = false;
  writer.join();
  EXPECT_FALSE(statusBarExists(0));
}

}  // namespace
