// The simulated controller on its own: reply layouts, exceptions, silence,
// and the effects of writes and scenarios.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "controller.h"
#include "registers.h"
#include "sim_test_support.h"

using namespace simtest;
using sim::Controller;
using sim::ControllerOptions;
using sim::Scenario;

namespace {

struct ReadCase {
  uint16_t reg;
  uint16_t count;
  size_t length;
};

TEST(ControllerReplies, ReadsHaveTheLayoutOfTheRegisterMap) {
  const ReadCase cases[] = {
      {REG_LINE_LENGTH, 1, 7},   {REG_RESISTIVITY, 2, 9},
      {REG_CLOCK_2, 4, 13},      {kA1CoefficientBlock.first, 6, 17},
      {REG_ALARM_STATUS, 9, 23}, {kFactoryStatusBlock.first, 15, 37},
      {REG_WORK_MODE, 16, 37},   {REG_A1_RANGE, 1, 7},
      {REG_MODE_STATE, 1, 7},    {REG_A0_CAL_VOLTAGE_1, 12, 29},
  };
  Controller device;
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.reg << " count " << std::dec << c.count);
    const Bytes reply = Send(device, BuildReadRequest(1, c.reg, c.count));
    ASSERT_EQ(reply.size(), c.length);
    EXPECT_EQ(reply[0], 1);
    EXPECT_EQ(reply[1], 0x03);
    EXPECT_EQ(reply[2], c.length - 5);
    EXPECT_TRUE(CheckBytesRight(reply));
  }
}

TEST(ControllerReplies, FactoryBlockEndsWithTheMeasurementBlock) {
  Controller device({1, 9600, Scenario::Leak, 12.34});
  const Bytes factory = Send(device, BuildReadRequest(1, REG_WORK_MODE, 15));
  const Bytes measurement = Send(device, BuildReadRequest(1, REG_ALARM_STATUS, 9));
  ASSERT_EQ(factory.size(), 37u);
  ASSERT_EQ(measurement.size(), 23u);
  EXPECT_EQ(GetU16(&factory[17]), 1);     // leak
  EXPECT_EQ(GetU16(&factory[19]), 1234);  // 12.34 m
  // Status, position, reserved, count, buzzer and the date alike.
  EXPECT_TRUE(std::equal(&factory[17], &factory[31], &measurement[3]));
}

TEST(ControllerReplies, WritesAreEchoedOrAcknowledged) {
  Controller device;
  const Frame single = BuildWriteRequest(1, REG_LINE_LENGTH, 1234);
  EXPECT_EQ(Send(device, single), ToBytes(single));
  const Bytes ack = Send(device, WriteFloat(1, REG_A0_RESISTANCE, 1.5f));
  EXPECT_EQ(ack, WithCrc({0x01, 0x10, 0x10, 0x1A, 0x00, 0x02}));
  const Bytes read = Send(device, BuildReadRequest(1, REG_A0_RESISTANCE, 2));
  EXPECT_EQ(read, WithCrc({0x01, 0x03, 0x04, 0x3F, 0xC0, 0x00, 0x00}));
  EXPECT_EQ(device.Register(REG_LINE_LENGTH), 1234);
}

TEST(ControllerReplies, DefaultsArePlausible) {
  Controller device;
  EXPECT_EQ(device.Register(REG_LINE_LENGTH), 10000);
  EXPECT_FLOAT_EQ(device.FloatRegister(REG_RESISTIVITY), 35.0f);
  EXPECT_FLOAT_EQ(device.FloatRegister(REG_LINE_RESISTANCE), 350.0f);
  EXPECT_FLOAT_EQ(device.FloatRegister(REG_A0_COEFF), 1.0f);
  EXPECT_EQ(device.Register(REG_WORK_MODE), 0);
  EXPECT_EQ(device.Register(REG_MODE_STATE), 0);
  EXPECT_EQ(device.Register(REG_ALARM_STATUS), 0);
  EXPECT_EQ(device.Register(REG_BUZZER), 0);
}

struct ExceptionCase {
  const char* what;
  Bytes request;
  uint8_t function;
  uint8_t code;
};

Bytes Raw(const Frame& f) { return ToBytes(f); }

