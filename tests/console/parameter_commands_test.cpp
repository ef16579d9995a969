// The parameter commands against the simulated controller: what each button
// puts on the wire, what it shows, how it fails, and which typed values it
// refuses before anything is sent. The request bytes are written out here,
// check bytes included, so that a wrong register, count or CRC shows.
#include <QAbstractButton>
#include <QComboBox>

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <string>
#include <vector>

#include "window/ConsoleDlg.h"
#include "console_window_fixture.h"
#include "registers.h"
#include "resource.h"
#include "serial_port.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Clicks a button the way the operator would, after enabling it: many of
// the family start disabled, or hidden, until a mode allows them.
void Click(CConsoleDlg& dlg, int id) {
  dlg.EnableDlgItem(id, true);
  auto* button = qobject_cast<QAbstractButton*>(dlg.GetDlgItem(id));
  ASSERT_NE(button, nullptr) << id;
  button->click();
}

class ParameterCommandTest : public ConsoleWindowTest {
 protected:
  // Runs `body` on the window with the start-up exchange's frames cleared.
  void Run(const std::function<void(CConsoleDlg&)>& body) {
    RunWindow([&](CConsoleDlg& dlg) {
      m_server.ClearRequests();
      body(dlg);
    });
  }
  std::vector<QString> Texts() const {
    std::vector<QString> texts;
    for (const auto& shown : m_messages.shown) texts.push_back(shown.text);
    return texts;
  }
};

// --- Reads -----------------------------------------------------------------------

struct ReadCase {
  const char* name;
  int button;
  Bytes request;
  int field;
  const char* shown;  // for the list: the selected entry's text
};

// Every register of the table holds 10.0 (41 20 00 00), the line length
// 12.34 m (04 D2) and the A1 range position 2.
const ReadCase kReads[] = {
    {"line length", IDC_READ_LINE_LENGTH, {0x01, 0x03, 0x20, 0x0A, 0x00, 0x01, 0xAF, 0xC8}, IDC_LINE_LENGTH, "12.34"},
    {"resistivity", IDC_READ_RESISTIVITY, {0x01, 0x03, 0x20, 0x0B, 0x00, 0x02, 0xBE, 0x09}, IDC_RESISTIVITY, "10.000000"},
    {"A0 resistance", IDC_READ_A0_RESISTANCE, {0x01, 0x03, 0x10, 0x1A, 0x00, 0x02, 0xE1, 0x0C}, IDC_A0_RESISTANCE, "10.000000"},
    {"line resistance", IDC_READ_LINE_RESISTANCE, {0x01, 0x03, 0x10, 0x22, 0x00, 0x02, 0x60, 0xC1}, IDC_LINE_RESISTANCE, "10.000000"},
    {"A0 voltage 1", IDC_READ_A0_CAL_VOLTAGE1, {0x01, 0x03, 0x10, 0x00, 0x00, 0x02, 0xC0, 0xCB}, IDC_A0_CAL_VOLTAGE1, "10.000000"},
    {"A0 voltage 2", IDC_READ_A0_CAL_VOLTAGE2, {0x01, 0x03, 0x10, 0x02, 0x00, 0x02, 0x61, 0x0B}, IDC_A0_CAL_VOLTAGE2, "10.000000"},
    {"A1 voltage 1", IDC_READ_A1_CAL_VOLTAGE1, {0x01, 0x03, 0x10, 0x04, 0x00, 0x02, 0x81, 0x0A}, IDC_A1_CAL_VOLTAGE1, "10.000000"},
    {"A1 voltage 2", IDC_READ_A1_CAL_VOLTAGE2, {0x01, 0x03, 0x10, 0x06, 0x00, 0x02, 0x20, 0xCA}, IDC_A1_CAL_VOLTAGE2, "10.000000"},
    {"A2 voltage 1", IDC_READ_A2_CAL_VOLTAGE1, {0x01, 0x03, 0x10, 0x08, 0x00, 0x02, 0x41, 0x09}, IDC_A2_CAL_VOLTAGE1, "10.000000"},
    {"A2 voltage 2", IDC_READ_A2_CAL_VOLTAGE2, {0x01, 0x03, 0x10, 0x0A, 0x00, 0x02, 0xE0, 0xC9}, IDC_A2_CAL_VOLTAGE2, "10.000000"},
    {"current", IDC_READ_CURRENT, {0x01, 0x03, 0x10, 0x1F, 0x00, 0x02, 0xF1, 0x0D}, IDC_CURRENT, "10.00"},
    {"A1 range", IDC_READ_A1_RANGE, {0x01, 0x03, 0x1F, 0xF8, 0x00, 0x01, 0x02, 0x2F}, IDC_A1_RANGE, "量程3"},
    {"A0 coefficient", IDC_READ_A0_COEFFICIENT, {0x01, 0x03, 0x10, 0x14, 0x00, 0x02, 0x80, 0xCF}, IDC_A0_COEFFICIENT, "10.000000"},
    {"A2 coefficient", IDC_READ_A2_COEFFICIENT, {0x01, 0x03, 0x10, 0x18, 0x00, 0x02, 0x40, 0xCC}, IDC_A2_COEFFICIENT, "10.000000"},
};

