// Why a port could not be opened, as one small record: what kind of refusal,
// the device (or remote address) it concerns, and the particulars the
// operator's sentence needs. The console words it for the port box, the
// trace in its own words; a new kind of line adds a kind here and a sentence
// there.
#pragma once

#include <sys/types.h>

#include <string>

enum class OpenCause {
  None,          // nothing refused (yet)
  NoBaudRate,    // no line speed chosen (or one the port cannot set)
  NoDevice,      // the device node is not there (unplugged, mistyped)
  NoPermission,  // the node is there but not ours to open; `detail`: its group
  InUse,         // another program has it; `pid` and `detail` (its name) when known
  BadLockFile,   // a lock file that names no process; `detail`: the file
  Other,         // anything else; `detail`: the system's message
  Unreachable,   // a remote line's server not reached; `detail`: the whole sentence
};

struct OpenFailure {
  OpenCause cause = OpenCause::None;
  std::string device;  // the path as it was given
  std::string detail;
  pid_t pid = 0;
  std::string why;  // the trace's few words ("open in process 4242 (socat)")
};

// The failure of the last OpenDevice on the calling thread (cause None after
// a successful one). Each thread has its own: the parameter search opens
// ports on its worker.
const OpenFailure& LastOpenFailure();
void SetLastOpenFailure(OpenFailure failure);

// The name a process runs under (/proc/<pid>/comm), "" when it is not to
// be seen.
std::string ProgramName(pid_t pid);
// The name of the group that owns `path`, "" when it has none we can name.
std::string GroupOf(const std::string& path);
