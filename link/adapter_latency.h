// How late a USB serial adapter may hand received bytes over: FTDI chips
// collect them for their latency timer (16 ms unless lowered) before they
// send a packet to the host. A short reply wait has to allow for it.
#pragma once

#include <cstdint>
#include <string>

// The adapter's latency timer in milliseconds, read from sysfs for the tty
// behind `path` (symbolic links such as /dev/serial/by-id followed); 0 when
// the device has none (a built-in UART, a pty) or it cannot be read.
uint32_t AdapterLatencyMs(const std::string& path);
