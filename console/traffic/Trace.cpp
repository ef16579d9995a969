#include "traffic/Trace.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "traffic/TrafficLog.h"
#include "port_lock.h"

namespace {

std::mutex g_sinkMutex;
TraceSink g_sink;  // empty: tracing is off

void WriteLine(const std::string& line) {
  // Exchanges run on the window's thread and on the search worker.
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  if (g_sink) g_sink(line);
}

void WriteToStderr(const std::string& line) {
  std::fputs((line + '\n').c_str(), stderr);
  std::fflush(stderr);
}

// The one hook of the console: the traffic log, then the trace line.
void RecordExchange(const TraceRecord& record) {
  CTrafficLog::Process().Record(record);
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  if (g_sink) g_sink(FormatTraceRecord(record));
}

}  // namespace

void InstallTrafficRecord() { SetTraceHook(RecordExchange); }

void InstallTrace(TraceSink sink) {
  {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_sink = sink ? std::move(sink) : TraceSink(WriteToStderr);
  }
  InstallTrafficRecord();
  // "没有发现此串口或此串口被占用" covers several causes; the trace names the one.
  SetOpenFailureHook([](const std::string& device, const std::string& why) {
    TraceNote(device + " not opened: " + why);
  });
  SetPortNoteHook([](const std::string& text) { TraceNote(text); });
  SetLockNoteHook([](const std::string& device, const std::string& note) {
    TraceNote(device + ' ' + note);
  });
}

void RemoveTrace() {
  SetTraceHook({});
  SetOpenFailureHook({});
  SetPortNoteHook({});
  SetLockNoteHook({});
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  g_sink = {};
}

bool TraceEnabled() {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  return static_cast<bool>(g_sink);
}

void TraceNote(const std::string& text) {
  WriteLine(FormatTraceTime(std::chrono::system_clock::now()) + ' ' + text);
}

std::string FormatTraceTime(std::chrono::system_clock::time_point when) {
  namespace chrono = std::chrono;
  const auto whole = chrono::floor<chrono::seconds>(when);
  const time_t seconds = chrono::system_clock::to_time_t(whole);
  const auto millis = chrono::duration_cast<chrono::milliseconds>(when - whole).count();
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[48];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(millis));
  return text;
}

std::string FormatHex(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return "-";
  std::string out;
  char byte[4];
  for (uint8_t b : bytes) {
    std::snprintf(byte, sizeof byte, out.empty() ? "%02X" : " %02X", b);
    out += byte;
  }
  return out;
}

std::string FormatTraceRecord(const TraceRecord& record) {
  char counts[96];
  std::snprintf(counts, sizeof counts, " waited %u/%zu read %zu %s %.1f ms", record.waited,
                record.expected, record.reply.size(), record.accepted ? "accepted" : "rejected",
                record.roundTripMs);
  // The counts say why a reply of the wrong length was refused; for one of
  // the right length and check, the trace names what did not match.
  std::string why;
  if (record.cancelled)
    why = " (called off)";
  else if (!record.accepted && record.fault != ReplyFault::Length && record.fault != ReplyFault::Check)
    why = std::string(" (") + ReplyFaultName(record.fault) + ")";
  // The adapter's echo of the request came first and was dropped.
  const char* echo = record.echoed ? " echo dropped" : "";
  return FormatTraceTime(record.when) + ' ' + record.device + " tx " + FormatHex(record.request) +
         echo + " rx " + FormatHex(record.reply) + counts + why;
}
