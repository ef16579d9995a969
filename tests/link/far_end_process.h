// A process that owns a pseudo-terminal the way the simulated controller
// does: the master side and a slave descriptor of its own, so that its
// master never sees a hang-up. The port opens the slave by its path.
#pragma once

#include <sys/types.h>

#include <string>

class FarEndProcess {
 public:
  FarEndProcess();
  ~FarEndProcess();  // ends the process and waits for it
  FarEndProcess(const FarEndProcess&) = delete;
  FarEndProcess& operator=(const FarEndProcess&) = delete;

  bool Ok() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

 private:
  pid_t pid_ = -1;
  int control_ = -1;  // closing it ends the process
  std::string path_;
};
