// The status bar on Qt's offscreen platform: field layout, centred texts, and texts that
// arrive from other threads.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "toolkit_test_support.h"

namespace {

class ToolkitStatusBar : public ::testing::Test {
 protected:
  void SetUp() override { openPanelWindow(); }
  void TearDown() override { closeToolkit(); }
};

// The columns of a widget's image that hold anything but its background, as [first, last].
std::pair<int, int> inkColumns(QWidget* widget, int inset) {
  const QImage image = widget->grab().toImage();
  const QRgb background = image.pixel(inset, inset);
  int first = image.width();
  int last = -1;
  for (int y = inset; y < image.height() - inset; ++y) {
    for (int x = inset; x < image.width() - inset; ++x) {
      if (image.pixel(x, y) == background) continue;
      first = std::min(first, x);
      last = std::max(last, x);
    }
  }
  return {first, last};
}

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST_F(ToolkitStatusBar, FieldsEndAt100And200And230PixelsAlongTheBottom) {
  QWidget* window = windowWidget(PanelWindow);
  QWidget* bar = childWidget(PanelWindow, "statusBar0");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->geometry().bottom(), window->height() - 1);
  EXPECT_EQ(bar->width(), window->width());
  const int rightEdges[] = {100, 200, 230};
  int left = 0;
  for (int field = 0; field < 3; ++field) {
    const QRect area = statusField(PanelWindow, 0, field)->geometry();
    EXPECT_EQ(area.left(), left);
    EXPECT_EQ(area.left() + area.width(), rightEdges[field]);
    EXPECT_GE(area.height(), 18);
    left = rightEdges[field];
  }
  EXPECT_EQ(statusField(PanelWindow, 0, 3), nullptr);
  EXPECT_LT(childWidget(PanelWindow, "clientArea")->height(), 230);
}

TEST_F(ToolkitStatusBar, FieldsWithoutWidthShareTheRoomLeftAndAtMost256Exist) {
  ASSERT_NE(createStatusBar(1, windowHandle(PanelWindow)), 0);
  addStatusField(100);
  addStatusField(IgnoreValue);
  addStatusField(IgnoreValue);
  EXPECT_EQ(statusField(PanelWindow, 1, 1)->geometry(),
            QRect(100, 2, 205, statusField(PanelWindow, 1, 1)->height()));
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
  const auto [first, last] = inkColumns(field, 3);
  ASSERT_LT(first, last) << "the text is drawn";
  const int leftRoom = first;
  const int rightRoom = field->width() - 1 - last;
  EXPECT_NEAR(leftRoom, rightRoom, 2);
  EXPECT_GT(leftRoom, 20);
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
  using namespace std::chrono;
  std::atomic<bool> flooding{true};
  std::atomic<long> settledKilobytes{0};
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
    if (box == nullptr) return;
    boxShown = true;
    if (!flooding) box->accept();
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
