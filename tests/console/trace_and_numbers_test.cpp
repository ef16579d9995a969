// The trace line of an exchange, and the reading of typed numbers.
#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <string>
#include <vector>

#include "TextNumbers.h"
#include "Trace.h"
#include "port_lock.h"
#include "serial_port.h"

namespace {

// A local wall-clock time, as the trace prints it.
std::chrono::system_clock::time_point LocalTime(int hour, int minute, int second, int millis) {
  std::tm tm{};
  tm.tm_year = 2026 - 1900;
  tm.tm_mon = 11;
  tm.tm_mday = 8;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm)) +
         std::chrono::milliseconds(millis);
}

TEST(Trace, OneLinePerExchange) {
  const std::vector<uint8_t> request = {0x01, 0x06, 0x1F, 0xF9, 0x00, 0x00, 0x5E, 0x2F};
  struct Case {
    TraceRecord record;
    const char* line;
  };
  const Case cases[] = {
      {{LocalTime(9, 5, 3, 42), "/dev/pts/3", request, request, 8, 8, true, 3.25},
       "09:05:03.042 /dev/pts/3 tx 01 06 1F F9 00 00 5E 2F rx 01 06 1F F9 00 00 5E 2F "
       "waited 8/8 read 8 accepted 3.2 ms"},
      {{LocalTime(23, 59, 59, 999), "/dev/ttyUSB0", request, {}, 8, 0, false, 300.44},
       "23:59:59.999 /dev/ttyUSB0 tx 01 06 1F F9 00 00 5E 2F rx - waited 0/8 read 0 rejected "
       "300.4 ms"},
      {{LocalTime(0, 0, 0, 0), "/dev/ttyS0", {0x01, 0x03, 0x20, 0x0A, 0x00, 0x01, 0xAF, 0xC8},
        {0x01, 0x83, 0x04, 0x40, 0xF3}, 7, 5, false, 1001.0},
       "00:00:00.000 /dev/ttyS0 tx 01 03 20 0A 00 01 AF C8 rx 01 83 04 40 F3 waited 5/7 read 5 "
       "rejected 1001.0 ms"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatTraceRecord(c.record), c.line);
}

TEST(Trace, InstalledSinkGetsExchangesAndNotes) {
  std::vector<std::string> lines;
  EXPECT_FALSE(TraceEnabled());
  TraceNote("not traced");
  InstallTrace([&](const std::string& line) { lines.push_back(line); });
  EXPECT_TRUE(TraceEnabled());
  TraceNote("window shown 12 ms after the start-up exchange");
  RemoveTrace();
  TraceNote("not traced either");
  ASSERT_EQ(lines.size(), 1u);
  // "HH:MM:SS.mmm " then the text
  EXPECT_EQ(lines[0].size(), 13 + std::string("window shown 12 ms after the start-up exchange").size());
  EXPECT_EQ(lines[0].substr(13), "window shown 12 ms after the start-up exchange");
  EXPECT_EQ(lines[0][2], ':');
  EXPECT_EQ(lines[0][8], '.');
}

// One message box stands for a missing device, missing rights and a line
// someone else holds; the trace tells them apart.
TEST(Trace, SaysWhyAPortWasNotOpened) {
  std::vector<std::string> lines;
  InstallTrace([&](const std::string& line) { lines.push_back(line); });
  EXPECT_EQ(OpenDevice("/dev/qd7420-no-such-port", 9600), nullptr);
  RemoveTrace();
  EXPECT_EQ(OpenDevice("/dev/qd7420-no-such-port", 9600), nullptr);
  ASSERT_EQ(lines.size(), 1u);
  const std::string said = "/dev/qd7420-no-such-port not opened: ";
  EXPECT_EQ(lines[0].substr(13, said.size()), said);
  EXPECT_GT(lines[0].size(), 13 + said.size()) << "and why (the system's words for ENOENT)";
}

// An open that had to leave another user's stale lock in place says so in
// one line; without the trace nobody is told.
TEST(Trace, SaysWhenAStaleLockStays) {
  std::vector<std::string> lines;
  InstallTrace([&](const std::string& line) { lines.push_back(line); });
  const std::string note =
      "stale lock file /run/lock/LCK..ttyUSB0 of ended process 4242 cannot be removed; "
      "going on without a lock file of our own";
  ASSERT_TRUE(LockNoteHookNow());
  LockNoteHookNow()("/dev/ttyUSB0", note);
  RemoveTrace();
  EXPECT_FALSE(LockNoteHookNow());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(13), "/dev/ttyUSB0 " + note);
}

