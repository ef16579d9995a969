#include "device_clock.h"

#include <algorithm>
#include <ctime>

namespace sim {
namespace {

bool IsBcdByte(uint8_t b) { return (b >> 4) <= 9 && (b & 0x0F) <= 9; }

bool IsLeap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(int month, int year) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

ClockFields DeviceClock::At(int64_t deltaSeconds) const {
  const std::time_t t =
      std::time(nullptr) + static_cast<std::time_t>(offsetSeconds_ + deltaSeconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  ClockFields c;
  c.year = tm.tm_year + 1900;
  c.month = tm.tm_mon + 1;
  c.day = tm.tm_mday;
  c.hour = tm.tm_hour;
  c.minute = tm.tm_min;
  c.second = tm.tm_sec;
  return c;
}

void DeviceClock::Encode(uint8_t out[8]) const {
  // Past the year 9999 (a clock set to its end and left running) all zero.
  if (!EncodeClock(Now(), out)) std::fill(out, out + 8, uint8_t{0});
}

bool DeviceClock::IsValid(const uint8_t in[8]) {
  for (int i = 0; i < 8; ++i) {
    if (i != 6 && !IsBcdByte(in[i])) return false;
  }
  const ClockFields c = DecodeClock(in);
  return c.year >= 2000 && c.year <= 2099 && c.month >= 1 && c.month <= 12 &&
         c.day >= 1 && c.day <= DaysIn(c.month, c.year) && c.hour <= 23 &&
         c.minute <= 59 && c.second <= 59;
}

bool DeviceClock::SetFromBcd(const uint8_t in[8]) {
  if (!IsValid(in)) return false;
  const ClockFields c = DecodeClock(in);
  std::tm tm{};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1;
  const std::time_t set = std::mktime(&tm);
  if (set == static_cast<std::time_t>(-1)) return false;
  offsetSeconds_ = static_cast<int64_t>(set) - static_cast<int64_t>(std::time(nullptr));
  return true;
}

}  // namespace sim
