// Process-wide state of the console, shared by the window's features and,
// for the parameter search, by its worker thread.
#pragma once

#include <array>
#include <atomic>
#include <mutex>

// Working mode the window and the monitoring poll follow: 0 measurement,
// above 0 factory. Set to 0 at start-up. Window thread only.
extern int g_nWorkMode;

// Accepted and refused monitoring polls since monitoring last started
// (statics 1068 and 1069). Touched on the window's thread only.
extern int g_nSuccessCount;
extern int g_nFailCount;

// --- Parameter search: the window and its worker -----------------------------
// Atomics, so that neither thread ever reads a half-written value; what each
// side writes and when is as the search has always done it.

// 1 while the search is wanted; the worker looks before each probe.
extern std::atomic<int> g_bSearching;
// The port number and the ticked rates (1200 ... 38400; 1 = ticked), taken
// by the window when the search starts.
extern std::atomic<int> g_nSearchPort;
extern std::array<std::atomic<int>, 6> g_nSearchRates;
// The probe under way or last made, the last address that did not answer,
// and the address that did.
extern std::atomic<int> g_nSearchBaud;
extern std::atomic<int> g_nSearchAddress;
extern std::atomic<int> g_nFoundAddress;
// "参数正在查找中......" once a probe has failed (never cleared), and
// "未搜索到参数,请检查接线!!!" at the end of a scan without result; each
// is either that text or "".
extern std::atomic<const char*> g_strSearchProgress;
extern std::atomic<const char*> g_strSearchResult;
// Which search is the current one: each start takes the next number, so a
// stopped worker can never be revived by a later start, and its messages
// are known as stale. The window's start and a worker's end-of-scan result
// change the result text under g_searchMutex, together with this check.
extern std::atomic<unsigned> g_nSearchGeneration;
extern std::mutex g_searchMutex;

// Resistivity auto-calibration, from its start in the main window to the
// end of its countdown window (window thread only):
// the cable length in hundredths of a metre and the station address taken
// when it started, the seconds left in the countdown, and whether a
// countdown has ever ended with the calibration done (never cleared).
extern int g_nCalibLineLength;
extern int g_nCalibAddress;
extern int g_nCountdown;
extern bool g_bCalibrationDone;
