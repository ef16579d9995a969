// Another program that merely has a device open, with no lock of any kind
// (as socat, a terminal program or a script would): a shell that opens it
// read-write and waits for its standard input to end.
#pragma once

#include <sys/types.h>

#include <string>

class DeviceHolder {
 public:
  explicit DeviceHolder(const std::string& path);
  ~DeviceHolder();  // ends the shell and waits for it
  DeviceHolder(const DeviceHolder&) = delete;
  DeviceHolder& operator=(const DeviceHolder&) = delete;

  // The shell runs and has the device open.
  bool Ok() const { return ready_; }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int input_ = -1;  // the shell's standard input, our end
  bool ready_ = false;
};
