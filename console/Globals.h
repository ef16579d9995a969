// Process-wide state of the console, shared by the window's features (and,
// for the parameter search, by its worker thread).
#pragma once

// Working mode the window and the monitoring poll follow: 0 measurement,
// above 0 factory. Set to 0 at start-up.
extern int g_nWorkMode;

// Accepted and refused monitoring polls since monitoring last started
// (statics 1068 and 1069). Touched on the window's thread only.
extern int g_nSuccessCount;
extern int g_nFailCount;
