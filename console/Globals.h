// Process-wide state of the console, shared by the window's features (and,
// for the parameter search, by its worker thread).
#pragma once

// Working mode the window and the monitoring poll follow: 0 measurement,
// above 0 factory. Set to 0 at start-up.
extern int g_nWorkMode;

// Resistivity auto-calibration, from its start in the main window to the
// end of its countdown window (window thread only):
// the cable length in hundredths of a metre and the station address taken
// when it started, the seconds left in the countdown, and whether a
// countdown has ever ended with the calibration done (never cleared).
extern int g_nCalibLineLength;
extern int g_nCalibAddress;
extern int g_nCountdown;
extern bool g_bCalibrationDone;
