// The modal message box: one OK button, no icon, the program's other windows blocked.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "ui/toolkit_internal.h"
#include "ui/toolkit_text.h"

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
  box.exec();
}
