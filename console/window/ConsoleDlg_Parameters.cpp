// Parameter commands: the read and set buttons of the cable, calibration and
// calibration-source rows, the A1 coefficient read, and the (hidden)
// mode-state read.
//
// The rows form one family: a table says what differs (button and handler
// name, register, value kind, count, reply length, field, format, pause,
// message) and one read and one set routine do the rest. The window binds
// every row's button as it starts: a new command of the family is a row.
#include <QString>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

#include "window/CommandPort.h"
#include "window/CommandRows.h"
#include "window/ConsoleDlg.h"
#include "window/ControlStates.h"
#include "window/Messages.h"
#include "window/ParameterValues.h"
#include "window/TextNumbers.h"
#include "frame_codec.h"
#include "registers.h"
#include "resource.h"

namespace {

enum class Direction { Read, Set };

struct ParameterRow {
  CommandName command;   // the button and its handler's name
  Direction direction;
  uint16_t reg;
  ParameterKind kind;
  uint16_t count;        // registers requested or written
  size_t replyLength;    // reads: 5 + 2 x count; sets: the 8-byte echo
  int field;             // the edit, static or list the value lives in
  const char* format;    // reads: how the value is shown
  uint32_t pauseMs;      // sets: the pause before the request is written
  const char* success;   // sets: the message of an accepted write, if any
};

constexpr ParameterKind kFloat = ParameterKind::Float;
constexpr ParameterKind kHundredths = ParameterKind::Hundredths;
constexpr ParameterKind kIndex = ParameterKind::Index;
constexpr Direction kRead = Direction::Read;
constexpr Direction kSet = Direction::Set;
constexpr size_t kWord = ReadReplyLength(1);   // 7
constexpr size_t kPair = ReadReplyLength(2);   // 9
constexpr size_t kEcho = kWriteReplyLength;    // 8
constexpr uint32_t kSettle = 500;              // ms before the slower writes

// clang-format off
constexpr ParameterRow kParameterRows[] = {
  // button and handler                                     dir    register              kind         n  reply  field                 format  pause    success
  {{IDC_READ_LINE_LENGTH,       "OnReadLineLength"       }, kRead, REG_LINE_LENGTH,      kHundredths, 1, kWord, IDC_LINE_LENGTH,      "%.2f", 0,       nullptr},
  {{IDC_READ_RESISTIVITY,       "OnReadResistivity"      }, kRead, REG_RESISTIVITY,      kFloat,      2, kPair, IDC_RESISTIVITY,      "%f",   0,       nullptr},
  {{IDC_READ_A0_RESISTANCE,     "OnReadA0Resistance"     }, kRead, REG_A0_RESISTANCE,    kFloat,      2, kPair, IDC_A0_RESISTANCE,    "%f",   0,       nullptr},
  {{IDC_READ_LINE_RESISTANCE,   "OnReadLineResistance"   }, kRead, REG_LINE_RESISTANCE,  kFloat,      2, kPair, IDC_LINE_RESISTANCE,  "%f",   0,       nullptr},
  {{IDC_READ_A0_CAL_VOLTAGE1,   "OnReadA0CalVoltage1"    }, kRead, REG_A0_CAL_VOLTAGE_1, kFloat,      2, kPair, IDC_A0_CAL_VOLTAGE1,  "%f",   0,       nullptr},
  {{IDC_READ_A0_CAL_VOLTAGE2,   "OnReadA0CalVoltage2"    }, kRead, REG_A0_CAL_VOLTAGE_2, kFloat,      2, kPair, IDC_A0_CAL_VOLTAGE2,  "%f",   0,       nullptr},
  {{IDC_READ_A1_CAL_VOLTAGE1,   "OnReadA1CalVoltage1"    }, kRead, REG_A1_CAL_VOLTAGE_1, kFloat,      2, kPair, IDC_A1_CAL_VOLTAGE1,  "%f",   0,       nullptr},
  {{IDC_READ_A1_CAL_VOLTAGE2,   "OnReadA1CalVoltage2"    }, kRead, REG_A1_CAL_VOLTAGE_2, kFloat,      2, kPair, IDC_A1_CAL_VOLTAGE2,  "%f",   0,       nullptr},
  {{IDC_READ_A2_CAL_VOLTAGE1,   "OnReadA2CalVoltage1"    }, kRead, REG_A2_CAL_VOLTAGE_1, kFloat,      2, kPair, IDC_A2_CAL_VOLTAGE1,  "%f",   0,       nullptr},
  {{IDC_READ_A2_CAL_VOLTAGE2,   "OnReadA2CalVoltage2"    }, kRead, REG_A2_CAL_VOLTAGE_2, kFloat,      2, kPair, IDC_A2_CAL_VOLTAGE2,  "%f",   0,       nullptr},
  {{IDC_READ_CURRENT,           "OnReadCurrent"          }, kRead, REG_SOURCE_VOLTAGE_2, kFloat,      2, kPair, IDC_CURRENT,          "%.2f", 0,       nullptr},
  {{IDC_READ_A1_RANGE,          "OnReadA1Range"          }, kRead, REG_A1_RANGE,         kIndex,      1, kWord, IDC_A1_RANGE,         nullptr, 0,      nullptr},
  {{IDC_READ_A0_COEFFICIENT,    "OnReadA0Coefficient"    }, kRead, REG_A0_COEFF,         kFloat,      2, kPair, IDC_A0_COEFFICIENT,   "%f",   0,       nullptr},
  {{IDC_READ_A2_COEFFICIENT,    "OnReadA2Coefficient"    }, kRead, REG_A2_COEFF,         kFloat,      2, kPair, IDC_A2_COEFFICIENT,   "%f",   0,       nullptr},

  {{IDC_SET_LINE_LENGTH,        "OnSetLineLength"        }, kSet,  REG_LINE_LENGTH,      kHundredths, 1, kEcho, IDC_LINE_LENGTH,      nullptr, kSettle, nullptr},
  {{IDC_SET_RESISTIVITY,        "OnSetResistivity"       }, kSet,  REG_RESISTIVITY,      kFloat,      2, kEcho, IDC_RESISTIVITY,      nullptr, kSettle, nullptr},
  {{IDC_SET_A0_RESISTANCE,      "OnSetA0Resistance"      }, kSet,  REG_A0_RESISTANCE,    kFloat,      2, kEcho, IDC_A0_RESISTANCE,    nullptr, kSettle, nullptr},
  {{IDC_SET_LINE_RESISTANCE,    "OnSetLineResistance"    }, kSet,  REG_LINE_RESISTANCE,  kFloat,      2, kEcho, IDC_LINE_RESISTANCE,  nullptr, kSettle, nullptr},
  {{IDC_SET_A0_CAL_VOLTAGE1,    "OnSetA0CalVoltage1"     }, kSet,  REG_A0_CAL_VOLTAGE_1, kFloat,      2, kEcho, IDC_A0_CAL_VOLTAGE1,  nullptr, kSettle, nullptr},
  {{IDC_SET_A0_CAL_VOLTAGE2,    "OnSetA0CalVoltage2"     }, kSet,  REG_A0_CAL_VOLTAGE_2, kFloat,      2, kEcho, IDC_A0_CAL_VOLTAGE2,  nullptr, kSettle, nullptr},
  {{IDC_SET_A1_CAL_VOLTAGE1,    "OnSetA1CalVoltage1"     }, kSet,  REG_A1_CAL_VOLTAGE_1, kFloat,      2, kEcho, IDC_A1_CAL_VOLTAGE1,  nullptr, 0,       nullptr},
  {{IDC_SET_A1_CAL_VOLTAGE2,    "OnSetA1CalVoltage2"     }, kSet,  REG_A1_CAL_VOLTAGE_2, kFloat,      2, kEcho, IDC_A1_CAL_VOLTAGE2,  nullptr, 0,       nullptr},
  {{IDC_SET_A2_CAL_VOLTAGE1,    "OnSetA2CalVoltage1"     }, kSet,  REG_A2_CAL_VOLTAGE_1, kFloat,      2, kEcho, IDC_A2_CAL_VOLTAGE1,  nullptr, 0,       nullptr},
  {{IDC_SET_A2_CAL_VOLTAGE2,    "OnSetA2CalVoltage2"     }, kSet,  REG_A2_CAL_VOLTAGE_2, kFloat,      2, kEcho, IDC_A2_CAL_VOLTAGE2,  nullptr, 0,       nullptr},
  {{IDC_SET_CURRENT,            "OnSetCurrent"           }, kSet,  REG_SOURCE_VOLTAGE_2, kFloat,      2, kEcho, IDC_CURRENT,          nullptr, 0,       kTextSetSucceeded},
  {{IDC_SET_A1_RANGE,           "OnSetA1Range"           }, kSet,  REG_A1_RANGE,         kIndex,      1, kEcho, IDC_A1_RANGE,         nullptr, kSettle, nullptr},
  {{IDC_SET_SOURCE_VOLTAGE1,    "OnSetSourceVoltage1"    }, kSet,  REG_SOURCE_VOLTAGE_1, kFloat,      2, kEcho, IDC_SOURCE_VOLTAGE1,  nullptr, kSettle, nullptr},
  {{IDC_SET_SOURCE_VOLTAGE2,    "OnSetSourceVoltage2"    }, kSet,  REG_SOURCE_VOLTAGE_2, kFloat,      2, kEcho, IDC_SOURCE_VOLTAGE2,  nullptr, kSettle, nullptr},
};
// clang-format on

constexpr int kA1Ranges = 4;  // "量程1".."量程4"; the fifth, empty entry is no range

// --- The two routines of the family ------------------------------------------------

void ReadParameter(CConsoleDlg& dlg, const ParameterRow& row) {
  CCommandPort port(dlg);
  if (!port) return;
  uint8_t reply[kPair];
  if (!port.Exchange(BuildReadRequest(port.Address(), row.reg, row.count), reply,
                     row.replyLength)) {
    port.ShowRefusal(kTextReadFailed);
    return;
  }
  if (row.kind == ParameterKind::Index)
    dlg.SetComboSel(row.field, GetU16(reply + 3));  // past the last entry: no selection
  else
    dlg.SetDlgItemText(row.field, FormatParameter(row.kind, row.format, reply + 3));
}

void SetParameter(CConsoleDlg& dlg, const ParameterRow& row) {
  CCommandPort port(dlg);
  if (!port) return;
  // The value is taken once the port is open, as the operator left it.
  Frame request;
  switch (row.kind) {
    case ParameterKind::Float: {
      const std::optional<float> value = FloatValue(dlg.GetDlgItemText(row.field));
      if (!value)
        return dlg.WindowMessage(QString::fromUtf8(kTextBadNumber),
                                 QString::fromUtf8(kTextFloatRange));
      uint8_t data[4];
      PutFloat(data, *value);
      request = BuildWriteMultipleRequest(port.Address(), row.reg, row.count, data);
      break;
    }
    case ParameterKind::Hundredths: {
      const std::optional<uint16_t> value = HundredthsValue(dlg.GetDlgItemText(row.field));
      if (!value)
        return dlg.WindowMessage(QString::fromUtf8(kTextBadLineLength),
                                 QString::fromUtf8(kTextLineLengthRange));
      request = BuildWriteRequest(port.Address(), row.reg, *value);
      break;
    }
    case ParameterKind::Index: {
      const int position = dlg.GetComboSel(row.field);
      if (position < 0 || position >= kA1Ranges)
        return dlg.WindowMessage(QString::fromUtf8(kTextNoRange));
      request = BuildWriteRequest(port.Address(), row.reg, static_cast<uint16_t>(position));
      break;
    }
  }
  uint8_t reply[kEcho];
  if (!port.Exchange(request, reply, row.replyLength, kCommandTimeoutMs, row.pauseMs)) {
    port.ShowRefusal(kTextSetFailed);
    return;
  }
  if (row.success) dlg.WindowInformation(QString::fromUtf8(row.success));
}

}  // namespace

