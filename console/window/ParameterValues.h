// How a parameter's register value is shown in its field. Plain functions
// of the reply bytes, apart from the window.
#pragma once

#include <QString>

#include <cstdint>

enum class ParameterKind {
  Float,       // IEEE-754 single in two registers, most significant byte first
  Hundredths,  // one unsigned register holding metres x 100
  Index,       // one register holding a drop-down list position
};

// The text of a Float or Hundredths value whose register data start at
// `data`, printf-formatted with `format` ("%f", "%.2f") and always with a
// decimal point, whatever the user's locale: the field must read back as
// the same number.
QString FormatParameter(ParameterKind kind, const char* format, const uint8_t* data);
