#include "frame_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "registers.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const Frame& f) { return Bytes(f.data(), f.data() + f.size); }

// The CRC computed bit by bit, independently of the tables, returned in the
// same wire-order packing as Crc16.
uint16_t BitwiseCrc(const uint8_t* data, size_t len) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < len; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return static_cast<uint16_t>((crc & 0xFF) << 8 | crc >> 8);
}

TEST(Crc16, KnownFrames) {
  const Bytes read = {0x01, 0x03, 0x20, 0x0A, 0x00, 0x01};
  EXPECT_EQ(Crc16(read.data(), read.size()), 0xAFC8);
  EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
}

TEST(Crc16, MatchesBitwiseCrcOverRandomFrames) {
  std::mt19937 rng(7420);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<size_t> length(1, kMaxFrameBytes);
  for (int i = 0; i < 5000; ++i) {
    Bytes data(length(rng));
    for (auto& b : data) b = static_cast<uint8_t>(byte(rng));
    ASSERT_EQ(Crc16(data.data(), data.size()), BitwiseCrc(data.data(), data.size()))
        << "frame " << i << " of " << data.size() << " bytes";
  }
}

struct BuilderCase {
  const char* name;
  Frame frame;
  Bytes wire;
};

// Test names show the case name, not a dump of the bytes.
void PrintTo(const BuilderCase& c, std::ostream* os) { *os << c.name; }

class Builders : public ::testing::TestWithParam<BuilderCase> {};

TEST_P(Builders, Layout) {
  const BuilderCase& c = GetParam();
  EXPECT_EQ(ToBytes(c.frame), c.wire);
}

const uint8_t kFloatData[] = {0x3F, 0xC0, 0x00, 0x00};
const uint8_t kAddressBaud[] = {0x00, 0x05, 0x00, 0x00, 0x25, 0x80};