TEST(ControllerReplies, ExceptionsForBadAddressesValuesAndFunctions) {
  const ClockFields month13{2015, 13, 7, 8, 5, 3};
  const uint8_t notBcdClock[8] = {0x20, 0x15, 0x1A, 0x07, 0x08, 0x05, 0x00, 0x03};
  const Frame notBcd = BuildWriteMultipleRequest(1, REG_CLOCK, 4, notBcdClock);
  const ExceptionCase cases[] = {
      {"unmapped register", Raw(BuildReadRequest(1, 0x0000, 1)), 0x03, 2},
      {"read into a hole", Raw(BuildReadRequest(1, REG_LINE_RESISTANCE, 3)), 0x03, 2},
      {"read past the map", Raw(BuildReadRequest(1, REG_BAUD_RATE, 3)), 0x03, 2},
      {"count 0", Raw(BuildReadRequest(1, REG_LINE_LENGTH, 0)), 0x03, 3},
      {"count 126", Raw(BuildReadRequest(1, REG_A0_CAL_VOLTAGE_1, 126)), 0x03, 3},
      {"write read-only", Raw(BuildWriteRequest(1, REG_ALARM_STATUS, 0)), 0x06, 2},
      {"write coefficient", Raw(WriteFloat(1, REG_A0_COEFF, 2.0f)), 0x10, 2},
      {"write unmapped", Raw(BuildWriteRequest(1, 0x3000, 1)), 0x06, 2},
      {"range 4", Raw(BuildWriteRequest(1, REG_A1_RANGE, 4)), 0x06, 3},
      {"work mode 3", Raw(BuildWriteRequest(1, REG_WORK_MODE, 3)), 0x06, 3},
      {"buzzer 2", Raw(BuildWriteRequest(1, REG_BUZZER, 2)), 0x06, 3},
      {"log count 0", Raw(BuildWriteRequest(1, REG_LOG_COUNT, 0)), 0x06, 3},
      {"station 0", Raw(WriteStationAndBaud(1, 0, 9600)), 0x10, 3},
      {"station 256", Raw(WriteStationAndBaud(1, 256, 9600)), 0x10, 3},
      {"baud 1234", Raw(WriteStationAndBaud(1, 2, 1234)), 0x10, 3},
      {"baud 0", Raw(WriteStationAndBaud(1, 2, 0)), 0x10, 3},
      {"month 13", Raw(WriteClock(1, REG_CLOCK, month13)), 0x10, 3},
      {"clock not BCD", Raw(notBcd), 0x10, 3},
      {"byte count off", WithCrc({1, 0x10, 0x20, 0x0A, 0x00, 0x02, 0x02, 0x00, 0x01}), 0x10, 3},
      {"0x03 too long", WithCrc({1, 0x03, 0x20, 0x0A, 0x00, 0x01, 0x00}), 0x03, 3},
      {"function 0x04", WithCrc({1, 0x04, 0x20, 0x0A, 0x00, 0x01}), 0x04, 1},
      {"function 0x2B", WithCrc({1, 0x2B, 0x0E, 0x01, 0x00}), 0x2B, 1},
      {"other file", Raw(BuildReadFileRecordRequest(1, 0x2011, 0, 5)), 0x14, 2},
      {"record past the log", Raw(BuildReadFileRecordRequest(1, kLogFileNumber, 0, 5)), 0x14, 2},
      {"record too long", Raw(BuildReadFileRecordRequest(1, kLogFileNumber, 0, 125)), 0x14, 3},
      {"reference type 7",
       WithCrc({1, 0x14, 0x07, 0x07, 0x20, 0x10, 0x00, 0x00, 0x00, 0x05}), 0x14, 3},
  };
  for (const ExceptionCase& c : cases) {
    SCOPED_TRACE(c.what);
    Controller device;
    const Bytes reply = Send(device, c.request);
    EXPECT_EQ(reply, WithCrc({0x01, static_cast<uint8_t>(c.function | 0x80), c.code}));
  }
}

