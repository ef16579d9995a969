// Simple commands typed at the simulator's standard input during a demo:
// change the cable's state, fill the log, inject faults, show the status.
#pragma once

#include <string>
#include <vector>

#include "pty_server.h"

namespace sim {

class CommandInterpreter {
 public:
  explicit CommandInterpreter(PtyServer& server) : server_(server) {}

  // Carries out one line; returns the one-line answer (never empty).
  std::string Execute(const std::string& line);

 private:
  using Args = std::vector<std::string>;
  std::string Leak(const Args& args);
  std::string Break(const Args& args);
  std::string Clear(const Args& args);
  std::string Log(const Args& args);
  std::string InjectFault(const Args& args);
  std::string Paced(const Args& args);
  std::string Echo(const Args& args);
  std::string Status(const Args& args);
  std::string Help(const Args& args);

  PtyServer& server_;
};

}  // namespace sim
