// --trace: one line per exchange on standard error (or on a sink the caller
// gives), why a port could not be opened, and a few notes of the console's
// own, each stamped with the time.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "exchange.h"

using TraceSink = std::function<void(const std::string& line)>;

// Records every exchange in the run's traffic log (CTrafficLog::Process()).
// The trace, when on, prints from the same record.
void InstallTrafficRecord();
// Starts tracing every exchange into `sink` (standard error when empty);
// the traffic log records them as well.
void InstallTrace(TraceSink sink = {});
// Ends the trace and the traffic record.
void RemoveTrace();
bool TraceEnabled();

// Writes "HH:MM:SS.mmm <text>" when tracing is on.
void TraceNote(const std::string& text);

// "HH:MM:SS.mmm" in local time.
std::string FormatTraceTime(std::chrono::system_clock::time_point when);
// "01 03 20 0A", "-" for no bytes.
std::string FormatHex(const std::vector<uint8_t>& bytes);
// "<time> <device> tx <hex> rx <hex> waited W/E read R accepted|rejected T ms"
std::string FormatTraceRecord(const TraceRecord& record);