// Check bytes of the frames not given by hand come from the bitwise CRC.
Bytes WithCrc(Bytes body) {
  const uint16_t crc = BitwiseCrc(body.data(), body.size());
  body.push_back(static_cast<uint8_t>(crc >> 8));
  body.push_back(static_cast<uint8_t>(crc & 0xFF));
  return body;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Builders,
    ::testing::Values(
        BuilderCase{"LineLengthRead", BuildReadRequest(1, REG_LINE_LENGTH, 1),
                    {0x01, 0x03, 0x20, 0x0A, 0x00, 0x01, 0xAF, 0xC8}},
        BuilderCase{"StartupWorkMode", BuildWriteRequest(1, REG_WORK_MODE, 0),
                    {0x01, 0x06, 0x1F, 0xF9, 0x00, 0x00, 0x5E, 0x2F}},
        BuilderCase{"StartupAutocal", BuildWriteRequest(1, REG_RESISTIVITY_AUTOCAL, 0),
                    {0x01, 0x06, 0x20, 0x09, 0x00, 0x00, 0x52, 0x08}},
        BuilderCase{"FactoryBlock", BuildReadRequest(0x2C, REG_WORK_MODE, 15),
                    WithCrc({0x2C, 0x03, 0x1F, 0xF9, 0x00, 0x0F})},
        BuilderCase{"FloatWrite",
                    BuildWriteMultipleRequest(1, REG_RESISTIVITY, 2, kFloatData),
                    WithCrc({0x01, 0x10, 0x20, 0x0B, 0x00, 0x02, 0x04, 0x3F, 0xC0,
                             0x00, 0x00})},
        BuilderCase{"AddressAndBaud",
                    BuildWriteMultipleRequest(1, REG_STATION_ADDRESS, 3, kAddressBaud),
                    WithCrc({0x01, 0x10, 0x20, 0x0D, 0x00, 0x03, 0x06, 0x00, 0x05,
                             0x00, 0x00, 0x25, 0x80})},
        BuilderCase{"LogRecords",
                    BuildReadFileRecordRequest(1, kLogFileNumber, 24, 5 * 24),
                    WithCrc({0x01, 0x14, 0x07, 0x06, 0x20, 0x10, 0x00, 0x18, 0x00,
                             0x78})},
        // Counts the frame cannot hold, or missing data, send nothing.
        BuilderCase{"TooManyRegisters",
                    BuildWriteMultipleRequest(1, REG_CLOCK, 124, kAddressBaud), {}},
        BuilderCase{"NoData", BuildWriteMultipleRequest(1, REG_CLOCK, 4, nullptr), {}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Acceptance -----------------------------------------------------------

struct AcceptCase {
  const char* name;
  Bytes reply;
  size_t expected;
  size_t read;
  uint32_t queued;
  bool accepted;
};

// Test names show the case name, not a dump of the bytes.
void PrintTo(const AcceptCase& c, std::ostream* os) { *os << c.name; }

class Acceptance : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(Acceptance, Verdict) {
  const AcceptCase& c = GetParam();
  Bytes buf = c.reply;
  buf.resize(kMaxFrameBytes);  // what lies past the reply must not matter
  EXPECT_EQ(IsReplyValid(buf.data(), c.expected, c.read, c.queued), c.accepted);
}

const Bytes kGood = WithCrc({0x01, 0x03, 0x02, 0x04, 0xD2});

Bytes Swapped(Bytes b) {
  std::swap(b[b.size() - 1], b[b.size() - 2]);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Acceptance,
    ::testing::Values(
        AcceptCase{"Good", kGood, 7, 7, 7, true},
        AcceptCase{"SwappedCheckBytes", Swapped(kGood), 7, 7, 7, false},
        AcceptCase{"ShortRead", kGood, 7, 5, 5, false},
        // Seven queued but only five read: the buffer's last two bytes are
        // whatever it held, here the good check bytes. Still refused.
        AcceptCase{"ReadFewerThanQueued", kGood, 7, 5, 7, false},
        AcceptCase{"ShortQueued", kGood, 7, 7, 5, false},
        // The first seven of nine queued bytes form a good frame: still refused.
        AcceptCase{"LongQueued", kGood, 7, 7, 9, false},
        AcceptCase{"OtherStation", WithCrc({0x07, 0x03, 0x02, 0x04, 0xD2}), 7, 7, 7, true},
        AcceptCase{"OtherFunction", WithCrc({0x01, 0x04, 0x02, 0x04, 0xD2}), 7, 7, 7, true},
        AcceptCase{"Exception", WithCrc({0x01, 0x83, 0x04}), 7, 5, 5, false},
        AcceptCase{"NothingToCheck", {0xFF, 0xFF}, 2, 2, 2, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Encodings ---------------------------------------------------------------

TEST(Encodings, FloatBothWays) {
  const struct {
    float value;
    Bytes wire;
  } cases[] = {
      {1.5f, {0x3F, 0xC0, 0x00, 0x00}},
      {100.0f, {0x42, 0xC8, 0x00, 0x00}},
      {10.0f, {0x41, 0x20, 0x00, 0x00}},
      {-2.0f, {0xC0, 0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    uint8_t out[4];
    PutFloat(out, c.value);
    EXPECT_EQ(Bytes(out, out + 4), c.wire) << c.value;
    EXPECT_EQ(GetFloat(c.wire.data()), c.value);
  }
}

TEST(Encodings, HundredthsWord) {
  const struct {
    double value;
    uint16_t word;
  } cases[] = {
      {12.34, 0x04D2},
      {1.15, 0x0072},   // 114.99999... truncates
      {-1.5, 0x006A},   // -150 / 256 = 0, -150 % 256 = -150 -> 0x6A
      // Toward zero, not down: -123.4 -> -123 -> 0x85 (floor: -124 -> 0x84),
      // and -0.5 -> 0 (floor: -1 -> 0x00FF).
      {-1.234, 0x0085},
      {-0.005, 0x0000},
      {700.0, 0x1170},  // 70000 does not fit: 273 -> 0x11, 112 -> 0x70
      {0.0, 0x0000},
      {655.35, 0xFFFF},
      {std::nan(""), 0x0000},
  };
  for (const auto& c : cases) EXPECT_EQ(HundredthsWord(c.value), c.word) << c.value;
}

TEST(Encodings, HundredthsSaturateAndDecode) {
  EXPECT_EQ(ToHundredths(-1.5), -150);
  EXPECT_EQ(ToHundredths(-1.234), -123);
  EXPECT_EQ(ToHundredths(-0.005), 0);
  EXPECT_EQ(ToHundredths(1.234), 123);
  EXPECT_EQ(ToHundredths(1e12), INT32_MAX);
  EXPECT_EQ(ToHundredths(-1e12), INT32_MIN);
  EXPECT_EQ(ToHundredths(INFINITY), INT32_MAX);
  EXPECT_DOUBLE_EQ(FromHundredths(1234), 12.34);
}

TEST(Encodings, IntegersBigEndian) {
  uint8_t buf[4];
  PutU32(buf, 9600);
  EXPECT_EQ(Bytes(buf, buf + 4), (Bytes{0x00, 0x00, 0x25, 0x80}));
  EXPECT_EQ(GetU32(buf), 9600u);
  PutU16(buf, 0xBEEF);
  EXPECT_EQ(GetU16(buf), 0xBEEF);
  EXPECT_EQ(buf[0], 0xBE);
}

TEST(Encodings, ClockBothWays) {
  // Every field with two digits, where BCD and binary differ (17 is 0x17 in
  // BCD, 0x11 in binary), and with single digits.
  const struct {
    ClockFields when;
    Bytes wire;
  } cases[] = {
      {{2026, 12, 17, 21, 45, 39}, {0x20, 0x26, 0x12, 0x17, 0x21, 0x45, 0x00, 0x39}},
      {{2026, 12, 7, 21, 5, 9}, {0x20, 0x26, 0x12, 0x07, 0x21, 0x05, 0x00, 0x09}},
  };
  for (const auto& c : cases) {
    uint8_t wire[8];
    EncodeClock(c.when, wire);
    EXPECT_EQ(Bytes(wire, wire + 8), c.wire);
    const ClockFields back = DecodeClock(c.wire.data());
    EXPECT_EQ(std::vector<int>({back.year, back.month, back.day, back.hour, back.minute,
                                back.second}),
              std::vector<int>({c.when.year, c.when.month, c.when.day, c.when.hour,
                                c.when.minute, c.when.second}));
  }

  const uint8_t read[8] = {0x20, 0x15, 0x01, 0x31, 0x23, 0x59, 0x77, 0x58};
  const ClockFields back = DecodeClock(read);  // the reserved byte is ignored
  EXPECT_EQ(back.year, 2015);
  EXPECT_EQ(back.month, 1);
  EXPECT_EQ(back.day, 31);
  EXPECT_EQ(back.hour, 23);
  EXPECT_EQ(back.minute, 59);
  EXPECT_EQ(back.second, 58);
  EXPECT_EQ(ToBcd(45), 0x45);
  EXPECT_EQ(FromBcd(0x45), 45);
}

// Each field takes the digits of its width and refuses, never wraps, a value
// beyond it: 100 would otherwise go out as 0xA0, 10000 as year 0000 and a
// saturated 9999999999 as bytes of an overflowed int.
TEST(Encodings, ClockFieldsBeyondTheirDigitsAreRefused) {
  struct Case {
    int field;  // 0 year .. 5 second
    int value;
    bool fits;
    uint8_t hi = 0, lo = 0;  // the field's bytes when it fits (lo only, but the year)
  };
  const Case cases[] = {
      {0, 9999, true, 0x99, 0x99}, {0, 10000, false}, {0, -1, false}, {0, 0, true, 0x00, 0x00},
      {0, INT_MAX, false},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  for (int field = 1; field < 6; ++field) {
    all.push_back({field, 99, true, 0, 0x99});
    all.push_back({field, 100, false});
    all.push_back({field, -1, false});
    all.push_back({field, INT_MAX, false});
  }
  const int kWireByte[6] = {1, 2, 3, 4, 5, 7};
  for (const Case& c : all) {
    SCOPED_TRACE("field " + std::to_string(c.field) + " = " + std::to_string(c.value));
    ClockFields clock{2026, 12, 7, 21, 5, 9};
    int* const fields[6] = {&clock.year, &clock.month,  &clock.day,
                            &clock.hour, &clock.minute, &clock.second};
    *fields[c.field] = c.value;
    uint8_t wire[8];
    std::fill(std::begin(wire), std::end(wire), uint8_t{0xEE});
    ASSERT_EQ(EncodeClock(clock, wire), c.fits);
    if (!c.fits) {
      EXPECT_EQ(Bytes(wire, wire + 8), Bytes(8, 0xEE)) << "a refused clock wrote bytes";
      continue;
    }
    EXPECT_EQ(wire[kWireByte[c.field]], c.lo);
    if (c.field == 0) {
      EXPECT_EQ(wire[0], c.hi);
    }
  }
  EXPECT_EQ(ToBcd(100), std::nullopt);
  EXPECT_EQ(ToBcd(-1), std::nullopt);
}

}  // namespace
