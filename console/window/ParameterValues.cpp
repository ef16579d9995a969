#include "window/ParameterValues.h"

#include "frame_codec.h"

QString FormatParameter(ParameterKind kind, const char* format, const uint8_t* data) {
  // QString::asprintf formats in the C locale, unlike the C library's
  // printf once Qt has set the process locale from the environment.
  const double value = kind == ParameterKind::Hundredths ? FromHundredths(GetU16(data))
                                                         : static_cast<double>(GetFloat(data));
  return QString::asprintf(format, value);
}
