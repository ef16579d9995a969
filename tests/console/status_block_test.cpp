// The monitoring poll's status blocks, decoded from literal replies apart
// from any window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "alarms/AlarmState.h"
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

// The alarm state through sequences of polls, acknowledgements and stops:
// what each input announces, updates, withdraws and journals, and what the
// window then shows (flash, button, recovered mark, look, text).
namespace {

enum class Input { Start, Good, Fail, Ack, Stop };
struct AlarmStep {
  Input input;
  uint16_t status;      // Good: the alarm register
  uint16_t hundredths;  // Good: the leak position
  AlarmEvent event;
  bool announce, update, withdraw;
  bool flashing, unacknowledged, recovered, sounding;
  CAlarmState::Severity look;
  const char* text;
  const char* summary;
};
struct AlarmCase {
  const char* name;
  std::vector<AlarmStep> steps;
};

using S = CAlarmState::Severity;
using E = AlarmEvent;
constexpr Input kStart = Input::Start, kGood = Input::Good, kFail = Input::Fail,
                kAck = Input::Ack, kStop = Input::Stop;
//                 input  status pos   event       ann    upd    wdr    flash  unack  recov  sound  look        text       summary
const AlarmStep kStarted = {kStart, 0, 0, E::Start, false, false, false, false, false, false, false, S::Plain, "", ""};
const AlarmStep kNormal = {kGood, 0, 0, E::Change, false, false, false, false, false, false, false, S::Plain, "无告警", "无告警"};
const AlarmStep kLeak = {kGood, 1, 12345, E::Change, true, false, false, true, true, false, true, S::Alarm, "水浸", "水浸 123.45米"};

const AlarmCase kAlarmCases[] = {
    {"LeakAnnouncedOnceThenAcknowledged",
     {kStarted, kNormal, kLeak,
      {kGood, 1, 12345, E::None, false, false, false, true, true, false, true, S::Alarm, "水浸", "水浸 123.45米"},
      {kGood, 1, 12400, E::None, false, false, false, true, true, false, true, S::Alarm, "水浸", "水浸 123.45米"},
      {kAck, 0, 0, E::Acknowledged, false, false, true, false, false, false, false, S::Alarm, "水浸", "水浸 123.45米"},
      {kAck, 0, 0, E::None, false, false, false, false, false, false, false, S::Alarm, "水浸", "水浸 123.45米"}}},
    {"MoveOfMoreThanAMetreUpdatesTheSameNotification",
     {kStarted, kLeak,
      {kGood, 1, 12446, E::Moved, false, true, false, true, true, false, true, S::Alarm, "水浸", "水浸 124.46米"},
      {kGood, 1, 12346, E::None, false, false, false, true, true, false, true, S::Alarm, "水浸", "水浸 124.46米"},
      {kAck, 0, 0, E::Acknowledged, false, false, true, false, false, false, false, S::Alarm, "水浸", "水浸 124.46米"},
      {kGood, 1, 10000, E::Moved, false, false, false, false, false, false, false, S::Alarm, "水浸", "水浸 100.00米"}}},
    {"ClearedUnacknowledgedStaysMarkedUntilAcknowledged",
     {kStarted, kLeak,
      {kGood, 0, 0, E::Change, false, false, false, false, true, true, false, S::Plain, "无告警", "无告警"},
      {kAck, 0, 0, E::Acknowledged, false, false, true, false, false, false, false, S::Plain, "无告警", "无告警"}}},
    {"BrokenCableFromNormal",
     {kStarted, kNormal,
      {kGood, 2, 5000, E::Change, true, false, false, true, true, false, true, S::Alarm, "断线", "断线"}}},
    {"LeakThenBrokenIsANewAlarm",
     {kStarted, kLeak,
      {kGood, 2, 0, E::Change, true, false, false, true, true, false, true, S::Alarm, "断线", "断线"}}},
    {"ThreeFailedPollsAreNoReply",
     {kStarted, kNormal,
      {kFail, 0, 0, E::None, false, false, false, false, false, false, false, S::Plain, "无告警", "无告警"},
      {kFail, 0, 0, E::None, false, false, false, false, false, false, false, S::Plain, "无告警", "无告警"},
      {kFail, 0, 0, E::Change, true, false, false, true, true, false, true, S::Warning, "无应答", "控制器无应答"},
      {kFail, 0, 0, E::None, false, false, false, true, true, false, true, S::Warning, "无应答", "控制器无应答"},
      {kGood, 0, 0, E::Change, false, false, false, false, true, true, false, S::Plain, "无告警", "无告警"}}},
    {"OneFailedPollThenAGoodOneIsNothing",
     {kStarted, kNormal,
      {kFail, 0, 0, E::None, false, false, false, false, false, false, false, S::Plain, "无告警", "无告警"},
      {kGood, 0, 0, E::None, false, false, false, false, false, false, false, S::Plain, "无告警", "无告警"},
      {kFail, 0, 0, E::None, false, false, false, false, false, false, false, S::Plain, "无告警", "无告警"},
      {kFail, 0, 0, E::None, false, false, false, false, false, false, false, S::Plain, "无告警", "无告警"},
      {kGood, 0, 0, E::None, false, false, false, false, false, false, false, S::Plain, "无告警", "无告警"}}},
    {"UnknownStateIsAWarningNotAnAlarm",
     {kStarted, kNormal,
      {kGood, 3, 0, E::Change, false, false, false, false, false, false, false, S::Warning, "未知状态(3)", "未知状态(3)"},
      {kGood, 4, 0, E::Change, false, false, false, false, false, false, false, S::Warning, "未知状态(4)", "未知状态(4)"}}},
    {"StopSilencesAndKeepsTheAlarmMarked",
     {kStarted, kLeak,
      {kStop, 0, 0, E::Stop, false, false, false, true, true, false, false, S::Alarm, "水浸", "水浸 123.45米"},
      {kStart, 0, 0, E::Start, false, false, false, false, true, false, false, S::Plain, "", ""},
      {kGood, 1, 12345, E::Change, true, false, false, true, true, false, true, S::Alarm, "水浸", "水浸 123.45米"}}},
};

AlarmChange Feed(CAlarmState& alarm, const AlarmStep& step) {
  switch (step.input) {
    case Input::Start: return alarm.Start();
    case Input::Good: return alarm.Accepted(step.status, step.hundredths);
    case Input::Fail: return alarm.Failed();
    case Input::Ack: return alarm.Acknowledge();
    default: return alarm.Stop();
  }
}

}  // namespace

TEST(AlarmState, FollowsPollsAcknowledgementsAndStops) {
  for (const AlarmCase& c : kAlarmCases) {
    SCOPED_TRACE(c.name);
    CAlarmState alarm;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE(i);
      const AlarmStep& step = c.steps[i];
      const AlarmChange change = Feed(alarm, step);
      EXPECT_EQ(change.event, step.event);
      EXPECT_EQ(change.announce, step.announce);
      EXPECT_EQ(change.update, step.update);
      EXPECT_EQ(change.withdraw, step.withdraw);
      EXPECT_EQ(alarm.Flashing(), step.flashing);
      EXPECT_EQ(alarm.Unacknowledged(), step.unacknowledged);
      EXPECT_EQ(alarm.Recovered(), step.recovered);
      EXPECT_EQ(alarm.Sounding(), step.sounding);
      EXPECT_EQ(alarm.Look(), step.look);
      EXPECT_EQ(alarm.StateText(), QString::fromUtf8(step.text));
      EXPECT_EQ(alarm.Summary(), QString::fromUtf8(step.summary));
    }
  }
}