TEST(ControllerReplies, RefusedWriteChangesNothing) {
  Controller device;
  // A good baud rate beside a bad address: neither is taken.
  Send(device, WriteStationAndBaud(1, 0, 19200));
  EXPECT_EQ(device.Baud(), 9600);
  EXPECT_EQ(device.Register(REG_BAUD_RATE + 1), 9600);
  EXPECT_EQ(device.Register(REG_STATION_ADDRESS), 1);
}

TEST(ControllerReplies, SilenceForBroadcastOtherStationsAndBadFrames) {
  Frame badCrc = BuildReadRequest(1, REG_LINE_LENGTH, 1);
  badCrc.bytes[7] ^= 0x01;
  const struct {
    const char* what;
    Bytes request;
  } cases[] = {
      {"broadcast read", Raw(BuildReadRequest(0, REG_LINE_LENGTH, 1))},
      {"broadcast unknown function", WithCrc({0, 0x04, 0x20, 0x0A, 0x00, 0x01})},
      {"broadcast bad write", Raw(BuildWriteRequest(0, REG_ALARM_STATUS, 1))},
      {"other station", Raw(BuildReadRequest(2, REG_LINE_LENGTH, 1))},
      {"other station, unknown function", WithCrc({2, 0x04, 0x00})},
      {"bad CRC", Raw(badCrc)},
      {"too short", {0x01, 0x03, 0x41}},
      {"empty", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Controller device;
    EXPECT_TRUE(Send(device, c.request).empty());
  }
}

TEST(ControllerWrites, BroadcastWritesAreApplied) {
  Controller device;
  EXPECT_TRUE(Send(device, BuildWriteRequest(0, REG_LINE_LENGTH, 4321)).empty());
  EXPECT_TRUE(Send(device, WriteFloat(0, REG_RESISTIVITY, 2.5f)).empty());
  EXPECT_EQ(device.Register(REG_LINE_LENGTH), 4321);
  EXPECT_FLOAT_EQ(device.FloatRegister(REG_RESISTIVITY), 2.5f);
}

TEST(ControllerWrites, AddressAndBaudApplyAfterTheReply) {
  Controller device;
  const Bytes reply = Send(device, WriteStationAndBaud(1, 17, 38400));
  ASSERT_EQ(reply.size(), kWriteReplyLength);
  EXPECT_EQ(reply[0], 1);  // answered as the old station
  EXPECT_EQ(device.Address(), 17);
  EXPECT_EQ(device.Baud(), 38400);
  EXPECT_TRUE(Send(device, BuildReadRequest(1, REG_LINE_LENGTH, 1)).empty());
  const Bytes again = Send(device, BuildReadRequest(17, REG_BAUD_RATE, 2));
  EXPECT_EQ(again, WithCrc({17, 0x03, 0x04, 0x00, 0x00, 0x96, 0x00}));
}

TEST(ControllerWrites, AddressAndBaudSentToStationZeroTakeEffect) {
  Controller device;
  EXPECT_TRUE(Send(device, WriteStationAndBaud(0, 42, 2400)).empty());
  EXPECT_EQ(device.Address(), 42);
  EXPECT_EQ(device.Baud(), 2400);
  EXPECT_EQ(Send(device, BuildReadRequest(42, REG_STATION_ADDRESS, 3)),
            WithCrc({42, 0x03, 0x06, 0x00, 0x2A, 0x00, 0x00, 0x09, 0x60}));
  EXPECT_TRUE(Send(device, BuildReadRequest(1, REG_LINE_LENGTH, 1)).empty());
}

TEST(ControllerWrites, EveryOfferedRateCanBeTheNewBaud) {
  const struct {
    uint32_t baud;
    uint8_t wire[4];
  } rates[] = {
      {1200, {0x00, 0x00, 0x04, 0xB0}},  {2400, {0x00, 0x00, 0x09, 0x60}},
      {4800, {0x00, 0x00, 0x12, 0xC0}},  {9600, {0x00, 0x00, 0x25, 0x80}},
      {19200, {0x00, 0x00, 0x4B, 0x00}}, {38400, {0x00, 0x00, 0x96, 0x00}},
  };
  for (const auto& r : rates) {
    SCOPED_TRACE(r.baud);
    Controller device({1, r.baud == 9600 ? 1200 : 9600});
    const uint8_t data[6] = {0x00, 0x01, r.wire[0], r.wire[1], r.wire[2], r.wire[3]};
    ASSERT_EQ(Send(device, BuildWriteMultipleRequest(1, REG_STATION_ADDRESS, 3, data)).size(),
              kWriteReplyLength);
    EXPECT_EQ(device.Baud(), static_cast<int>(r.baud));
    EXPECT_EQ(Send(device, BuildReadRequest(1, REG_BAUD_RATE, 2)),
              WithCrc({1, 0x03, 0x04, r.wire[0], r.wire[1], r.wire[2], r.wire[3]}));
  }
}

TEST(ControllerWrites, EitherClockCopySetsTheOneRunningClock) {
  const ClockFields set{2015, 9, 7, 8, 5, 3};
  for (const uint16_t written : {REG_CLOCK, REG_CLOCK_2}) {
    SCOPED_TRACE(written);
    Controller device;
    ASSERT_EQ(Send(device, WriteClock(1, written, set)).size(), kWriteReplyLength);
    for (const uint16_t read : {REG_CLOCK, REG_CLOCK_2}) {
      const Bytes r = Send(device, BuildReadRequest(1, read, 4));
      ASSERT_EQ(r.size(), 13u);
      const ClockFields now = DecodeClock(&r[3]);
      EXPECT_EQ(now.year, 2015);
      EXPECT_EQ(now.month, 9);
      EXPECT_EQ(now.day, 7);
      EXPECT_EQ(now.hour, 8);
      EXPECT_EQ(now.minute, 5);
      EXPECT_GE(now.second, 3);  // it runs on
      EXPECT_LE(now.second, 6);
    }
  }
}

TEST(ControllerWrites, ClearingTheLog) {
  Controller device({1, 9600, Scenario::NoAlarm, 0, 5});
  EXPECT_EQ(device.Register(REG_LOG_COUNT), 5);
  const Frame clear = BuildWriteRequest(1, REG_LOG_COUNT, 1);
  EXPECT_EQ(Send(device, clear), ToBytes(clear));
  EXPECT_EQ(device.LogCount(), 0u);
  EXPECT_EQ(device.Register(REG_LOG_COUNT), 0);
  EXPECT_EQ(device.Register(REG_LOG_COUNT_2), 5);  // alarms seen since power-up
  // The console still asks for the empty log and gets the empty reply.
  EXPECT_EQ(Send(device, BuildReadFileRecordRequest(1, kLogFileNumber, 0, 0)),
            WithCrc({1, 0x14, 0x02, 0x01, 0x06}));
}

float ChannelValue(Controller& device, uint16_t reg) {
  const Bytes r = Send(device, BuildReadRequest(1, reg, 2));
  return r.size() == 9 ? GetFloat(&r[3]) : NAN;
}

TEST(ControllerWrites, WorkingModeChoosesVoltsOrAdcCounts) {
  Controller device;
  Send(device, BuildWriteRequest(1, REG_WORK_MODE, 1));
  EXPECT_EQ(device.Register(REG_MODE_STATE), 2);
  const float supply = ChannelValue(device, REG_A2_VOLTAGE);
  EXPECT_NEAR(supply, 12.0, 0.3);
  float previous = ChannelValue(device, REG_A0_VOLTAGE);
  bool varies = false;
  for (int i = 0; i < 8; ++i) {
    const float v = ChannelValue(device, REG_A0_VOLTAGE);
    EXPECT_NEAR(v, 0.05, 0.01);
    varies = varies || v != previous;
    previous = v;
  }
  EXPECT_TRUE(varies) << "a live channel shows a little noise";

  Send(device, BuildWriteRequest(1, REG_WORK_MODE, 2));
  const float counts = ChannelValue(device, REG_A2_VOLTAGE);
  EXPECT_GT(counts, 20000);
  EXPECT_LE(counts, 65535);
  EXPECT_EQ(counts, std::round(counts));

  Send(device, BuildWriteRequest(1, REG_WORK_MODE, 0));
  EXPECT_EQ(device.Register(REG_MODE_STATE), 0);
}

TEST(ControllerWrites, ModeStateSetByATestStaysSet) {
  Controller device;
  device.SetRegister(REG_MODE_STATE, 1);
  Send(device, BuildWriteRequest(1, REG_WORK_MODE, 1));
  EXPECT_EQ(Send(device, BuildReadRequest(1, REG_MODE_STATE, 1)),
            WithCrc({1, 0x03, 0x02, 0x00, 0x01}));
}

TEST(ControllerWrites, BuzzerShowsInTheStatusBlock) {
  Controller device;
  for (const uint16_t value : {1, 0}) {
    Send(device, BuildWriteRequest(1, REG_BUZZER, value));
    const Bytes block = Send(device, BuildReadRequest(1, REG_ALARM_STATUS, 9));
    ASSERT_EQ(block.size(), 23u);
    EXPECT_EQ(GetU16(&block[11]), value);
  }
}

TEST(ControllerWrites, A1RangeChoosesTheAmplifier) {
  Controller device({1, 9600, Scenario::Leak, 50});
  Send(device, BuildWriteRequest(1, REG_WORK_MODE, 2));
  const float range1 = ChannelValue(device, REG_A1_VOLTAGE);
  Send(device, BuildWriteRequest(1, REG_A1_RANGE, 3));
  const float range4 = ChannelValue(device, REG_A1_VOLTAGE);
  EXPECT_NEAR(range4 / range1, 8.0, 0.4);
}

TEST(ControllerCalibration, VoltageCalibrationFollowsTheSources) {
  Controller device;
  Send(device, BuildWriteRequest(1, REG_WORK_MODE, 1));
  double before = 0;
  for (int i = 0; i < 8; ++i) before += ChannelValue(device, REG_A2_VOLTAGE) / 8;
  Send(device, WriteFloat(1, REG_SOURCE_VOLTAGE_1, 0.0f));  // no source on A0/A1
  Send(device, WriteFloat(1, REG_SOURCE_VOLTAGE_2, 10.0f));
  EXPECT_EQ(Send(device, BuildWriteRequest(1, REG_VOLTAGE_AUTOCAL, 1)).size(), 8u);
  EXPECT_FLOAT_EQ(device.FloatRegister(REG_A0_COEFF), 1.0f);
  EXPECT_FLOAT_EQ(device.FloatRegister(REG_A1_COEFF_1), 1.0f);
  const float a2 = device.FloatRegister(REG_A2_COEFF);
  EXPECT_NE(a2, 1.0f);
  EXPECT_NEAR(a2, 1.0, 0.02);
  // Calibrated, the supply reads closer to what it is.
  double after = 0;
  for (int i = 0; i < 8; ++i) after += ChannelValue(device, REG_A2_VOLTAGE) / 8;
  EXPECT_LT(std::fabs(after - 12.0), std::fabs(before - 12.0));

  Send(device, WriteFloat(1, REG_SOURCE_VOLTAGE_1, 100.0f));
  Send(device, BuildWriteRequest(1, REG_VOLTAGE_AUTOCAL, 1));
  for (const uint16_t reg : {REG_A0_COEFF, REG_A1_COEFF_1, REG_A1_COEFF_2,
                             REG_A1_COEFF_3, REG_A1_COEFF_4}) {
    SCOPED_TRACE(reg);
    EXPECT_NE(device.FloatRegister(reg), 1.0f);
    EXPECT_NEAR(device.FloatRegister(reg), 1.0, 0.02);
  }
}

TEST(ControllerCalibration, ResistivityFromLineResistanceAndLength) {
  const struct {
    bool started;
    uint16_t lengthHundredths;
    float expected;
  } cases[] = {
      {true, 20000, 17.5f},  // 350 ohm over 200 m
      {true, 5000, 70.0f},
      {false, 20000, 35.0f},  // a stop without a start changes nothing
      {true, 0, 35.0f},       // no length: nothing to divide by
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lengthHundredths);
    Controller device;
    if (c.started) Send(device, BuildWriteRequest(1, REG_RESISTIVITY_AUTOCAL, 1));
    Send(device, BuildWriteRequest(1, REG_LINE_LENGTH, c.lengthHundredths));
    EXPECT_EQ(Send(device, BuildWriteRequest(1, REG_RESISTIVITY_AUTOCAL, 0)).size(), 8u);
    EXPECT_FLOAT_EQ(device.FloatRegister(REG_RESISTIVITY), c.expected);
  }
}

