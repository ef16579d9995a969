// The state static's look by severity (white on red and bold for an alarm,
// black on amber for a warning, the palette's own for no alarm), its flash
// while an alarm awaits acknowledgement, the "确认告警" button beside it and
// the grey "已恢复，未确认" mark of an alarm that cleared unacknowledged.
//
// The colours are fixed pairs, readable whatever the palette; the text says
// the state either way. A flash changes the palette alone, which repaints
// the static and lays nothing out.
#pragma once

#include <QObject>
#include <QPalette>
#include <QTimer>

class CAlarmState;
class QLabel;
class QPushButton;

class CAlarmIndicator : public QObject {
  Q_OBJECT

 public:
  // `state` is the window's state static; the button and the mark are made
  // on its parent, for the window to place.
  explicit CAlarmIndicator(QLabel* state);

  void Apply(const CAlarmState& alarm);

  QPushButton* Button() const { return m_pButton; }
  QLabel* Mark() const { return m_pMark; }
  bool IsFlashing() const { return m_flash.isActive(); }
  // The flash is in its coloured half (always so without a flash).
  bool IsLit() const { return m_bLit; }
  // Flash phases shown so far.
  int Flashes() const { return m_nFlashes; }

  static constexpr int kFlashHalfMs = 500;  // about 1 Hz

 signals:
  // The button, or Space on the focused state.
  void AcknowledgeWanted();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Flash();
  void Paint();

  QLabel* m_pState;
  QPushButton* m_pButton;
  QLabel* m_pMark;
  QPalette m_severe;
  bool m_bSevere = false;
  bool m_bLit = true;
  int m_nFlashes = 0;
  QTimer m_flash;
};
