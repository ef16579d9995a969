// The console's main window: every control of every command on one dialog,
// the commands as members bound through the message map, the start-up
// sequence with its exchange with the controller, and the two layouts
// (narrow for measurement mode, wide with the calibration panel).
//
// The command handlers are grouped by feature in ConsoleDlg_<Feature>.cpp;
// the parameter reads and sets and the radios that write their choice are
// rows of tables there, which bind their own controls.
// Every command runs synchronously on the window's thread; the parameter
// search (CParameterSearch) and the monitoring poll (CMonitor) keep their
// workers and state, and reach the window only through their signals on
// the window's thread.
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
#include <utility>
#include <vector>

#include "dialog/Dialog.h"
#include "serial_port.h"

class CAlarmIndicator;
class CAlarmState;
class CAnnunciator;
class CCommandPort;
class CConsoleSettings;
class CJournalDlg;
class CMonitoringJournal;
class CLogReader;
class CPortList;
class CMonitor;
class CParameterSearch;
class CSurveyDlg;
class QAction;
class QLabel;
class CTrafficDlg;
class QMenu;
class QTimer;
struct AlarmChange;
struct BcdClock;
struct FactoryStatus;
struct MeasurementStatus;
struct RadioWrite;
enum class RadioSet;
struct WorkerReply;
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
    int port;                        // list 1001: ComN is N (see CPortList)
    int baud;                        // list 1002: atoi of the selected entry's text
    bool unplugged = false;          // the chosen entry's device went away
  };
  Connection ReadConnection() const;

  // Narrow (measurement mode): the full width x 360 / 537; wide (factory
  // mode): the full width. Height from the full rectangle, position kept.
  void SetLayout(bool wide);
  bool IsWide() const { return m_bWide; }
  static int NarrowWidth(int fullWidth);
  // The top-left corner that keeps `frame` inside `available` (a screen's
  // available geometry), moving it as little as it can; the left and top
  // edges win when it is larger.
  static QPoint PlaceInside(const QRect& frame, const QRect& available);

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

  // The quick parameter search ("快速搜索" in the context menu of the search
  // group and of button 1009): off at start unless the command line says
  // otherwise; taken by the next search that starts.
  void SetQuickSearch(bool on);
  bool IsQuickSearch() const;
  void SetSearchTurnaround(uint32_t ms);
  QMenu* SearchMenu() const { return m_pSearchMenu; }
  // The survey ("搜索全部", beside "快速搜索"): the next search goes on over
  // every ticked rate and address and lists what it finds in the survey
  // window, null until the first survey.
  void SetSearchAll(bool on);
  bool IsSearchAll() const;
  CSurveyDlg* SurveyWindow() const { return m_pSurveyDlg; }
  // The search group's progress line ("第 97/1530 次，约剩 2 分 10 秒");
  // empty while no search runs.
  QString SearchProgressLine() const;

  // The ids of every control that starts a command: the message map's, then
  // the rows of the parameter and radio tables.
  static std::vector<int> CommandIds();
  // A paged log read is still under way (the window's commands are locked).
  bool IsReadingLog() const { return !m_pLogReader.isNull(); }
  // The alarm list's context menu: export, copy, stop.
  QMenu* AlarmListMenu() const { return m_pLogMenu; }
  // The traffic window, null until first opened ("通讯记录", Ctrl+T).
  CTrafficDlg* TrafficWindow() const;
  void OnShowTraffic();
  // Where (frame rectangle) the traffic window of frame `size` opens beside
  // the main window's frame `main` on the screen's `available` area.
  static QRect PlaceTraffic(const QRect& main, const QSize& size, const QRect& available);
  // Puts `window` (the traffic or the survey window) there, beside this one.
  void PlaceBeside(QWidget& window) const;

  // What monitoring has seen of the cable, and its acknowledgement.
  const CAlarmState& Alarm() const { return *m_pAlarm; }
  CMonitoringJournal& Journal() const { return *m_pJournal; }
  CAnnunciator& Annunciator() const { return *m_pAnnunciator; }
  CAlarmIndicator& AlarmIndicator() const { return *m_pAlarmIndicator; }
  // "监测记录" (the window's menu and Ctrl+E); null until first opened.
  CJournalDlg* JournalWindow() const;
  void OnShowJournal();
  void OnAcknowledgeAlarm();
  // "告警声音" in the window's menu.
  QAction* AlarmSoundAction() const { return m_pAlarmSoundAction; }

  // What the console remembers between runs (null: nothing, as in tests);
  // set before the window starts.
  void SetSettings(CConsoleSettings* settings) { m_pSettings = settings; }
  // Remembers `connection` as the line a controller answered on.
  void RememberLine(const Connection& connection);

 protected:
  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  void OnTimer(int nIDEvent) override;

  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  // --- Parameter search (ConsoleDlg_Search.cpp) ---
  void OnSearchParameters();
  void StartSearch();
  void StopSearch();
  void EndSearchIdle();
  // What the search hands back: a probe that got no answer, the find, a
  // scan without one.
  void OnSearchProgress(int baud, int address);
  void OnSearchFound(int baud, int address);
  void OnSearchNotFound();
  CParameterSearch* m_pSearch;  // its worker, plan and progress
  // Sets the top row to a controller found at `baud` and `address` and
  // remembers it: a find, or one the operator took from a survey.
  void TakeFoundLine(int baud, int address);
  // A controller taken from the survey's list ("使用", a double-click).
  void OnSurveyUse(int baud, int address);
  // --- The survey (ConsoleDlg_Survey.cpp) ---
  void BeginSurvey();
  void OnSurveyListed(int baud, int address, int value, int exception);
  void OnSurveyGarbled(int baud, int address);
  void OnSurveyEnded();
  void OnSurveyStopped();
  CSurveyDlg* m_pSurveyDlg = nullptr;
  QAction* m_pSearchAllAction = nullptr;
  // --- Quick search and progress (ConsoleDlg_QuickSearch.cpp) ---
  void SetUpSearchMenu();
  void ShowSearchProgress();
  QString SearchNotFoundText() const;
  int m_nShownProbe = 0;  // the number of the probe whose address 1055 shows
  QMenu* m_pSearchMenu = nullptr;
  QAction* m_pQuickSearchAction = nullptr;
  QLabel* m_pSearchProgress = nullptr;

  // --- Remembered settings (ConsoleDlg_Settings.cpp) ---
  // The remembered top row and search choices over the default selections.
  void ApplySettings();
  // The remembered place, inside the screen.
  void PlaceFromSettings();
  void PlaceTrafficWindow();
  void RememberTickedRates();
  // What the search probes before its sweep, as (baud, address): the
  // remembered line, then the controller's factory settings.
  std::vector<std::pair<int, int>> LikelyProbes() const;
  // Where `window` (this one or the traffic window) stands now.
  void RememberPlace(const QWidget& window);
  CConsoleSettings* m_pSettings = nullptr;

  // --- Parameter commands (ConsoleDlg_Parameters.cpp) ---
  // Binds the button of every row of the parameter table (the reads and
  // sets of one register each) to the family's read or set routine.
  void BindParameterRows();
  void OnReadA1Coefficients();
  void OnReadModeState();

  // --- Live monitoring (ConsoleDlg_Monitoring.cpp; OnTimer above) ---
  void OnStartDetection();
  // The caption of 1051 is the state: anything but "开始检测" is running.
  bool IsMonitoring() const;
  void StartDetection();
  void StopDetection();
  // Timer off, caption back, port closed: the part of a stop that also
  // holds when the window goes away while monitoring runs.
  void StopPolling();
  // One poll: its request goes to the monitor's worker; the outcome comes
  // back to OnPollDone on the window's thread.
  void StartPoll();
  void OnPollDone(bool factory, const WorkerReply& outcome);
  void CountPoll(bool accepted);
  void ShowPollFailed(bool factory);
  void ShowMeasurementPoll(const uint8_t* reply);
  void ShowFactoryPoll(const uint8_t* reply);
  void ShowMeasurementStatus(const MeasurementStatus& status, bool factory);
  CMonitor* m_pMonitor;  // the polls, their worker and their state

  // --- Alarm log (ConsoleDlg_Log.cpp) ---
  void OnReadLogCount();
  void OnReadEntryCount();
  void OnReadLog();
  void OnClearLog();
  void OnLogReadFinished();
  QPointer<CLogReader> m_pLogReader;  // the paged read under way, if any

  // --- Alarm state, annunciation and journal (ConsoleDlg_Alarms.cpp) ---
  void SetUpAlarms();
  void AddAlarmMenu();
  // Monitoring's inputs: a run starts or stops, a poll is accepted or fails.
  void AlarmRunStarted();
  void AlarmRunStopped();
  void AlarmPollAccepted(uint16_t status, uint16_t leakHundredths);
  void AlarmPollFailed();
  void ApplyAlarmChange(const AlarmChange& change);
  void AddJournalRow(const QString& event);
  QString AlarmBody() const;
  std::unique_ptr<CAlarmState> m_pAlarm;
  CMonitoringJournal* m_pJournal = nullptr;
  CAnnunciator* m_pAnnunciator = nullptr;
  CAlarmIndicator* m_pAlarmIndicator = nullptr;
  QPointer<CJournalDlg> m_pJournalDlg;
  QAction* m_pAlarmSoundAction = nullptr;
  QString m_strAlarmPort;  // the port of the run, as the list named it

  // --- The alarm list for reports (ConsoleDlg_LogList.cpp) ---
  void SetUpAlarmListTools();
  // Before the list goes: emptying it as it is destroyed is no new read.
  void DetachAlarmListTools();
  void OnExportLog();
  void OnCopyLogRows();
  void OnStopLogRead();
  void OnSortLog(int column);
  void ResetLogSort();
  // "正在读取 n/total" in static 1072 while a paged read runs; the count
  // again when it ends.
  void StartLogProgress(int total);
  void ShowLogProgress();
  // `stopped`: by the operator; a list that holds fewer rows than the
  // controller's count then says so, and so do its export and copy.
  void EndLogProgress(bool stopped);
  // "已导出 816 条，…" of a list holding part of the log; empty otherwise.
  QString PartialLogNote(const char* format, int rows) const;
  QMenu* m_pLogMenu = nullptr;
  QAction* m_pStopLogRead = nullptr;
  int m_nLogSortColumn = -1;  // none: the rows as read
  Qt::SortOrder m_logSortOrder = Qt::AscendingOrder;
  int m_nLogReadTotal = -1;   // the count of the paged read under way
  int m_nLogPartialOf = -1;   // the controller's count, while the list holds fewer rows
  bool m_bLogReadStopped = false;  // that part is what a stopped read left
  QMetaObject::Connection m_logProgress;

  // --- Device administration (ConsoleDlg_Admin.cpp) ---
  void OnWorkModeChange();
  void OnChangeAddressBaud();
  void OnSetSystemTime();
  void OnReadClock();
  void OnWriteClock();
  // A confirmed working mode: control states, layout, display mode.
  void ApplyWorkMode(bool factory);
  // A mode change that was not confirmed: the list back to the confirmed
  // mode, the radio members shown again.
  void ReturnToConfirmedMode();
  // The list and g_nWorkMode in the confirmed mode; true for factory mode.
  // What a monitoring stop and a search's end apply their column by.
  bool FollowConfirmedMode();
  // The working mode a factory poll read from the controller: confirmed.
  void FollowControllerMode(uint16_t mode);
  // The radios that write their choice to the controller (buzzer,
  // auto-resistivity, display mode): every row of the radio table binds its
  // radio to WriteRadio.
  void BindRadioRows();
  void WriteRadio(const RadioWrite& row);
  int& RadioMember(RadioSet group);
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
  // The auto-resistivity radios' rows: "开" starts the procedure, "关" ends it.
  void StartResistivityCalibration(const RadioWrite& row);
  void StopResistivityCalibration(const RadioWrite& row);

  // The hidden default button 1108: Enter lands here and does nothing.
  void OnDefaultButton();

  // Radio groups bound by data exchange: index of the checked radio, -1 none.
  int m_nBuzzer = -1;           // 1089 "关" = 0, 1090 "开" = 1
  int m_nAutoResistivity = -1;  // 1091 "关" = 0, 1092 "开" = 1
  int m_nDisplayMode = -1;      // 1109 "电压" = 0, 1110 "ADC值" = 1
  // The working-mode position the controller last confirmed (a write it
  // took, or the mode a factory poll read); the list returns to it after a
  // change that was not confirmed. The start-up confirms measurement mode.
  int m_nConfirmedMode = 0;
  QIcon m_hIcon;
  QRect m_rcFull;

 private:
  static const CommandEntry<CConsoleDlg> kMessageMap[];

  void AddSystemMenu();
  void SetDefaultSelections();
  void SetUpAlarmList();
  void StartupExchange();
  QMargins FrameMargins() const;
  void SyncFrameMargins();
  void NoteShown();

  std::unique_ptr<Ui::ConsoleDlg> m_ui;
  QMenu* m_pSysMenu = nullptr;
  CPortList* m_pPortList = nullptr;  // list 1001 and the machine's devices
  QPointer<CTrafficDlg> m_pTrafficDlg;
  bool m_bWide = true;
  // Where the narrow window stood before widening moved it on screen, and
  // where the move put it; it goes back on narrowing unless moved since.
  std::optional<QPoint> m_ptBeforeWiden;
  QPoint m_ptWidened;
  void KeepOnScreen(bool wide);
  void FitAlarmList();
  QMargins m_rcFullMargins;  // the frame margins m_rcFull was taken with
  QElapsedTimer m_startupDone;
  qint64 m_nShownAfterStartupMs = -1;
};
