// What the operator does to the main window, for the command tests: clicks,
// list choices, the password dialog, and waiting for the poll timer.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <vector>

#include "exchange.h"

class CConsoleDlg;

// The window's own menu (right click, Shift+F10), entry by entry.
inline QStringList WindowMenuEntries() {
  return {QStringLiteral("关于 QD7420(&A)..."), QStringLiteral("通讯记录"),
          QStringLiteral("RS-485 收发控制")};
}

// Clicks a button or radio; like a mouse click, nothing happens when it is
// disabled. Hidden controls take the click (their commands are wired).
void Click(CConsoleDlg& dlg, int id);

// Chooses entry `index` of a drop-down list, which then reports the choice
// to the window; nothing happens when the list is disabled.
void Choose(CConsoleDlg& dlg, int id, int index);

// How the next password dialog is left.
enum class PasswordAnswer { Ok, Escape, CloseBox };

// Answers the next password dialog: types `text` and leaves it as `how`
// says. `seen` (optional) is set when the dialog came up masked.
void AnswerNextPassword(const QString& text, PasswordAnswer how, bool* seen = nullptr);

// "工厂模式" with the right access code, confirmed by the controller.
void EnterFactoryMode(CConsoleDlg& dlg);

// Runs the window's events until `done` holds; false after `limitMs`, by
// default a generous limit (the poll timer ticks once a second).
bool WaitUntil(const std::function<bool()>& done, int limitMs = 30000);

// Waits until the monitoring counters together reach `polls`.
bool WaitForPolls(int polls);

// Every exchange's trace record while it lives, from whichever thread ran
// the exchange (the search's worker, the poll's).
class TraceLog {
 public:
  TraceLog() {
    SetTraceHook([this](const TraceRecord& r) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_records.push_back(r);
    });
  }
  ~TraceLog() { SetTraceHook({}); }
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;
  std::vector<TraceRecord> Records() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
  }
  std::vector<TraceRecord> Refused() const {
    std::vector<TraceRecord> refused;
    for (const TraceRecord& r : Records())
      if (!r.accepted) refused.push_back(r);
    return refused;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<TraceRecord> m_records;
};
