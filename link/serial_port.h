// The serial line to the controller: a local device over POSIX termios, or
// a serial device server over the network (remote_line.h), behind one set
// of calls (line.h holds the kinds).
//
// A port is opened per command (OpenPort ... ClosePort) with 8N1, raw mode,
// exclusive access (no other program may have the line), and both queues
// emptied. Live monitoring keeps it open
// between polls. The wait for reply bytes blocks in poll(2); it never spins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// One open serial line. Its layout is private to serial_port.cpp.
struct SerialPort;
using HPORT = SerialPort*;

// The process-wide slot of the port the window's commands use. It is touched
// from the window's thread only; other threads (the parameter search) open
// handles of their own with OpenDevice/CloseDevice.
extern HPORT PortHandle;

// --- Port map: "ComN" names a device path ---------------------------------
// By default ComN is /dev/ttyS<N-1>; the command line may point any N at any
// path (a USB adapter, a /dev/serial/by-id name, the simulator's pty), or to
// a remote line, tcp://HOST:PORT or rfc2217://HOST:PORT (remote_line.h).
void SetPortPath(int portNumber, const std::string& path);
std::string PortPath(int portNumber);
void ResetPortMap();
// The number a device beyond Com1..Com9 is known by (the port list offers
// it after them): the same path always gets the same number, from 10 on.
int PortNumberOf(const std::string& path);
constexpr int kNamedPorts = 9;  // Com1 to Com9

// The line speeds the port accepts; any other rate (0 included) is refused.
bool IsSupportedBaud(int baud);

// --- Opening and closing ----------------------------------------------------
// Opens `path` for this process alone, sets baud/8N1/raw/CLOCAL|CREAD without
// raising DTR, and empties both queues. Null on any failure, and then nothing
// has been sent or changed on the line. Refused when another program has the
// line: a live LCK.. lock file (port_lock.h), a flock, TIOCEXCL, or simply an
// open descriptor on the device in another process (port_users.h). While the
// handle is open our own lock file says so to other programs. Where the
// driver has it (USB adapters, UARTs), the line is switched to low latency
// while the handle is open, and back on close.
HPORT OpenDevice(const std::string& path, int baud);
// Closes a handle from OpenDevice and removes its lock file. Null does nothing.
void CloseDevice(HPORT port);

// Told why an open failed (device path, a few words: "open in process 1234
// (socat)", "No such file or directory"...), for the trace. Called on the
// opening thread; an empty function removes it. The same refusal, as a record
// the console words for the operator, is LastOpenFailure() (open_failure.h).
using OpenFailureHook = std::function<void(const std::string& device, const std::string& why)>;
void SetOpenFailureHook(OpenFailureHook hook);

// Told, once per device after it is installed, what the open could not set
// but went on without (a pty has no low-latency mode). Any thread.
using PortNoteHook = std::function<void(const std::string& text)>;
void SetPortNoteHook(PortNoteHook hook);

// OpenDevice(PortPath(portNumber), baud), stored into PortHandle (a handle the
// slot still held is closed first). Returns the new value of the slot.
HPORT OpenPort(int portNumber, int baud);
// Closes PortHandle and sets it to null; does nothing when it is null.
void ClosePort();

// --- Transfers ---------------------------------------------------------------
// Waits until at least `expected` bytes are queued or `timeoutMs` has passed,
// and returns the count queued at the last look. Removes nothing: a following
// ReadPort gets the same bytes. Returns at once what it has when the device
// has gone away (hang-up, EIO). A null port returns 0 after the time-out.
uint32_t WaitForBytes(HPORT port, uint16_t expected, uint32_t timeoutMs);
// The same wait, which also ends at once when the descriptor `wakeFd`
// becomes readable (another thread calling the exchange off); -1: none.
uint32_t WaitForBytes(HPORT port, uint16_t expected, uint32_t timeoutMs, int wakeFd);

// Writes the whole frame in one go; gives up after 50 ms per byte + 100 ms.
// Returns the count written.
size_t WritePort(HPORT port, const uint8_t* data, size_t len);

// Reads exactly `len` bytes unless 5 ms per byte + 5 ms pass in all, or
// 100 ms pass with no new byte after the first. Returns the count read.
size_t ReadPort(HPORT port, uint8_t* data, size_t len);

// Discards everything in both queues (ours and the driver's, or the
// server's). A remote line that is down tries to come back here; `wakeFd`
// (not -1) ends that attempt at once when it becomes readable.
void PurgePort(HPORT port);
void PurgePort(HPORT port, int wakeFd);

// Sets the open line to `baud`, 8N1 still, without closing it (a remote
// line keeps its connection). False when the rate is not supported or did
// not take.
bool SetPortBaud(HPORT port, int baud);

// The device has gone away under the handle (hang-up, EIO: an unplugged
// adapter) as a wait, read or write found. Only closing helps then: the
// node comes back, under the same name, once nobody holds it open.
bool PortGone(HPORT port);

// Whether the last request's echo came back whole ahead of its reply and was
// dropped (echo.h): the line's adapter echoes.
bool PortEchoed(HPORT port);

// What a handle was opened with (for the trace and the reply-time bound).
int PortBaud(HPORT port);
std::string PortDevice(HPORT port);
