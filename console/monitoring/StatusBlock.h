// The monitoring poll's two status blocks, decoded from the reply bytes into
// plain values. No Qt and no window here: the poll sends, these decode, the
// window shows.
#pragma once

#include <cstdint>

#include "registers.h"

// The controller's clock as it travels: a BCD year word (0x2015 is 2015)
// and one BCD byte per field. Shown with "%X" it reads as decimal digits.
struct BcdClock {
  uint16_t year = 0;
  uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The eight clock bytes [year hi][year lo][month][day][hour][minute]
// [reserved][second]; the reserved byte is not looked at.
BcdClock DecodeBcdClock(const uint8_t* bytes);

// Registers 0x2000-0x2008, carried by both blocks.
struct MeasurementStatus {
  uint16_t alarm = 0;           // 0 none, 1 leak, 2 broken cable; others unknown
  uint16_t leakHundredths = 0;  // leak position in 0.01 m
  uint16_t logCount = 0;        // alarm-log entries
  uint16_t buzzer = 0;          // 0 on, 1 off; others unknown
  BcdClock clock;
};

// Registers 0x1FF9-0x2008: sixteen registers, one more than the count field
// of the request asks for.
struct FactoryStatus {
  uint16_t workMode = 0;  // 0 measurement, 1 factory with volts, 2 with ADC counts
  float channel[3] = {};  // A0, A1, A2
  MeasurementStatus measurement;
};

using MeasurementReply = uint8_t[kMeasurementStatusBlock.replyLength];
using FactoryReply = uint8_t[kFactoryStatusBlock.replyLength];

// Whole accepted replies, address byte first.
MeasurementStatus DecodeMeasurementBlock(const MeasurementReply& reply);
FactoryStatus DecodeFactoryBlock(const FactoryReply& reply);
