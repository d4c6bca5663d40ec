// Formatting shared by the point records and the reader.
#pragma once

#include <QString>

// A point number as it appears in keys: decimal, at least two digits.
inline QString formatPointNumber(int number) { return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0')); }