void FillRegisters(sim::Controller& device) {
  for (uint16_t reg : {REG_RESISTIVITY, REG_A0_RESISTANCE, REG_LINE_RESISTANCE, REG_A0_CAL_VOLTAGE_1,
                       REG_A0_CAL_VOLTAGE_2, REG_A1_CAL_VOLTAGE_1, REG_A1_CAL_VOLTAGE_2,
                       REG_A2_CAL_VOLTAGE_1, REG_A2_CAL_VOLTAGE_2, REG_SOURCE_VOLTAGE_2, REG_A0_COEFF,
                       REG_A2_COEFF})
    device.SetFloatRegister(reg, 10.0f);
  device.SetRegister(REG_LINE_LENGTH, 0x04D2);
  device.SetRegister(REG_A1_RANGE, 2);
}

TEST_F(ParameterCommandTest, EveryReadSendsItsRequestAndShowsTheValue) {
  FillRegisters(m_server.Device());
  Run([&](CConsoleDlg& dlg) {
    for (const ReadCase& c : kReads) {
      SCOPED_TRACE(c.name);
      m_server.ClearRequests();
      Click(dlg, c.button);
      EXPECT_EQ(Frames(), std::vector<Bytes>{c.request});
      EXPECT_EQ(dlg.GetDlgItemText(c.field), QString::fromUtf8(c.shown));
      EXPECT_EQ(PortHandle, nullptr);  // closed when the command ends
    }
  });
  EXPECT_TRUE(Texts().empty());  // an accepted read says nothing
}

TEST_F(ParameterCommandTest, RangeReadPastTheLastEntrySelectsNothing) {
  m_server.Device().SetRegister(REG_A1_RANGE, 5);
  Run([&](CConsoleDlg& dlg) {
    dlg.SetComboSel(IDC_A1_RANGE, 1);
    Click(dlg, IDC_READ_A1_RANGE);
    EXPECT_EQ(dlg.GetComboSel(IDC_A1_RANGE), -1);
  });
}

// --- Sets ------------------------------------------------------------------------

struct SetCase {
  const char* name;
  int button;
  int field;
  const char* typed;
  Bytes request;
  bool settles;  // the request goes out no sooner than 500 ms after the click
};

