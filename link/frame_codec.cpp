#include "frame_codec.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The two byte tables of the reference Modbus CRC. Entry i is the CRC of the
// single byte i (poly 0xA001, reflected, from 0): the "high" table holds the
// low half, which becomes the first check byte on the wire, the "low" table
// the high half. Built at compile time so there is no 512-number literal to
// mistype; the static_asserts pin them to the published tables.
struct CrcTables {
  uint8_t high[256];
  uint8_t low[256];
};

constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    }
    t.high[i] = static_cast<uint8_t>(crc & 0xFFu);
    t.low[i] = static_cast<uint8_t>(crc >> 8);
  }
  return t;
}

constexpr CrcTables kCrc = MakeCrcTables();
static_assert(kCrc.high[0] == 0x00 && kCrc.high[1] == 0xC1 &&
              kCrc.high[2] == 0x81 && kCrc.high[3] == 0x40);
static_assert(kCrc.low[0] == 0x00 && kCrc.low[1] == 0xC0 &&
              kCrc.low[2] == 0xC1 && kCrc.low[3] == 0x01);

// Modbus allows at most 123 registers in one 0x10 write; more would not fit
// the frame buffer either.
constexpr uint16_t kMaxWriteRegisters = 123;

uint8_t Hi(uint16_t v) { return static_cast<uint8_t>(v >> 8); }
uint8_t Lo(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }

// Station, function and a 16-bit register: the head shared by 0x03/0x06/0x10.
Frame StartFrame(uint8_t address, uint8_t function, uint16_t reg) {
  Frame f;
  f.bytes[0] = address;
  f.bytes[1] = function;
  f.bytes[2] = Hi(reg);
  f.bytes[3] = Lo(reg);
  f.size = 4;
  return f;
}

void PushU16(Frame& f, uint16_t v) {
  f.bytes[f.size++] = Hi(v);
  f.bytes[f.size++] = Lo(v);
}

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t len) {
  uint8_t first = 0xFF;
  uint8_t second = 0xFF;
  for (size_t i = 0; i < len; ++i) {
    const uint8_t index = first ^ data[i];
    first = kCrc.high[index] ^ second;
    second = kCrc.low[index];
  }
  return static_cast<uint16_t>(first << 8 | second);
}

void AppendCrc(Frame& frame) {
  const uint16_t crc = Crc16(frame.data(), frame.size);
  PushU16(frame, crc);
}

Frame BuildReadRequest(uint8_t address, uint16_t reg, uint16_t count) {
  Frame f = StartFrame(address, 0x03, reg);
  PushU16(f, count);
  AppendCrc(f);
  return f;
}

Frame BuildWriteRequest(uint8_t address, uint16_t reg, uint16_t value) {
  Frame f = StartFrame(address, 0x06, reg);
  PushU16(f, value);
  AppendCrc(f);
  return f;
}

Frame BuildWriteMultipleRequest(uint8_t address, uint16_t reg, uint16_t count,
                                const uint8_t* data) {
  // A count the buffer cannot hold, or no data to send, gives an empty frame:
  // nothing goes out and the exchange fails instead of overrunning memory.
  if (count == 0 || count > kMaxWriteRegisters || data == nullptr) return Frame{};
  Frame f = StartFrame(address, 0x10, reg);
  PushU16(f, count);
  const size_t dataBytes = 2u * count;
  f.bytes[f.size++] = static_cast<uint8_t>(dataBytes);
  std::memcpy(&f.bytes[f.size], data, dataBytes);
  f.size += dataBytes;
  AppendCrc(f);
  return f;
}

Frame BuildReadFileRecordRequest(uint8_t address, uint16_t file, uint16_t record,
                                 uint16_t length) {
  Frame f;
  f.bytes[0] = address;
  f.bytes[1] = 0x14;
  f.bytes[2] = 0x07;  // request data length: one sub-request
  f.bytes[3] = 0x06;  // reference type
  f.size = 4;
  PushU16(f, file);
  PushU16(f, record);
  PushU16(f, length);
  AppendCrc(f);
  return f;
}

bool IsReplyValid(const uint8_t* reply, size_t expected, size_t bytesRead,
                  uint32_t queued) {
  // Below three bytes there is no frame to check (and reply[expected - 2]
  // would lie outside the buffer).
  if (reply == nullptr || expected < 3) return false;
  if (bytesRead != expected || queued != expected) return false;
  return Crc16(reply, expected - 2) == GetU16(reply + expected - 2);
}

uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = Hi(v);
  p[1] = Lo(v);
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(GetU16(p)) << 16 | GetU16(p + 2);
}

void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, static_cast<uint16_t>(v >> 16));
  PutU16(p + 2, static_cast<uint16_t>(v & 0xFFFF));
}

float GetFloat(const uint8_t* p) {
  const uint32_t bits = GetU32(p);
  float v;
  static_assert(sizeof v == sizeof bits);
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

void PutFloat(uint8_t* p, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU32(p, bits);
}

int32_t ToHundredths(double value) {
  if (std::isnan(value)) return 0;
  const double scaled = std::trunc(value * 100.0);
  if (scaled >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (scaled <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(scaled);
}

uint16_t HundredthsWord(double value) {
  // Both halves are taken with division truncated toward zero and then cut to
  // eight bits, as the controller's tools always did: -1.5 gives 00 6A.
  const int32_t v = ToHundredths(value);
  const auto high = static_cast<uint8_t>(static_cast<uint32_t>(v / 256) & 0xFF);
  const auto low = static_cast<uint8_t>(static_cast<uint32_t>(v % 256) & 0xFF);
  return static_cast<uint16_t>(high << 8 | low);
}

double FromHundredths(uint16_t raw) { return raw * 0.01; }

std::optional<uint8_t> ToBcd(int value) {
  if (value < 0 || value > 99) return std::nullopt;
  return static_cast<uint8_t>((value / 10) << 4 | value % 10);
}

int FromBcd(uint8_t bcd) { return (bcd >> 4) * 10 + (bcd & 0x0F); }

bool EncodeClock(const ClockFields& clock, uint8_t out[8]) {
  // The year's four digits go into two bytes; a field beyond its width is
  // refused whole, never cut to its last digits.
  const bool yearFits = clock.year >= 0 && clock.year <= 9999;
  const std::optional<uint8_t> bytes[7] = {
      yearFits ? ToBcd(clock.year / 100) : std::nullopt,
      yearFits ? ToBcd(clock.year % 100) : std::nullopt,
      ToBcd(clock.month), ToBcd(clock.day), ToBcd(clock.hour), ToBcd(clock.minute),
      ToBcd(clock.second)};
  for (const std::optional<uint8_t>& byte : bytes)
    if (!byte) return false;
  // [year hi][year lo][month][day][hour][minute][reserved 0][second]
  for (int i = 0; i < 6; ++i) out[i] = *bytes[i];
  out[6] = 0;
  out[7] = *bytes[6];
  return true;
}

ClockFields DecodeClock(const uint8_t in[8]) {
  ClockFields c;
  c.year = FromBcd(in[0]) * 100 + FromBcd(in[1]);
  c.month = FromBcd(in[2]);
  c.day = FromBcd(in[3]);
  c.hour = FromBcd(in[4]);
  c.minute = FromBcd(in[5]);
  c.second = FromBcd(in[7]);
  return c;
}
