// Process-wide state of the console, shared by the window's features (and,
// for the parameter search, by its worker thread).
#pragma once

// Working mode the window and the monitoring poll follow: 0 measurement,
// above 0 factory. Set to 0 at start-up.
extern int g_nWorkMode;