// --- The rows' buttons --------------------------------------------------------------

void CConsoleDlg::BindParameterRows() {
  for (const ParameterRow& row : kParameterRows) {
    BindCommandRow(*this, row.command, [this, &row] {
      row.direction == Direction::Read ? ReadParameter(*this, row) : SetParameter(*this, row);
    });
  }
}

std::vector<CommandName> ParameterCommands() {
  std::vector<CommandName> names;
  for (const ParameterRow& row : kParameterRows) names.push_back(row.command);
  return names;
}

// --- The two reads of their own -----------------------------------------------------

// Four coefficients in two exchanges on one opening of the port: the block
// of three, then after a pause the fourth. A refused second exchange leaves
// the three new values shown.
void CConsoleDlg::OnReadA1Coefficients() {
  CCommandPort port(*this);
  if (!port) return;
  uint8_t block[kA1CoefficientBlock.replyLength];
  if (!port.Exchange(BuildReadRequest(port.Address(), kA1CoefficientBlock.first,
                                      kA1CoefficientBlock.count),
                     block, kA1CoefficientBlock.replyLength)) {
    port.ShowRefusal(kTextReadFailed);
    return;
  }
  static const int kBlockFields[] = {IDC_A1_COEFFICIENT4, IDC_A1_COEFFICIENT3,
                                     IDC_A1_COEFFICIENT2};
  for (size_t i = 0; i < std::size(kBlockFields); ++i)
    SetDlgItemText(kBlockFields[i], FormatParameter(ParameterKind::Float, "%f", block + 3 + 4 * i));

  constexpr uint32_t kBetweenMs = 100;
  uint8_t reply[kPair];
  if (!port.Exchange(BuildReadRequest(port.Address(), REG_A1_COEFF_1, 2), reply, kPair,
                     kCommandTimeoutMs, kBetweenMs)) {
    port.ShowRefusal(kTextReadFailed);
    return;
  }
  SetDlgItemText(IDC_A1_COEFFICIENT1, FormatParameter(ParameterKind::Float, "%f", reply + 3));
}

// The controller's mode state selects the working-mode list position and
// which parameter buttons may be used. States above 3 change no button.
void CConsoleDlg::OnReadModeState() {
  CCommandPort port(*this);
  if (!port) return;
  uint8_t reply[kWord];
  if (!port.Exchange(BuildReadRequest(port.Address(), REG_MODE_STATE, 1), reply, kWord)) {
    port.ShowRefusal(kTextReadFailed);
    return;
  }
  const int state = GetU16(reply + 3);
  SetComboSel(IDC_WORK_MODE, state);  // 2 and above: no selection
  if (state > 3) return;
  ApplyControlStates(*this, kModeStateEnables, std::min(state, int{kModeState2Or3}));
}