TEST(TextNumbers, LeadingIntegerPrefix) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {
      {"1", 1},          {"  17abc", 17},   {"abc", 0},        {"", 0},
      {"300", 300},      {"-5", -5},        {"+7", 7},         {"+-7", 0},
      {"0x10", 0},       {"12.9", 12},      {"\t42", 42},      {"- 5", 0},
      {"99999999999", INT_MAX},             {"-99999999999", INT_MIN},
      {"99999999999999999999999", INT_MAX}, {"１", 0},  // a full-width digit is no digit
  };
  for (const Case& c : cases) EXPECT_EQ(AtoiText(QString::fromUtf8(c.text)), c.value) << c.text;
}

TEST(TextNumbers, LeadingDecimalPrefix) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"1.5", 1.5},       {"3.5V", 3.5},     {"", 0},          {"abc", 0},
      {" -2.25e1x", -22.5}, {"12.34", 12.34}, {"1,5", 1},       {".5", 0.5},
      {"+0.29", 0.29},    {"700", 700},      {"0x10", 0},      {"nan", 0},
      {"inf", 0},         {"1e", 1},         {"5.", 5},        {"-.5e-1", -0.05},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(AtofText(QString::fromUtf8(c.text)), c.value) << c.text;
}

// The checked readers: what may be sent to the controller at all.
TEST(TextNumbers, StationAddressIsOneTo255AsAtoiReadsIt) {
  struct Case {
    const char* text;
    int address;  // -1: refused
  };
  const Case cases[] = {
      {"1", 1},    {"255", 255}, {" 7", 7},    {"7abc", 7}, {"+9", 9},   {"\t12", 12},
      {"", -1},    {"abc", -1},  {"0", -1},    {"256", -1}, {"300", -1}, {"-1", -1},
      {"+", -1},   {"99999999999", -1},        {"-0", -1},
  };
  for (const Case& c : cases) {
    const auto address = StationAddress(QString::fromUtf8(c.text));
    EXPECT_EQ(address ? *address : -1, c.address) << c.text;
  }
}

TEST(TextNumbers, FloatValueNeedsAFiniteSingle) {
  struct Case {
    const char* text;
    bool accepted;
    float value;
  };
  const Case cases[] = {
      {"1.5", true, 1.5f},      {"3.5V", true, 3.5f},   {"-2", true, -2.0f},
      {"0x10", true, 0.0f},     {"3.4e38", true, 3.4e38f}, {"1e-50", true, 0.0f},
      {"", false, 0},           {"abc", false, 0},      {"nan", false, 0},
      {"inf", false, 0},        {"-infinity", false, 0}, {"1e39", false, 0},
      {"-1e39", false, 0},      {"1e999", false, 0},    {".", false, 0},
  };
  for (const Case& c : cases) {
    const auto value = FloatValue(QString::fromUtf8(c.text));
    EXPECT_EQ(value.has_value(), c.accepted) << c.text;
    if (value && c.accepted) {
      EXPECT_EQ(*value, c.value) << c.text;
    }
  }
}

TEST(TextNumbers, HundredthsValueFitsTheRegister) {
  struct Case {
    const char* text;
    int word;  // -1: refused
  };
  const Case cases[] = {
      {"12.34", 1234}, {"1.15", 114},    {"0.29", 28},     {"655.35", 65535},
      {"0", 0},        {"-0.005", 0},    {"3m", 300},      {"655.36", -1},
      {"700", -1},     {"-1.5", -1},     {"-0.01", -1},    {"", -1},
      {"abc", -1},     {"1e10", -1},
  };
  for (const Case& c : cases) {
    const auto word = HundredthsValue(QString::fromUtf8(c.text));
    EXPECT_EQ(word ? *word : -1, c.word) << c.text;
  }
}

}  // namespace
