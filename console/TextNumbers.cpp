#include "TextNumbers.h"

#include <charconv>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace {

// The text after leading blanks and a '+' (from_chars takes '-' only).
const char* SkipBlanksAndPlus(const char* p) {
  while (*p && std::strchr(" \t\n\v\f\r", *p)) ++p;
  if (*p == '+' && p[1] != '-') ++p;
  return p;
}

}  // namespace

int AtoiText(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  const char* p = SkipBlanksAndPlus(bytes.constData());
  long long value = 0;
  const std::errc error = std::from_chars(p, bytes.constData() + bytes.size(), value).ec;
  if (error == std::errc::result_out_of_range) return *p == '-' ? INT_MIN : INT_MAX;
  if (error != std::errc()) return 0;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

double AtofText(const QString& text) {
  // Qt sets the process locale from the environment; a typed "1.5" must not
  // turn into 1 under a locale with a decimal comma.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const QByteArray bytes = text.toUtf8();
  return strtod_l(bytes.constData(), nullptr, cLocale);
}
