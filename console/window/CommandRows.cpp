// The binding of a command row's control, shared by every table of rows.
#include "window/CommandRows.h"

#include <string>
#include <utility>

#include "dialog/Dialog.h"
#include "traffic/Trace.h"

bool BindCommandRow(CDialog& dlg, const CommandName& row, std::function<void()> run) {
  if (dlg.BindCommand(row.id, Notification::Clicked, std::move(run))) return true;
  TraceNote(std::string(row.handler) + ": control " + std::to_string(row.id) +
            " cannot carry the command");
  return false;
}
