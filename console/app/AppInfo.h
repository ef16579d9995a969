// The application's name (message-box captions, the About box), version and
// exit codes.
#pragma once

inline constexpr char kApplicationName[] = "QD7420";
inline constexpr char kApplicationVersion[] = "1.1";

// How qd7420 ends (also in --help and the README).
inline constexpr int kExitOk = 0;
inline constexpr int kExitSimulatorFailed = 1;  // --simulate: the simulated controller did not start
inline constexpr int kExitUsage = 2;            // a wrong command line
inline constexpr int kExitNoDisplay = 3;        // no display to open the window on
