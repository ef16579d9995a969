// Window messages a worker thread sends to a dialog (CDialog::SendMessage).
// The values keep the numbering the controller console has always used, so a
// trace or a note about "0x405" still means the same message.
#pragma once

#include <cstdint>

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr unsigned WM_USER = 0x0400;
// The parameter search's worker reports a failed probe or the end of a scan...
constexpr unsigned WM_SEARCH_PROGRESS = WM_USER + 5;
// ...and the station that answered.
constexpr unsigned WM_SEARCH_FOUND = WM_USER + 6;
