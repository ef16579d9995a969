// "RS-485 收发控制" in the window's system menu: the kernel's direction
// control for the port chosen in the top row, on or off. Ticking it tries
// the port at once, so a driver that refuses the mode says so now, in a box,
// rather than as replies that never come.
#pragma once

class CConsoleDlg;
class QMenu;

void AddRs485Item(CConsoleDlg& dlg, QMenu& menu);
