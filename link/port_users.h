// Who else has a serial device open. Programs that neither flock() the line
// nor set TIOCEXCL on it (a terminal program, socat, a script) leave no other
// trace; the kernel shows every process's descriptors under /proc/<pid>/fd.
#pragma once

#include <sys/types.h>

// The PID of a process other than this one that has the character device of
// `fd` open, or 0 when there is none (or `fd` is no character device).
// Processes whose descriptors we may not see (another user's, unless we are
// root) are passed over: the locks still cover those that take them.
//
// The process holding the master side of a pseudo-terminal is the far end of
// that line (a simulated controller, which also keeps a slave descriptor of
// its own so as not to see a hang-up), not a rival for it.
pid_t OtherProcessUsing(int fd);