const SetCase kSets[] = {
    {"line length", IDC_SET_LINE_LENGTH, IDC_LINE_LENGTH, "12.34", {0x01, 0x06, 0x20, 0x0A, 0x04, 0xD2, 0x20, 0x95}, true},
    {"line length truncated", IDC_SET_LINE_LENGTH, IDC_LINE_LENGTH, "1.15", {0x01, 0x06, 0x20, 0x0A, 0x00, 0x72, 0x22, 0x2D}, true},
    {"resistivity", IDC_SET_RESISTIVITY, IDC_RESISTIVITY, "1.5", {0x01, 0x10, 0x20, 0x0B, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0x27, 0xF5}, true},
    {"resistivity with a unit", IDC_SET_RESISTIVITY, IDC_RESISTIVITY, "3.5V", {0x01, 0x10, 0x20, 0x0B, 0x00, 0x02, 0x04, 0x40, 0x60, 0x00, 0x00, 0x3E, 0x03}, true},
    {"resistivity with a decimal comma", IDC_SET_RESISTIVITY, IDC_RESISTIVITY, "12,5", {0x01, 0x10, 0x20, 0x0B, 0x00, 0x02, 0x04, 0x41, 0x48, 0x00, 0x00, 0xBF, 0xF7}, true},
    {"line length with a decimal comma", IDC_SET_LINE_LENGTH, IDC_LINE_LENGTH, "12,34", {0x01, 0x06, 0x20, 0x0A, 0x04, 0xD2, 0x20, 0x95}, true},
    {"resistivity decimal only", IDC_SET_RESISTIVITY, IDC_RESISTIVITY, "0x10", {0x01, 0x10, 0x20, 0x0B, 0x00, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00, 0x2B, 0xDD}, true},
    {"A0 resistance", IDC_SET_A0_RESISTANCE, IDC_A0_RESISTANCE, "1.5", {0x01, 0x10, 0x10, 0x1A, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0xB3, 0x34}, true},
    {"line resistance", IDC_SET_LINE_RESISTANCE, IDC_LINE_RESISTANCE, "1.5", {0x01, 0x10, 0x10, 0x22, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0xB1, 0x86}, true},
    {"A0 voltage 1", IDC_SET_A0_CAL_VOLTAGE1, IDC_A0_CAL_VOLTAGE1, "1.5", {0x01, 0x10, 0x10, 0x00, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0x32, 0x47}, true},
    {"A0 voltage 2", IDC_SET_A0_CAL_VOLTAGE2, IDC_A0_CAL_VOLTAGE2, "1.5", {0x01, 0x10, 0x10, 0x02, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0xB3, 0x9E}, true},
    {"A1 voltage 1", IDC_SET_A1_CAL_VOLTAGE1, IDC_A1_CAL_VOLTAGE1, "1.5", {0x01, 0x10, 0x10, 0x04, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0x33, 0xB4}, false},
    {"A1 voltage 2", IDC_SET_A1_CAL_VOLTAGE2, IDC_A1_CAL_VOLTAGE2, "1.5", {0x01, 0x10, 0x10, 0x06, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0xB2, 0x6D}, false},
    {"A2 voltage 1", IDC_SET_A2_CAL_VOLTAGE1, IDC_A2_CAL_VOLTAGE1, "1.5", {0x01, 0x10, 0x10, 0x08, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0x33, 0xE1}, false},
    {"A2 voltage 2", IDC_SET_A2_CAL_VOLTAGE2, IDC_A2_CAL_VOLTAGE2, "1.5", {0x01, 0x10, 0x10, 0x0A, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0xB2, 0x38}, false},
    {"source voltage 1", IDC_SET_SOURCE_VOLTAGE1, IDC_SOURCE_VOLTAGE1, "1.5", {0x01, 0x10, 0x10, 0x1D, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0xF2, 0xD2}, true},
    {"source voltage 2", IDC_SET_SOURCE_VOLTAGE2, IDC_SOURCE_VOLTAGE2, "1.5", {0x01, 0x10, 0x10, 0x1F, 0x00, 0x02, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0x73, 0x0B}, true},
};

TEST_F(ParameterCommandTest, EverySetSendsTheTypedValueAfterItsPause) {
  Run([&](CConsoleDlg& dlg) {
    for (const SetCase& c : kSets) {
      SCOPED_TRACE(c.name);
      m_server.ClearRequests();
      dlg.SetDlgItemText(c.field, QString::fromUtf8(c.typed));
      const Clock::time_point clicked = Clock::now();
      Click(dlg, c.button);
      const auto requests = m_server.Requests();
      ASSERT_EQ(requests.size(), 1u);
      EXPECT_EQ(requests[0].bytes, c.request);
      if (c.settles) {
        EXPECT_GE(requests[0].when - clicked, milliseconds(500));
      }
      EXPECT_EQ(dlg.GetDlgItemText(c.field), QString::fromUtf8(c.typed));  // nothing read back
      EXPECT_EQ(PortHandle, nullptr);
    }
  });
  EXPECT_TRUE(Texts().empty());  // accepted sets are silent, but for the current row
}

