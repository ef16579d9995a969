// A dialog's message map: one table row per command control, bound to its
// handler by one routine, and one row per private window message. Only the
// user's actions reach a command handler: a click on a button (or radio, or
// check box), or a selection the user makes in a combo; selections set by
// the program are not commands.
#pragma once

#include <cstddef>

#include "dialog/WindowMessages.h"

enum class Notification {
  Clicked,    // QAbstractButton::clicked
  SelChange,  // QComboBox::activated
};

template <class Dlg>
struct CommandEntry {
  int id;
  Notification code;
  void (Dlg::*handler)();
};

template <class Dlg>
struct MessageEntry {
  unsigned message;
  LRESULT (Dlg::*handler)(WPARAM wParam, LPARAM lParam);
};

// Binds every row of `table` on `dlg` (a CDialog). Returns how many rows
// found a control of the right kind; BindCommand reports the others.
template <class Dlg, std::size_t N>
int BindCommands(Dlg* dlg, const CommandEntry<Dlg> (&table)[N]) {
  int bound = 0;
  for (const CommandEntry<Dlg>& entry : table) {
    const auto handler = entry.handler;
    if (dlg->BindCommand(entry.id, entry.code, [dlg, handler] { (dlg->*handler)(); }))
      ++bound;
  }
  return bound;
}

// Runs the row of `table` for `message`; false when the table has none.
template <class Dlg, std::size_t N>
bool DispatchMessage(Dlg* dlg, const MessageEntry<Dlg> (&table)[N], unsigned message,
                     WPARAM wParam, LPARAM lParam, LRESULT& result) {
  for (const MessageEntry<Dlg>& entry : table) {
    if (entry.message == message) {
      result = (dlg->*entry.handler)(wParam, lParam);
      return true;
    }
  }
  return false;
}
