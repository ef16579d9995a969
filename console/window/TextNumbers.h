// Typed numbers, read as the console has always read them: the leading
// numeric prefix of the text (after blanks, with an optional sign), 0 when
// there is none. Independent of the process locale.
//
// The checked readers below say whether the text has a number at all, and
// refuse values a register cannot hold; the commands that write to the
// controller use them so that a mistyped field never reaches the device.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// Integer prefix; values beyond the int range saturate.
int AtoiText(const QString& text);
// Decimal prefix ("3.5V" is 3.5); a decimal comma is a decimal point
// ("12,5" is 12.5), as a technician used to it types one; decimal only
// ("0x10" is 0, "nan" and "inf" are no number).
double AtofText(const QString& text);

// The same prefixes, or nothing when the text does not start with a number.
std::optional<int> AtoiDigits(const QString& text);
std::optional<double> AtofDigits(const QString& text);

// A station address the controller answers to: 1..255 as AtoiText reads
// the text, checked before it is cut to eight bits. 0 is the broadcast
// address (every controller takes a write, none answers).
std::optional<uint8_t> StationAddress(const QString& text);
// A value for a float register: a leading number that stays finite as a
// single-precision float ("1e39" does not).
std::optional<float> FloatValue(const QString& text);
// A length in metres for a hundredths register: a leading number whose
// hundredths, truncated toward zero, fit 0..65535.
std::optional<uint16_t> HundredthsValue(const QString& text);