TEST_F(ParameterCommandTest, RangeSetSendsThePositionAfterItsPause) {
  Run([&](CConsoleDlg& dlg) {
    dlg.SetComboSel(IDC_A1_RANGE, 2);
    const Clock::time_point clicked = Clock::now();
    Click(dlg, IDC_SET_A1_RANGE);
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bytes, (Bytes{0x01, 0x06, 0x1F, 0xF8, 0x00, 0x02, 0x8E, 0x2E}));
    EXPECT_GE(requests[0].when - clicked, milliseconds(500));
  });
  EXPECT_EQ(m_server.Device().Register(REG_A1_RANGE), 2);
}

// The current row and the channel 2 source voltage are one register; the
// current row alone reports success.
TEST_F(ParameterCommandTest, CurrentRowReportsSuccessAndSharesTheSourceRegister) {
  Run([&](CConsoleDlg& dlg) {
    dlg.SetDlgItemText(IDC_CURRENT, QStringLiteral("1.5"));
    Click(dlg, IDC_SET_CURRENT);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{{0x01, 0x10, 0x10, 0x1F, 0x00, 0x02, 0x04, 0x3F, 0xC0,
                                              0x00, 0x00, 0x73, 0x0B}}));
    dlg.SetDlgItemText(IDC_SOURCE_VOLTAGE2, QStringLiteral("10"));
    Click(dlg, IDC_SET_SOURCE_VOLTAGE2);
    Click(dlg, IDC_READ_CURRENT);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_CURRENT), QStringLiteral("10.00"));
  });
  ASSERT_EQ(m_messages.shown.size(), 1u);
  EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("设置成功!"));
  EXPECT_FALSE(m_messages.shown[0].application);
  EXPECT_TRUE(m_messages.shown[0].portOpen);  // the port closes after the box
}

// --- Failures --------------------------------------------------------------------

struct FailureCase {
  const char* name;
  sim::Fault fault;
  int button;
  int field;
  const char* text;
};

const FailureCase kFailures[] = {
    {"read, no reply", sim::Fault::Silence, IDC_READ_RESISTIVITY, IDC_RESISTIVITY, "读取失败!"},
    {"read, bad check", sim::Fault::BadCrc, IDC_READ_LINE_LENGTH, IDC_LINE_LENGTH, "读取失败!"},
    {"read, exception", sim::Fault::Exception, IDC_READ_A0_RESISTANCE, IDC_A0_RESISTANCE, "读取失败!"},
    {"read, extra bytes", sim::Fault::ExtraBytes, IDC_READ_LINE_LENGTH, IDC_LINE_LENGTH, "读取失败!"},
    {"set, no reply", sim::Fault::Silence, IDC_SET_A1_CAL_VOLTAGE1, IDC_A1_CAL_VOLTAGE1, "设置失败!"},
    {"set, bad check", sim::Fault::BadCrc, IDC_SET_A2_CAL_VOLTAGE1, IDC_A2_CAL_VOLTAGE1, "设置失败!"},
    {"set, exception", sim::Fault::Exception, IDC_SET_A2_CAL_VOLTAGE2, IDC_A2_CAL_VOLTAGE2, "设置失败!"},
};

TEST_F(ParameterCommandTest, RefusedRepliesShowTheFailureWhileThePortIsOpen) {
  m_server.Device().SetFloatRegister(REG_RESISTIVITY, 10.0f);
  Run([&](CConsoleDlg& dlg) {
    for (const FailureCase& c : kFailures) {
      SCOPED_TRACE(c.name);
      m_messages.shown.clear();
      m_server.ClearRequests();
      dlg.SetDlgItemText(c.field, QStringLiteral("7.25"));
      m_server.InjectFault(c.fault, 1);
      Click(dlg, c.button);
      EXPECT_EQ(Frames().size(), 1u);
      EXPECT_EQ(dlg.GetDlgItemText(c.field), QStringLiteral("7.25"));  // field unchanged
      ASSERT_EQ(m_messages.shown.size(), 1u);
      EXPECT_EQ(m_messages.shown[0].text, QString::fromUtf8(c.text));
      EXPECT_FALSE(m_messages.shown[0].application);  // owned by the window
      EXPECT_TRUE(m_messages.shown[0].portOpen);
      EXPECT_EQ(PortHandle, nullptr);
    }
  });
}

