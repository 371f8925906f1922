// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/toolkit_text.h"

QString toolkitText(const char* text) {
  QString converted = QString::fromUtf8(text == nullptr ? "" : text);
  // The application separates lines by a carriage return alone; CR LF is one line end too.
  converted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  converted.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return converted;
}
