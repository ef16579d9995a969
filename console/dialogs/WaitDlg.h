// The countdown window of the resistivity auto-calibration: "请等待", the
// seconds left (static 1107) and "秒". Timer 1 counts g_nCountdown down from
// 30 once a second; on the tick that shows 0 the window hands over to its
// closing step (the closing writes, their message, the port closed), then
// ends: with OK when the step reports the calibration done (g_bCalibrationDone
// is set), otherwise closed as by its close box. Ticks that arrive while the
// closing step's message is up count on below 0 and do nothing else.
#pragma once

#include <functional>

#include "dialog/FormDialog.h"
#include "ui_wait_dlg.h"

class QLabel;
class QProgressBar;

class CWaitDlg : public CFormDialog<Ui::WaitDlg> {
  Q_OBJECT

 public:
  // Runs on the final tick, with this window as the owner of its message;
  // true when the calibration is done. Without one the window just closes.
  using ClosingStep = std::function<bool(CDialog& countdown)>;

  explicit CWaitDlg(ClosingStep closing = {}, QWidget* parent = nullptr);

  static constexpr int kTimerId = 1;
  static constexpr int kSeconds = 30;
  // Test seam: the tick period in ms (1000 unless a test shortens it).
  static void SetTickPeriodForTest(int ms);

 protected:
  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  void OnTimer(int nIDEvent) override;

 private:
  void ShowSeconds();

  ClosingStep m_closing;
  QLabel* m_staticSeconds = nullptr;  // 1107
  QProgressBar* m_progress = nullptr;  // 1105, hidden and never used
};