TEST_F(ParameterCommandTest, PortThatCannotBeOpenedSendsNothing) {
  Run([&](CConsoleDlg& dlg) {
    SetPortPath(1, "/dev/qd7420-no-such-port");
    Click(dlg, IDC_READ_LINE_LENGTH);
    dlg.SetDlgItemText(IDC_RESISTIVITY, QStringLiteral("1.5"));
    Click(dlg, IDC_SET_RESISTIVITY);
  });
  EXPECT_TRUE(Frames().empty());
  ASSERT_EQ(m_messages.shown.size(), 2u);
  for (const auto& shown : m_messages.shown) {
    EXPECT_EQ(shown.text, QStringLiteral("没有发现此串口或此串口被占用"));
    EXPECT_TRUE(shown.application);
    EXPECT_FALSE(shown.portOpen);
  }
}

// --- The A1 coefficients: two exchanges on one opening ----------------------------

TEST_F(ParameterCommandTest, A1CoefficientsKeepTheBlockWhenTheSecondReadFails) {
  sim::Controller& device = m_server.Device();
  device.SetFloatRegister(REG_A1_COEFF_4, 4.0f);
  device.SetFloatRegister(REG_A1_COEFF_3, 3.0f);
  device.SetFloatRegister(REG_A1_COEFF_2, 2.0f);
  device.SetFloatRegister(REG_A1_COEFF_1, 1.0f);
  const std::vector<Bytes> requests = {{0x01, 0x03, 0x10, 0x0E, 0x00, 0x06, 0xA0, 0xCB},
                                       {0x01, 0x03, 0x10, 0x16, 0x00, 0x02, 0x21, 0x0F}};
  Run([&](CConsoleDlg& dlg) {
    Click(dlg, IDC_READ_A1_COEFFICIENTS);
    EXPECT_EQ(Frames(), requests);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_A1_COEFFICIENT4), QStringLiteral("4.000000"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_A1_COEFFICIENT3), QStringLiteral("3.000000"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_A1_COEFFICIENT2), QStringLiteral("2.000000"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_A1_COEFFICIENT1), QStringLiteral("1.000000"));
    const auto sent = m_server.Requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_GE(sent[1].when - sent[0].when, milliseconds(100));

    // Second time round the block carries new values and the last read fails.
    device.SetFloatRegister(REG_A1_COEFF_4, 40.0f);
    device.SetFloatRegister(REG_A1_COEFF_1, 10.0f);
    m_server.ClearRequests();
    m_server.InjectFault(sim::Fault::Silence, 1, 0, /*after=*/1);
    Click(dlg, IDC_READ_A1_COEFFICIENTS);
    EXPECT_EQ(Frames(), requests);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_A1_COEFFICIENT4), QStringLiteral("40.000000"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_A1_COEFFICIENT1), QStringLiteral("1.000000"));
  });
  EXPECT_EQ(Texts(), std::vector<QString>{QStringLiteral("读取失败!")});
}

TEST_F(ParameterCommandTest, A1CoefficientsStopAfterARefusedBlock) {
  Run([&](CConsoleDlg& dlg) {
    m_server.InjectFault(sim::Fault::BadCrc, 1);
    Click(dlg, IDC_READ_A1_COEFFICIENTS);
    EXPECT_EQ(Frames().size(), 1u);  // no second exchange
  });
  EXPECT_EQ(Texts(), std::vector<QString>{QStringLiteral("读取失败!")});
}

// --- The mode-state read -------------------------------------------------------------

// Which buttons each mode state enables: for 0, 1, and 2 (or 3).
struct EnableExpectation {
  int button;
  bool enabled[3];
};

