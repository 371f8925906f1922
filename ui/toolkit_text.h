// SPDX-License-Identifier: GPL-3.0-or-later
// The application's texts as Qt shows them.
#pragma once

#include <QString>

// An 8-bit, zero-terminated text (UTF-8; null counts as empty) with every line end, a carriage
// return alone included, turned into Qt's line break.
QString toolkitText(const char* text);
