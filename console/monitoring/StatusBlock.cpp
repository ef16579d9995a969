#include "monitoring/StatusBlock.h"

#include "frame_codec.h"

namespace {

constexpr size_t kData = 3;  // address, function, byte count

// Offsets within the nine registers 0x2000-0x2008.
constexpr size_t kAlarm = 0, kLeak = 2, kLogCount = 6, kBuzzer = 8, kClock = 10;
// Offsets within the factory block's data: the mode, three floats, then the
// nine registers above.
constexpr size_t kWorkMode = 0, kChannels = 2, kMeasurement = 14;

MeasurementStatus DecodeMeasurementRegisters(const uint8_t* data) {
  MeasurementStatus s;
  s.alarm = GetU16(data + kAlarm);
  s.leakHundredths = GetU16(data + kLeak);
  s.logCount = GetU16(data + kLogCount);
  s.buzzer = GetU16(data + kBuzzer);
  s.clock = DecodeBcdClock(data + kClock);
  return s;
}

}  // namespace

BcdClock DecodeBcdClock(const uint8_t* bytes) {
  BcdClock c;
  c.year = GetU16(bytes);
  c.month = bytes[2];
  c.day = bytes[3];
  c.hour = bytes[4];
  c.minute = bytes[5];
  c.second = bytes[7];
  return c;
}

MeasurementStatus DecodeMeasurementBlock(const MeasurementReply& reply) {
  return DecodeMeasurementRegisters(reply + kData);
}

FactoryStatus DecodeFactoryBlock(const FactoryReply& reply) {
  const uint8_t* data = reply + kData;
  FactoryStatus s;
  s.workMode = GetU16(data + kWorkMode);
  for (int i = 0; i < 3; ++i) s.channel[i] = GetFloat(data + kChannels + 4 * i);
  s.measurement = DecodeMeasurementRegisters(data + kMeasurement);
  return s;
}
