// The controller's register map: every holding register the console reads or
// writes, the alarm-log file, and the fixed shapes of the block reads.
// Register numbers go on the wire high byte first; values are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

// --- Calibration voltages (float, two registers each) -----------------------
constexpr uint16_t REG_A0_CAL_VOLTAGE_1 = 0x1000;  // mV
constexpr uint16_t REG_A0_CAL_VOLTAGE_2 = 0x1002;  // mV
constexpr uint16_t REG_A1_CAL_VOLTAGE_1 = 0x1004;  // mV
constexpr uint16_t REG_A1_CAL_VOLTAGE_2 = 0x1006;  // mV
constexpr uint16_t REG_A2_CAL_VOLTAGE_1 = 0x1008;  // V
constexpr uint16_t REG_A2_CAL_VOLTAGE_2 = 0x100A;  // V

// --- Voltage coefficients (float, read only) ---------------------------------
constexpr uint16_t REG_A1_COEFF_4 = 0x100E;  // first of the 6-register block
constexpr uint16_t REG_A1_COEFF_3 = 0x1010;
constexpr uint16_t REG_A1_COEFF_2 = 0x1012;
constexpr uint16_t REG_A0_COEFF = 0x1014;
constexpr uint16_t REG_A1_COEFF_1 = 0x1016;
constexpr uint16_t REG_A2_COEFF = 0x1018;

// --- Cable and calibration source --------------------------------------------
constexpr uint16_t REG_A0_RESISTANCE = 0x101A;     // float, ohm
constexpr uint16_t REG_VOLTAGE_AUTOCAL = 0x101C;   // write 1: start voltage auto-calibration
constexpr uint16_t REG_SOURCE_VOLTAGE_1 = 0x101D;  // float, mV, write only
constexpr uint16_t REG_SOURCE_VOLTAGE_2 = 0x101F;  // float, V; also the "A电流" current, uA
constexpr uint16_t REG_LINE_RESISTANCE = 0x1022;   // float, ohm

// --- Counts, mode state, second clock -----------------------------------------
constexpr uint16_t REG_LOG_COUNT_2 = 0x102C;  // u16
constexpr uint16_t REG_MODE_STATE = 0x102D;   // u16, 0..3
constexpr uint16_t REG_CLOCK_2 = 0x1033;      // BCD clock, 4 registers

// --- Range, working mode and the factory status block ------------------------
constexpr uint16_t REG_A1_RANGE = 0x1FF8;    // index 0..3; probed by the parameter search
constexpr uint16_t REG_WORK_MODE = 0x1FF9;   // 0 measurement, 1 factory/voltage, 2 factory/ADC
constexpr uint16_t REG_A0_VOLTAGE = 0x1FFA;  // float, V or ADC counts
constexpr uint16_t REG_A1_VOLTAGE = 0x1FFC;
constexpr uint16_t REG_A2_VOLTAGE = 0x1FFE;

// --- Measurement status block --------------------------------------------------
constexpr uint16_t REG_ALARM_STATUS = 0x2000;   // 0 none, 1 leak, 2 broken cable
constexpr uint16_t REG_LEAK_POSITION = 0x2001;  // u16, hundredths of a metre
constexpr uint16_t REG_LOG_COUNT = 0x2003;      // u16; writing 1 clears the log
constexpr uint16_t REG_BUZZER = 0x2004;         // 0 on, 1 off
constexpr uint16_t REG_CLOCK = 0x2005;          // BCD clock, 4 registers (0x2005-0x2008)

// --- Settings ---------------------------------------------------------------------
constexpr uint16_t REG_RESISTIVITY_AUTOCAL = 0x2009;  // 1 start, 0 stop
constexpr uint16_t REG_LINE_LENGTH = 0x200A;          // u16, hundredths of a metre
constexpr uint16_t REG_RESISTIVITY = 0x200B;          // float, mOhm/cm
constexpr uint16_t REG_STATION_ADDRESS = 0x200D;      // u16, written with the baud rate
constexpr uint16_t REG_BAUD_RATE = 0x200E;            // u32, 2 registers

// --- Alarm log: file records of function 0x14 ------------------------------------
constexpr uint16_t kLogFileNumber = 0x2010;
constexpr size_t kLogEntryBytes = 10;
constexpr uint16_t kLogEntryRegisters = 5;
constexpr size_t kLogEntriesPerRequest = 24;

// Reply lengths, by access kind.
constexpr size_t ReadReplyLength(size_t count) { return 5 + 2 * count; }
constexpr size_t kWriteReplyLength = 8;  // 0x06 echo and 0x10 acknowledgement
constexpr size_t FileRecordReplyLength(size_t entries) {
  return kLogEntryBytes * entries + 7;
}
constexpr size_t kExceptionReplyLength = 5;

// Block reads: one request each, with a fixed reply length.
struct BlockRead {
  uint16_t first;
  uint16_t count;      // the count field sent
  size_t replyLength;  // the reply length expected
};
constexpr BlockRead kA1CoefficientBlock{REG_A1_COEFF_4, 6, 17};
constexpr BlockRead kMeasurementStatusBlock{REG_ALARM_STATUS, 9, 23};
// The controller answers this one with sixteen registers (0x1FF9-0x2008),
// one more than the count field asks for.
constexpr BlockRead kFactoryStatusBlock{REG_WORK_MODE, 15, 37};
