// Process-wide state of the console, shared by the window's features and,
// for the parameter search, by its worker thread. Each variable says which
// threads touch it.
#pragma once

#include <atomic>

// Working mode the window and the monitoring poll follow: 0 measurement,
// above 0 factory. Set to 0 at start-up. Window thread only.
extern int g_nWorkMode;

// Accepted and refused monitoring polls since monitoring last started
// (statics 1068 and 1069). Touched on the window's thread only.
extern int g_nSuccessCount;
extern int g_nFailCount;

// --- Parameter search: the window and its worker -----------------------------
// Atomics, read and written without a lock by both threads; everything else
// the search and its worker share is the search's own (CParameterSearch).

// 1 while the search is wanted: set by the window's start, cleared by its
// stop and by a closing window; the worker looks before each probe.
extern std::atomic<int> g_bSearching;
// The last address that did not answer: written by the worker after each
// such probe, before its report goes to the window.
extern std::atomic<int> g_nSearchAddress;

// Resistivity auto-calibration, from its start in the main window to the
// end of its countdown window (window thread only):
// the cable length in hundredths of a metre and the station address taken
// when it started, the seconds left in the countdown, and whether a
// countdown has ever ended with the calibration done (never cleared).
extern int g_nCalibLineLength;
extern int g_nCalibAddress;
extern int g_nCountdown;
extern bool g_bCalibrationDone;
