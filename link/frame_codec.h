// Modbus RTU frames as the controller speaks them: request builders, the
// CRC-16 check, the one acceptance test for replies, and the value encodings.
// Frames live in fixed buffers; nothing here allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// The longest reply is 247 bytes (24 log entries); requests are at most 17.
constexpr size_t kMaxFrameBytes = 256;

struct Frame {
  std::array<uint8_t, kMaxFrameBytes> bytes{};
  size_t size = 0;

  const uint8_t* data() const { return bytes.data(); }
  uint8_t operator[](size_t i) const { return bytes[i]; }
};

// Table-driven Modbus CRC-16 (poly 0xA001 reflected, init 0xFFFF). The result
// packs the two check bytes in wire order: first byte in the high half. So
// frame[n] = crc >> 8 and frame[n+1] = crc & 0xFF. Length 0 gives 0xFFFF.
uint16_t Crc16(const uint8_t* data, size_t len);

// Appends the two check bytes to `frame` (size grows by 2).
void AppendCrc(Frame& frame);

// Function 0x03: 8 bytes.
Frame BuildReadRequest(uint8_t address, uint16_t reg, uint16_t count);
// Function 0x06: 8 bytes.
Frame BuildWriteRequest(uint8_t address, uint16_t reg, uint16_t value);
// Function 0x10: 9 + 2*count bytes; `data` holds 2*count bytes, high first.
Frame BuildWriteMultipleRequest(uint8_t address, uint16_t reg, uint16_t count,
                                const uint8_t* data);
// Function 0x14, one sub-request of reference type 6: 12 bytes.
Frame BuildReadFileRecordRequest(uint8_t address, uint16_t file, uint16_t record,
                                 uint16_t length);

// The acceptance test: check bytes right over the first expected-2 bytes,
// exactly `expected` bytes read, and exactly `expected` bytes were queued.
// Header bytes (station, function, counts) are deliberately not compared.
bool IsReplyValid(const uint8_t* reply, size_t expected, size_t bytesRead,
                  uint32_t queued);

// --- Value encodings (all big-endian on the wire) ---------------------------
uint16_t GetU16(const uint8_t* p);
void PutU16(uint8_t* p, uint16_t v);
uint32_t GetU32(const uint8_t* p);
void PutU32(uint8_t* p, uint32_t v);
// IEEE-754 single, most significant byte first.
float GetFloat(const uint8_t* p);
void PutFloat(uint8_t* p, float v);

// Metres to hundredths: value * 100 truncated toward zero into 32 bits.
// NaN gives 0; values beyond the 32-bit range saturate.
int32_t ToHundredths(double value);
double FromHundredths(uint16_t raw);
// The 16-bit register value written for a hundredths field: ToHundredths,
// then high = v / 256 and low = v % 256 (truncating division), each cut to
// eight bits. So 700 gives 0x1170 and -1.5 gives 0x006A.
uint16_t HundredthsWord(double value);

// Two decimal digits in one byte (45 -> 0x45), and back. ToBcd takes 0 to
// 99 and refuses anything else.
std::optional<uint8_t> ToBcd(int value);
int FromBcd(uint8_t bcd);

// The controller's clock: eight BCD bytes
// [year hi][year lo][month][day][hour][minute][reserved 0][second].
struct ClockFields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// False, with nothing written, when a field does not fit its digits: the
// year 0 to 9999, the others 0 to 99 (no check that the date exists).
bool EncodeClock(const ClockFields& clock, uint8_t out[8]);
ClockFields DecodeClock(const uint8_t in[8]);
