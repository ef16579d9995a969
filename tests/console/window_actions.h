// What the operator does to the main window, for the command tests: clicks,
// list choices, the password dialog, and waiting for the poll timer.
#pragma once

#include <QString>

#include <functional>

class CConsoleDlg;

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
