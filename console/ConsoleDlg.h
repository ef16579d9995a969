// The console's main window: every control of every command on one dialog,
// the commands as members bound through the message map, the start-up
// sequence with its exchange with the controller, and the two layouts
// (narrow for measurement mode, wide with the calibration panel).
//
// The command handlers are grouped by feature in ConsoleDlg_<Feature>.cpp.
// Every command runs synchronously on the window's thread; the parameter
// search's worker thread reaches the window only through SendMessage.
#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QIcon>
#include <QMargins>
#include <QPointer>
#include <QRect>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "dialog/Dialog.h"
#include "serial_port.h"

class CCommandPort;
class CLogReader;
class QMenu;
struct BcdClock;
struct FactoryStatus;
struct MeasurementStatus;
namespace Ui {
class ConsoleDlg;
}

class CConsoleDlg : public CDialog {
  Q_OBJECT

 public:
  explicit CConsoleDlg(QWidget* parent = nullptr);
  ~CConsoleDlg() override;

  // The connection every command uses, read from the window at the moment.
  struct Connection {
    std::optional<uint8_t> address;  // edit 1000, 1..255; none when refused
    int port;                        // list 1001: index + 1
    int baud;                        // list 1002: atoi of the selected entry's text
  };
  Connection ReadConnection() const;

  // Narrow (measurement mode): the full width x 360 / 537; wide (factory
  // mode): the full width. Height from the full rectangle, position kept.
  void SetLayout(bool wide);
  bool IsWide() const { return m_bWide; }
  static int NarrowWidth(int fullWidth);

  // The full frame rectangle taken at start-up, before narrowing.
  QRect FullRect() const { return m_rcFull; }
  // The window's context menu ("关于 QD7420(&A)..."), null without one.
  QMenu* SystemMenu() const { return m_pSysMenu; }
  // Milliseconds from the end of the start-up exchange to the window first
  // being on screen; -1 until then.
  qint64 ShownAfterStartupMs() const { return m_nShownAfterStartupMs; }

  void OnSysCommand(int nID, LPARAM lParam);
  QIcon OnQueryDragIcon() const;

  // Where "设置为系统时间" takes the PC's local time from (the clock by
  // default; a test fixes it).
  using TimeSource = std::function<QDateTime()>;
  void SetTimeSource(TimeSource source) { m_timeSource = std::move(source); }

  // The ids of every control that starts a command (the message map's).
  static std::vector<int> CommandIds();
  // A paged log read is still under way (the window's commands are locked).
  bool IsReadingLog() const { return !m_pLogReader.isNull(); }

 protected:
  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  void OnTimer(int nIDEvent) override;
  LRESULT OnMessage(unsigned message, WPARAM wParam, LPARAM lParam) override;