const EnableExpectation kEnableTable[] = {
    {1015, {false, false, true}}, {1016, {false, false, true}}, {1018, {false, false, true}},
    {1019, {false, false, true}}, {1021, {false, false, true}}, {1022, {false, false, true}},
    {1024, {false, false, true}}, {1025, {false, false, true}}, {1027, {false, false, true}},
    {1028, {false, false, true}}, {1030, {false, false, true}}, {1031, {false, false, true}},
    {1033, {false, false, true}}, {1034, {false, false, true}}, {1036, {false, false, true}},
    {1037, {false, false, true}}, {1081, {false, false, true}}, {1082, {false, false, true}},
    {1083, {false, false, true}}, {1040, {true, true, true}},    {1043, {true, true, true}},
    {1049, {true, true, true}},   {1046, {true, false, true}},  {1041, {false, true, true}},
    {1044, {false, true, true}},  {1050, {false, true, true}},  {1047, {false, false, true}},
    {1035, {true, true, true}},   {1079, {true, true, true}},   {1080, {true, true, true}},
    {1086, {false, false, true}},
};

TEST_F(ParameterCommandTest, ModeStateSelectsTheModeAndEnablesTheButtons) {
  struct Case {
    uint16_t state;
    int selection;
    int column;  // of the enable table; -1: no button changes
  };
  const Case cases[] = {{0, 0, 0}, {1, 1, 1}, {2, -1, 2}, {7, -1, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    m_server.Device().SetRegister(REG_MODE_STATE, c.state);
    Run([&](CConsoleDlg& dlg) {
      // Start from the opposite of what the state should give, so a button
      // the read leaves alone shows.
      for (const EnableExpectation& e : kEnableTable)
        dlg.EnableDlgItem(e.button, c.column < 0 ? true : !e.enabled[c.column]);
      Click(dlg, IDC_READ_MODE_STATE);
      EXPECT_EQ(Frames(), (std::vector<Bytes>{{0x01, 0x03, 0x10, 0x2D, 0x00, 0x01, 0x10, 0xC3}}));
      EXPECT_EQ(dlg.GetComboSel(IDC_WORK_MODE), c.selection);
      for (const EnableExpectation& e : kEnableTable) {
        const bool expected = c.column < 0 ? true : e.enabled[c.column];
        EXPECT_EQ(dlg.GetDlgItem(e.button)->isEnabled(), expected) << e.button;
      }
    });
  }
  EXPECT_TRUE(Texts().empty());
}

// --- Typed values refused before anything is sent --------------------------------------

TEST_F(ParameterCommandTest, StationAddressMustBeOneTo255) {
  struct Case {
    const char* typed;
    bool accepted;
    uint8_t sentTo;
  };
  const Case cases[] = {
      {"", false, 0},    {"abc", false, 0}, {"0", false, 0},   {"256", false, 0},
      {"300", false, 0}, {"-1", false, 0},  {" 7", true, 7},   {"7abc", true, 7},
      {"+255", true, 255},
  };
  Run([&](CConsoleDlg& dlg) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.typed);
      m_messages.shown.clear();
      m_server.ClearRequests();
      dlg.SetDlgItemText(IDC_ADDRESS, QString::fromUtf8(c.typed));
      m_server.InjectFault(sim::Fault::BadCrc, 1);  // a quick refusal, should anything be sent
      Click(dlg, IDC_READ_LINE_LENGTH);
      const auto frames = Frames();
      ASSERT_EQ(m_messages.shown.size(), 1u);
      if (c.accepted) {
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0][0], c.sentTo);
        EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("读取失败!"));
      } else {
        EXPECT_TRUE(frames.empty());
        EXPECT_EQ(m_messages.shown[0].text, QStringLiteral("不能为空，地址范围在1--255"));
        EXPECT_EQ(m_messages.shown[0].detail, QStringLiteral("站号范围 1 到 255。"));
        EXPECT_FALSE(m_messages.shown[0].application);
        EXPECT_FALSE(m_messages.shown[0].portOpen);  // nothing opened
      }
      m_server.ClearFaults();
    }
  });
}

