// RS-485 direction control by the kernel. On a UART wired to an RS-485
// transceiver (embedded boards, panel PCs) the driver must switch the
// transmitter on to send and off to listen, or no reply is ever heard. The
// kernel does it when the line is put in RS-485 mode (TIOCSRS485), with RTS
// raised while sending. USB adapters that switch direction by themselves
// need nothing of this.
//
// Asked for per device; the local line switches it on at each open and puts
// back what the driver had at the close. A driver that refuses it still
// opens: the trace says so once, and Rs485Refusal() tells the console why.
#pragma once

#include <linux/serial.h>

#include <cstdint>
#include <string>

// Whether the local line at `device` opens in RS-485 mode. Any thread.
void SetRs485(const std::string& device, bool on);
bool Rs485Wanted(const std::string& device);
// RTS raised this long before the first bit and held after the last (0, 0).
void SetRs485Delays(uint32_t beforeMs, uint32_t afterMs);
// Why the last open of `device` could not set RS-485 mode; "" when it did,
// or was not asked to.
std::string Rs485Refusal(const std::string& device);

// --- Inside the link ----------------------------------------------------------
// The ioctl the local line reads and sets the mode with (TIOCGRS485,
// TIOCSRS485); a test puts its own in to see what is set. Null: ::ioctl.
using Rs485Ioctl = int (*)(int fd, unsigned long request, serial_rs485* conf);
void SetRs485Ioctl(Rs485Ioctl io);

// Switches `fd` (the line at `device`) to RS-485 mode with RTS on send.
// True when it took; `previous` then holds what to put back on close.
bool EnableRs485(int fd, const std::string& device, serial_rs485& previous);
void RestoreRs485(int fd, const serial_rs485& previous);
