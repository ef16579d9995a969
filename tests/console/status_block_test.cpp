// The monitoring poll's status blocks, decoded from literal replies apart
// from any window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "monitoring/StatusBlock.h"

namespace {

struct MeasurementCase {
  const char* name;
  std::vector<uint8_t> reply;  // 23 bytes; the decode does not look at the check bytes
  MeasurementStatus expected;
};

// Registers 0x2000-0x2008 as a controller sends them. 0x2002 and the
// reserved clock byte carry junk that must not leak into the values.
const MeasurementCase kMeasurementCases[] = {
    {"LeakWithBuzzerOn",
     {0x01, 0x03, 0x12,
      0x00, 0x01, 0x30, 0x39, 0xFF, 0xFF, 0x00, 0x2A, 0x00, 0x00,
      0x20, 0x15, 0x09, 0x07, 0x08, 0x05, 0x59, 0x03,
      0xAA, 0xBB},
     {1, 12345, 42, 0, {0x2015, 0x09, 0x07, 0x08, 0x05, 0x03}}},
    {"UnknownStatusBuzzerOffNewYearsEve",
     {0x07, 0x03, 0x12,
      0x00, 0x09, 0xFF, 0xFF, 0x00, 0x00, 0x07, 0xD0, 0x00, 0x01,
      0x20, 0x99, 0x12, 0x31, 0x23, 0x59, 0x00, 0x59,
      0x00, 0x00},
     {9, 65535, 2000, 1, {0x2099, 0x12, 0x31, 0x23, 0x59, 0x59}}},
};

void ExpectEqual(const MeasurementStatus& got, const MeasurementStatus& want) {
  EXPECT_EQ(got.alarm, want.alarm);
  EXPECT_EQ(got.leakHundredths, want.leakHundredths);
  EXPECT_EQ(got.logCount, want.logCount);
  EXPECT_EQ(got.buzzer, want.buzzer);
  EXPECT_EQ(got.clock.year, want.clock.year);
  EXPECT_EQ(got.clock.month, want.clock.month);
  EXPECT_EQ(got.clock.day, want.clock.day);
  EXPECT_EQ(got.clock.hour, want.clock.hour);
  EXPECT_EQ(got.clock.minute, want.clock.minute);
  EXPECT_EQ(got.clock.second, want.clock.second);
}

TEST(StatusBlock, MeasurementBlockDecodesEveryUsedRegister) {
  for (const MeasurementCase& c : kMeasurementCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.reply.size(), 23u);
    MeasurementReply reply;
    std::copy(c.reply.begin(), c.reply.end(), reply);
    ExpectEqual(DecodeMeasurementBlock(reply), c.expected);
  }
}

TEST(StatusBlock, FactoryBlockCarriesModeChannelsThenTheMeasurementRegisters) {
  const std::vector<uint8_t> bytes = {
      0x01, 0x03, 0x20,
      0x00, 0x02,              // working mode 2
      0x3F, 0xC0, 0x00, 0x00,  // A0 1.5
      0x41, 0x20, 0x00, 0x00,  // A1 10.0
      0xC2, 0xC8, 0x00, 0x00,  // A2 -100.0
      0x00, 0x00, 0x00, 0xFA, 0x12, 0x34, 0x00, 0x05, 0x00, 0x01,
      0x20, 0x15, 0x09, 0x07, 0x08, 0x05, 0x00, 0x03,
      0x11, 0x22};
  ASSERT_EQ(bytes.size(), 37u);
  FactoryReply reply;
  std::copy(bytes.begin(), bytes.end(), reply);
  const FactoryStatus status = DecodeFactoryBlock(reply);
  EXPECT_EQ(status.workMode, 2);
  EXPECT_EQ(status.channel[0], 1.5f);
  EXPECT_EQ(status.channel[1], 10.0f);
  EXPECT_EQ(status.channel[2], -100.0f);
  ExpectEqual(status.measurement, {0, 250, 5, 1, {0x2015, 0x09, 0x07, 0x08, 0x05, 0x03}});
}

TEST(StatusBlock, ClockTakesTheSecondAfterTheReservedByte) {
  const uint8_t bytes[8] = {0x20, 0x26, 0x12, 0x07, 0x21, 0x05, 0x77, 0x09};
  const BcdClock clock = DecodeBcdClock(bytes);
  EXPECT_EQ(clock.year, 0x2026);
  EXPECT_EQ(clock.month, 0x12);
  EXPECT_EQ(clock.day, 0x07);
  EXPECT_EQ(clock.hour, 0x21);
  EXPECT_EQ(clock.minute, 0x05);
  EXPECT_EQ(clock.second, 0x09);
}

}  // namespace
