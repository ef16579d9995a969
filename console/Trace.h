// --trace: one line per exchange on standard error (or on a sink the caller
// gives), why a port could not be opened, and a few notes of the console's
// own, each stamped with the time.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "exchange.h"

using TraceSink = std::function<void(const std::string& line)>;

// Starts tracing every exchange into `sink` (standard error when empty).
void InstallTrace(TraceSink sink = {});
void RemoveTrace();
bool TraceEnabled();

// Writes "HH:MM:SS.mmm <text>" when tracing is on.
void TraceNote(const std::string& text);

// "HH:MM:SS.mmm" in local time.
std::string FormatTraceTime(std::chrono::system_clock::time_point when);
// "<time> <device> tx <hex> rx <hex> waited W/E read R accepted|rejected T ms"
std::string FormatTraceRecord(const TraceRecord& record);
