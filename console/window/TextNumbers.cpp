#include "window/TextNumbers.h"

#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

#include "frame_codec.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipBlanks(const char* p) {
  while (*p && std::strchr(" \t\n\v\f\r", *p)) ++p;
  return p;
}

// The text after leading blanks and a '+' (from_chars takes '-' only).
const char* SkipBlanksAndPlus(const char* p) {
  p = SkipBlanks(p);
  if (*p == '+' && p[1] != '-') ++p;
  return p;
}

const char* SkipDigits(const char* p) {
  while (IsDigit(*p)) ++p;
  return p;
}

bool IsDecimalSeparator(char c) { return c == '.' || c == ','; }

// The leading decimal number: [sign] digits [. digits] [e [sign] digits],
// at least one digit in the mantissa, as C text (a decimal comma becomes the
// point). Empty when there is none. Hexadecimal and the words nan and inf,
// which strtod would also take, are no number here.
std::string DecimalPrefix(const char* text) {
  const char* start = SkipBlanks(text);
  const char* p = start;
  if (*p == '+' || *p == '-') ++p;
  const char* intEnd = SkipDigits(p);
  bool digits = intEnd != p;
  p = intEnd;
  const char* separator = IsDecimalSeparator(*p) ? p : nullptr;
  if (separator) {
    const char* fracEnd = SkipDigits(p + 1);
    digits = digits || fracEnd != p + 1;
    p = fracEnd;
  }
  if (!digits) return {};
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (IsDigit(*q)) p = SkipDigits(q);
  }
  std::string number(start, p);
  if (separator) number[separator - start] = '.';
  return number;
}

}  // namespace

std::optional<int> AtoiDigits(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  const char* p = SkipBlanksAndPlus(bytes.constData());
  long long value = 0;
  const std::errc error = std::from_chars(p, bytes.constData() + bytes.size(), value).ec;
  if (error == std::errc::result_out_of_range) return *p == '-' ? INT_MIN : INT_MAX;
  if (error != std::errc()) return std::nullopt;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::optional<double> AtofDigits(const QString& text) {
  const std::string number = DecimalPrefix(text.toUtf8().constData());
  if (number.empty()) return std::nullopt;
  // Qt sets the process locale from the environment; a typed "1.5" must not
  // turn into 1 under a locale with a decimal comma.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return strtod_l(number.c_str(), nullptr, cLocale);
}

int AtoiText(const QString& text) { return AtoiDigits(text).value_or(0); }

double AtofText(const QString& text) { return AtofDigits(text).value_or(0.0); }

std::optional<uint8_t> StationAddress(const QString& text) {
  const std::optional<int> value = AtoiDigits(text);
  if (!value || *value < 1 || *value > 255) return std::nullopt;
  return static_cast<uint8_t>(*value);
}

std::optional<float> FloatValue(const QString& text) {
  const std::optional<double> value = AtofDigits(text);
  // Beyond FLT_MAX the narrowing would give infinity (and is undefined
  // behaviour in C++ besides).
  if (!value || !std::isfinite(*value) || std::fabs(*value) > FLT_MAX) return std::nullopt;
  return static_cast<float>(*value);
}

std::optional<uint16_t> HundredthsValue(const QString& text) {
  const std::optional<double> metres = AtofDigits(text);
  if (!metres) return std::nullopt;
  // The register's own rule (x 100, truncated toward zero), then its range:
  // 700 m would otherwise be stored as 44.64 m.
  const int32_t hundredths = ToHundredths(*metres);
  if (hundredths < 0 || hundredths > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(hundredths);
}