TEST(ControllerLog, TwentyFourEntriesInOneReply) {
  Controller device({1, 9600, Scenario::NoAlarm, 0, 24});
  const Bytes reply =
      Send(device, BuildReadFileRecordRequest(1, kLogFileNumber, 0, 120));
  ASSERT_EQ(reply.size(), 247u);
  EXPECT_EQ(reply[2], 242);  // response data length
  EXPECT_EQ(reply[3], 241);  // sub-response length
  EXPECT_EQ(reply[4], 6);
  EXPECT_TRUE(CheckBytesRight(reply));
  const auto log = device.Log();
  for (size_t i = 0; i < log.size(); ++i) {
    const uint8_t* record = &reply[5 + 10 * i];
    EXPECT_EQ(std::memcmp(record, log[i].clock, 6), 0);
    EXPECT_EQ(GetU16(record + 6), log[i].type);
    EXPECT_EQ(GetU16(record + 8), log[i].lengthHundredths);
  }
}

TEST(ControllerLog, FileRecordRepliesStayWithin247Bytes) {
  // Sub-requests of reference type 6 in file 0x2010, as the console builds
  // them, one or two to a request.
  const auto request = [](std::initializer_list<std::pair<uint16_t, uint16_t>> subs) {
    Bytes head{0x01, 0x14, static_cast<uint8_t>(7 * subs.size())};
    for (const auto& [record, length] : subs) {
      head.insert(head.end(), {0x06, 0x20, 0x10, static_cast<uint8_t>(record >> 8),
                               static_cast<uint8_t>(record & 0xFF),
                               static_cast<uint8_t>(length >> 8),
                               static_cast<uint8_t>(length & 0xFF)});
    }
    return WithCrc(head);
  };
  const Bytes refused = WithCrc({0x01, 0x94, 0x03});
  const struct {
    const char* what;
    Bytes request;
    size_t replyLength;  // 0: the exception reply
    uint8_t dataLength;
  } cases[] = {
      {"24 entries", request({{0, 120}}), 247, 242},
      {"one register more", request({{0, 121}}), 0, 0},
      {"two sub-requests, 247 in all", request({{0, 60}, {60, 59}}), 247, 242},
      {"two sub-requests, 249 in all", request({{0, 60}, {60, 60}}), 0, 0},
      {"the largest the old limit let through", request({{0, 124}}), 0, 0},
  };
  Controller device;
  device.FillLog(30);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes reply = Send(device, c.request);
    if (c.replyLength == 0) {
      EXPECT_EQ(reply, refused);
      continue;
    }
    ASSERT_EQ(reply.size(), c.replyLength);
    EXPECT_EQ(reply[2], c.dataLength);
    EXPECT_TRUE(CheckBytesRight(reply));
  }
}