  void contextMenuEvent(QContextMenuEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  // --- Parameter search (ConsoleDlg_Search.cpp) ---
  void OnSearchParameters();
  LRESULT OnSearchProgress(WPARAM wParam, LPARAM lParam);
  LRESULT OnSearchFound(WPARAM wParam, LPARAM lParam);
  void StartSearch();
  void StopSearch();
  void EndSearchWorker();
  // The worker: every address 1..255, every ticked rate, until found or
  // stopped. `generation` is the search it belongs to.
  static unsigned SearchThreadProc(CConsoleDlg* dlg, unsigned generation);
  // One probe on the worker's own open port: does `address` answer?
  static bool ProbeAddress(HPORT port, int address);
  static constexpr uint32_t kProbeTimeoutMs = 1000;
  // A raw TCP line cannot change its rate: the search tries the first ticked
  // one only, and its status line says so when more were ticked.
  void KeepOneRateOnRawLine();
  bool m_bOneRateOnly = false;

  // --- Parameter commands (ConsoleDlg_Parameters.cpp) ---
  void OnReadLineLength();
  void OnReadResistivity();
  void OnReadA0Resistance();
  void OnReadLineResistance();
  void OnReadA0CalVoltage1();
  void OnReadA0CalVoltage2();
  void OnReadA1Range();
  void OnReadA1CalVoltage1();
  void OnReadA1CalVoltage2();
  void OnReadA2CalVoltage1();
  void OnReadA2CalVoltage2();
  void OnReadCurrent();
  void OnReadA1Coefficients();
  void OnReadA0Coefficient();
  void OnReadA2Coefficient();
  void OnSetLineLength();
  void OnSetResistivity();
  void OnSetA0Resistance();
  void OnSetLineResistance();
  void OnSetA0CalVoltage1();
  void OnSetA0CalVoltage2();
  void OnSetA1Range();
  void OnSetA1CalVoltage1();
  void OnSetA1CalVoltage2();
  void OnSetA2CalVoltage1();
  void OnSetA2CalVoltage2();
  void OnSetCurrent();
  void OnSetSourceVoltage1();
  void OnSetSourceVoltage2();
  void OnReadModeState();
  // The family's two routines; `button` names the row of the command table.
  void ReadParameter(int button);
  void SetParameter(int button);

  // --- Live monitoring (ConsoleDlg_Monitoring.cpp; OnTimer above) ---
  void OnStartDetection();
  void OnDisplayVoltage();
  void OnDisplayAdc();
  // The caption of 1051 is the state: anything but "开始检测" is running.
  bool IsMonitoring() const;
  void StartDetection();
  void StopDetection();
  // Timer off, caption back, port closed: the part of a stop that also
  // holds when the window goes away while monitoring runs.
  void StopPolling();
  void PollMeasurement(uint8_t address);
  void PollFactory(uint8_t address);
  void CountPoll(bool accepted);
  void ShowMeasurementStatus(const MeasurementStatus& status, bool factory);
  bool m_bPolling = false;  // a tick is inside its exchange

  // --- Alarm log (ConsoleDlg_Log.cpp) ---
  void OnReadLogCount();
  void OnReadEntryCount();
  void OnReadLog();
  void OnClearLog();
  void OnLogReadFinished();
  QPointer<CLogReader> m_pLogReader;  // the paged read under way, if any

  // --- Device administration (ConsoleDlg_Admin.cpp) ---
  void OnWorkModeChange();
  void OnChangeAddressBaud();
  void OnSetSystemTime();
  void OnReadClock();
  void OnWriteClock();
  void OnBuzzerOff();
  void OnBuzzerOn();
  // A confirmed working mode: control states, layout, display mode.
  void ApplyWorkMode(bool factory);
  // The radios that write their choice to the controller (buzzer, display
  // mode) as one family; `radio` names the row of its table.
  void WriteRadio(int radio);
  int& RadioMember(int firstRadio);
  // Writes six typed clock fields as the BCD clock at `reg`; false when the
  // reply is refused or a field does not fit its digits (nothing is sent).
  bool WriteDeviceClock(const CCommandPort& port, uint16_t reg, const QString (&fields)[6]);
  // The six fields of a clock read back, with "%X", into `ids`.
  void ShowBcdClock(const int (&ids)[6], const BcdClock& clock);
  // The visible clock statics: year, month, day, hour, minute, second.
  static const int kClockRow[6];
  TimeSource m_timeSource;

  // --- Auto-calibration (ConsoleDlg_Calibration.cpp) ---
  void OnAutoCalibrateVoltage();
  void OnAutoResistivityOff();
  void OnAutoResistivityOn();

  // The hidden default button 1108: Enter lands here and does nothing.
  void OnDefaultButton();

  // Radio groups bound by data exchange: index of the checked radio, -1 none.
  int m_nBuzzer = -1;           // 1089 "关" = 0, 1090 "开" = 1
  int m_nAutoResistivity = -1;  // 1091 "关" = 0, 1092 "开" = 1
  int m_nDisplayMode = -1;      // 1109 "电压" = 0, 1110 "ADC值" = 1
  // The working-mode position the list returns to after a refused change;
  // the start-up confirms measurement mode, position 0.
  int m_nConfirmedMode = 0;
  QIcon m_hIcon;
  QRect m_rcFull;

 private:
  static const CommandEntry<CConsoleDlg> kMessageMap[];
  static const MessageEntry<CConsoleDlg> kWindowMessages[];

  void AddSystemMenu();
  void SetDefaultSelections();
  void ShowPortDevices();
  void SetUpAlarmList();
  void StartupExchange();
  QMargins FrameMargins() const;
  void SyncFrameMargins();
  void NoteShown();

  std::unique_ptr<Ui::ConsoleDlg> m_ui;
  std::thread m_searchWorker;  // the latest search's worker, joined at the end
  QMenu* m_pSysMenu = nullptr;
  bool m_bWide = true;
  QMargins m_rcFullMargins;  // the frame margins m_rcFull was taken with
  QElapsedTimer m_startupDone;
  qint64 m_nShownAfterStartupMs = -1;
};