TEST_F(ParameterCommandTest, UnsafeValuesAreRefusedWithNothingSent) {
  struct Case {
    const char* name;
    int button;
    int field;      // an edit, or the range list
    const char* typed;  // for the list: the selected position as text
    const char* text;
    const char* range;  // the informative text: the range the field takes
  };
  const char* const kFloatRange = "数值须为有限的数，绝对值不超过 3.4E38（单精度浮点数）。";
  const char* const kLengthRange = "线长范围 0 到 655.35 米。";
  const Case cases[] = {
      {"float empty", IDC_SET_RESISTIVITY, IDC_RESISTIVITY, "", "请输入正确数值", kFloatRange},
      {"float letters", IDC_SET_A0_RESISTANCE, IDC_A0_RESISTANCE, "abc", "请输入正确数值", kFloatRange},
      {"float nan", IDC_SET_A1_CAL_VOLTAGE1, IDC_A1_CAL_VOLTAGE1, "nan", "请输入正确数值", kFloatRange},
      {"float inf", IDC_SET_A1_CAL_VOLTAGE2, IDC_A1_CAL_VOLTAGE2, "inf", "请输入正确数值", kFloatRange},
      {"float beyond single", IDC_SET_A2_CAL_VOLTAGE1, IDC_A2_CAL_VOLTAGE1, "1e39", "请输入正确数值",
       kFloatRange},
      {"length empty", IDC_SET_LINE_LENGTH, IDC_LINE_LENGTH, "", "请输入正确线长", kLengthRange},
      {"length beyond 655.35", IDC_SET_LINE_LENGTH, IDC_LINE_LENGTH, "700", "请输入正确线长", kLengthRange},
      {"length negative", IDC_SET_LINE_LENGTH, IDC_LINE_LENGTH, "-1.5", "请输入正确线长", kLengthRange},
      {"range none", IDC_SET_A1_RANGE, IDC_A1_RANGE, "-1", "请选择量程", ""},
      {"range empty entry", IDC_SET_A1_RANGE, IDC_A1_RANGE, "4", "请选择量程", ""},
  };
  Run([&](CConsoleDlg& dlg) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      m_messages.shown.clear();
      if (c.field == IDC_A1_RANGE)
        dlg.SetComboSel(c.field, QString::fromUtf8(c.typed).toInt());
      else
        dlg.SetDlgItemText(c.field, QString::fromUtf8(c.typed));
      Click(dlg, c.button);
      ASSERT_EQ(m_messages.shown.size(), 1u);
      EXPECT_EQ(m_messages.shown[0].text, QString::fromUtf8(c.text));
      EXPECT_EQ(m_messages.shown[0].detail, QString::fromUtf8(c.range));
      EXPECT_FALSE(m_messages.shown[0].application);
      EXPECT_EQ(PortHandle, nullptr);
    }
  });
  EXPECT_TRUE(Frames().empty());
}

// --- Numbers under a decimal-comma locale ----------------------------------------------

class DecimalCommaLocale : public ParameterCommandTest {
 protected:
  void SetUp() override {
    ParameterCommandTest::SetUp();
    m_previous = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the de_DE.UTF-8 locale is missing; scripts/setup.sh generates it";
  }
  void TearDown() override {
    std::setlocale(LC_ALL, m_previous.c_str());
    ParameterCommandTest::TearDown();
  }
  std::string m_previous;
};

TEST_F(DecimalCommaLocale, NumbersKeepTheirDecimalPoint) {
  m_server.Device().SetFloatRegister(REG_RESISTIVITY, 10.0f);
  m_server.Device().SetRegister(REG_LINE_LENGTH, 0x04D2);
  Run([&](CConsoleDlg& dlg) {
    Click(dlg, IDC_READ_RESISTIVITY);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_RESISTIVITY), QStringLiteral("10.000000"));
    Click(dlg, IDC_READ_LINE_LENGTH);
    EXPECT_EQ(dlg.GetDlgItemText(IDC_LINE_LENGTH), QStringLiteral("12.34"));
    m_server.ClearRequests();
    dlg.SetDlgItemText(IDC_A1_CAL_VOLTAGE1, QStringLiteral("1.5"));
    Click(dlg, IDC_SET_A1_CAL_VOLTAGE1);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{{0x01, 0x10, 0x10, 0x04, 0x00, 0x02, 0x04, 0x3F, 0xC0,
                                              0x00, 0x00, 0x33, 0xB4}}));
  });
  EXPECT_TRUE(Texts().empty());
}

}  // namespace