TEST(ControllerLog, AppendedEntriesAreServedAsStored) {
  // Any type, 3 and 0xFFFF included, goes through as it is.
  const sim::LogEntry entries[] = {
      {{0x20, 0x15, 0x09, 0x07, 0x08, 0x05}, 3, 1234},
      {{0x20, 0x26, 0x12, 0x31, 0x23, 0x59}, 0xFFFF, 65535},
      {{0x20, 0x00, 0x01, 0x01, 0x00, 0x00}, 0, 0},
  };
  Controller device;
  for (const auto& e : entries) device.AppendLogEntry(e);
  EXPECT_EQ(device.LogCount(), 3u);
  EXPECT_EQ(device.Register(REG_LOG_COUNT), 3);
  EXPECT_EQ(Send(device, BuildReadFileRecordRequest(1, kLogFileNumber, 0, 15)),
            WithCrc({0x01, 0x14, 0x20, 0x1F, 0x06,
                     0x20, 0x15, 0x09, 0x07, 0x08, 0x05, 0x00, 0x03, 0x04, 0xD2,
                     0x20, 0x26, 0x12, 0x31, 0x23, 0x59, 0xFF, 0xFF, 0xFF, 0xFF,
                     0x20, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(ControllerLog, FillingSetsTheCountRatherThanAdding) {
  const struct {
    size_t fill;
    size_t count;
  } steps[] = {{5, 5}, {3, 3}, {0, 0}, {30, 30}};
  Controller device;
  device.SetScenario(Scenario::Leak, 1.0);  // one entry before the first fill
  for (const auto& s : steps) {
    SCOPED_TRACE(s.fill);
    device.FillLog(s.fill);
    EXPECT_EQ(device.LogCount(), s.count);
    EXPECT_EQ(device.Register(REG_LOG_COUNT), s.count);
    if (s.count > 0) {
      EXPECT_EQ(device.Log().back().type, 1) << "the leak that is on comes last";
      EXPECT_EQ(device.Log().back().lengthHundredths, 100);
    }
  }
}

TEST(ControllerLog, HoldsAsManyEntriesAsTheCountRegisterCanSay) {
  Controller device;
  device.FillLog(sim::kMaxLogEntries);
  EXPECT_EQ(device.LogCount(), 65535u);
  EXPECT_EQ(device.Register(REG_LOG_COUNT), 65535);
  // One more drops the oldest; the count register never wraps to 0.
  const sim::LogEntry newest{{0x20, 0x26, 0x01, 0x02, 0x03, 0x04}, 3, 42};
  const sim::LogEntry secondOldest = device.Log()[1];
  device.AppendLogEntry(newest);
  const auto log = device.Log();
  ASSERT_EQ(log.size(), 65535u);
  EXPECT_EQ(std::memcmp(&log.front(), &secondOldest, sizeof secondOldest), 0);
  EXPECT_EQ(log.back().type, 3);
  EXPECT_EQ(device.Register(REG_LOG_COUNT), 65535);
  EXPECT_EQ(device.Register(REG_LOG_COUNT_2), 65535);  // 65536 seen, saturated
  // The last page a 16-bit record number reaches: entries 13104 to 13106.
  const Bytes last = Send(device, BuildReadFileRecordRequest(1, kLogFileNumber, 65520, 15));
  ASSERT_EQ(last.size(), FileRecordReplyLength(3));
  EXPECT_EQ(GetU16(&last[5 + 8]), log[13104].lengthHundredths);
}

TEST(ControllerLog, PagesAddressEntriesByRecordNumber) {
  Controller device({1, 9600, Scenario::NoAlarm, 0, 25});
  const Bytes page2 = Send(device, BuildReadFileRecordRequest(1, kLogFileNumber, 120, 5));
  ASSERT_EQ(page2.size(), 17u);
  EXPECT_EQ(GetU16(&page2[5 + 8]), device.Log()[24].lengthHundredths);
  EXPECT_EQ(Send(device, BuildReadFileRecordRequest(1, kLogFileNumber, 125, 5)),
            WithCrc({1, 0x94, 0x02}));
}

TEST(ControllerLog, PrefilledEntriesArePlausible) {
  Controller device({1, 9600, Scenario::NoAlarm, 0, 30});
  const auto log = device.Log();
  ASSERT_EQ(log.size(), 30u);
  for (size_t i = 0; i < log.size(); ++i) {
    uint8_t clock[8] = {};
    std::memcpy(clock, log[i].clock, 6);
    const ClockFields c = DecodeClock(clock);
    EXPECT_GE(c.year, 2000);
    EXPECT_TRUE(c.month >= 1 && c.month <= 12 && c.day >= 1 && c.hour < 24);
    EXPECT_TRUE(log[i].type == 1 || log[i].type == 2);
    EXPECT_LE(log[i].lengthHundredths, device.Register(REG_LINE_LENGTH));
    if (i > 0) {
      EXPECT_GE(std::memcmp(log[i].clock, log[i - 1].clock, 6), 0);
    }
  }
}

TEST(ControllerScenario, AlarmOnsetsAreLogged) {
  const struct {
    Scenario scenario;
    double position;
    size_t logCount;
    uint16_t status;
    uint16_t positionHundredths;
  } steps[] = {
      {Scenario::Leak, 12.34, 1, 1, 1234},
      {Scenario::Leak, 12.34, 1, 1, 1234},  // the same leak goes on
      {Scenario::Leak, 40.0, 2, 1, 4000},   // a new place
      {Scenario::Broken, 0, 3, 2, 0},
      {Scenario::NoAlarm, 0, 3, 0, 0},
      {Scenario::Leak, 700.0, 4, 1, 65535},  // beyond the register: saturated
  };
  Controller device;
  for (const auto& s : steps) {
    SCOPED_TRACE(s.position);
    device.SetScenario(s.scenario, s.position);
    EXPECT_EQ(device.LogCount(), s.logCount);
    EXPECT_EQ(device.Register(REG_ALARM_STATUS), s.status);
    EXPECT_EQ(device.Register(REG_LEAK_POSITION), s.positionHundredths);
    const auto log = device.Log();
    if (s.status != 0 && !log.empty()) {
      EXPECT_EQ(log.back().type, s.status);
      EXPECT_EQ(log.back().lengthHundredths, s.positionHundredths);
    }
  }
}

TEST(ControllerScenario, FullLogDropsTheOldest) {
  ControllerOptions options;
  options.prefillLog = 2;
  options.logCapacity = 3;
  Controller device(options);
  device.SetScenario(Scenario::Leak, 1.0);
  device.SetScenario(Scenario::Broken, 2.0);
  const auto log = device.Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].lengthHundredths, 100);
  EXPECT_EQ(log[2].lengthHundredths, 200);
  EXPECT_EQ(device.Register(REG_LOG_COUNT_2), 4);
}

TEST(ControllerAnyStation, AnswersAsTheAddressedStationWithoutActingForIt) {
  Controller device;
  const Bytes foreignRead = Send(device, BuildReadRequest(200, REG_LINE_LENGTH, 1));
  EXPECT_TRUE(foreignRead.empty()) << "Handle() answers its own station only";

  const Bytes read = ToBytes(BuildReadRequest(200, REG_LINE_LENGTH, 1));
  EXPECT_EQ(device.AnswerAsAnyStation(read.data(), read.size()),
            WithCrc({200, 0x03, 0x02, 0x27, 0x10}));
  const Bytes write = ToBytes(BuildWriteRequest(7, REG_LINE_LENGTH, 1234));
  EXPECT_EQ(device.AnswerAsAnyStation(write.data(), write.size()), write);
  EXPECT_EQ(device.Register(REG_LINE_LENGTH), 10000) << "another station's write";
  const Bytes own = ToBytes(BuildWriteRequest(1, REG_LINE_LENGTH, 1234));
  EXPECT_EQ(device.AnswerAsAnyStation(own.data(), own.size()), own);
  EXPECT_EQ(device.Register(REG_LINE_LENGTH), 1234);
  const Bytes unknown = WithCrc({9, 0x04, 0x20, 0x0A, 0x00, 0x01});
  EXPECT_EQ(device.AnswerAsAnyStation(unknown.data(), unknown.size()),
            WithCrc({9, 0x84, 0x01}));

  Bytes badCrc = read;
  badCrc.back() ^= 0x01;
  const Bytes broadcast = ToBytes(BuildWriteRequest(0, REG_LINE_LENGTH, 4321));
  EXPECT_TRUE(device.AnswerAsAnyStation(badCrc.data(), badCrc.size()).empty());
  EXPECT_TRUE(device.AnswerAsAnyStation(broadcast.data(), broadcast.size()).empty());
  EXPECT_EQ(device.Register(REG_LINE_LENGTH), 4321) << "a broadcast is still carried out";
}

TEST(ControllerScenario, PowerUpInAlarmIsAnOnset) {
  const struct {
    int prefill;
    size_t logCount;
  } cases[] = {{0, 1}, {1, 1}, {2, 2}, {30, 30}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prefill);
    Controller device({1, 9600, Scenario::Broken, 3.5, c.prefill});
    EXPECT_EQ(device.LogCount(), c.logCount) << "the log holds what --log asked for";
    EXPECT_EQ(device.Log().back().type, 2);
    EXPECT_EQ(device.Log().back().lengthHundredths, 350);
    EXPECT_EQ(device.Register(REG_LEAK_POSITION), 350);
  }
}

}  // namespace
