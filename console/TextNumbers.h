// Typed numbers, read as the console has always read them: the leading
// numeric prefix of the text (after blanks, with an optional sign), 0 when
// there is none. No validation; independent of the process locale.
#pragma once

#include <QString>

// Integer prefix; values beyond the int range saturate.
int AtoiText(const QString& text);
// Decimal prefix ("3.5V" is 3.5); a decimal point, never a comma.
double AtofText(const QString& text);
