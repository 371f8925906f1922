// SPDX-License-Identifier: GPL-3.0-or-later
// The modal message box: one OK button, no icon, the program's other windows blocked.
#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <cstdio>

#include "ui/toolkit_internal.h"
#include "ui/toolkit_text.h"

namespace {

// A title bar holds the window's icon and three buttons (minimise, maximise, close) beside its
// title; each is about as wide as the bar is high, at most about two lines of the title font.
constexpr int TitleBarButtons = 4;
constexpr int ButtonWidthInLines = 2;

// Window managers draw titles in a bold font of about the application's size and cut a title
// that does not fit down to "…". The box is made wide enough for its whole title: a spacer
// under its text and button, which keep their places.
void makeRoomForTitle(QMessageBox& box) {
  auto* const grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  QFont titleFont = box.font();
  titleFont.setBold(true);
  const QFontMetrics metrics(titleFont);
  const int width = metrics.horizontalAdvance(box.windowTitle()) +
                    TitleBarButtons * ButtonWidthInLines * metrics.height();
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

void showMessage(const char* title, const char* text) {
  if (!startGui()) {
    // Without a display the message still reaches whoever started the program.
    std::fprintf(stderr, "%s: %s\n", toolkitText(title).toLocal8Bit().constData(),
                 toolkitText(text).toLocal8Bit().constData());
    return;
  }
  // Owned by the active window when the program has one, so it stands over it.
  QMessageBox box(QMessageBox::NoIcon, toolkitText(title), toolkitText(text), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  makeRoomForTitle(box);
  box.exec();
}
