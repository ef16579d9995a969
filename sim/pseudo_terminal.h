// The pseudo-terminal the simulated controller sits on. The master side is
// ours; the slave path is what the console opens. A slave descriptor is kept
// open for the pty's whole life so the master never sees a hang-up (and a
// poll on it never spins) while the console has the port closed. No lock is
// taken on the slave: the console locks it itself.
#pragma once

#include <string>

namespace sim {

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal() { Close(); }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Creates the pair, raw (no echo), 8N1 at `baud`. False with errno set.
  bool Open(int baud);
  void Close();
  bool IsOpen() const { return master_ >= 0; }

  int Master() const { return master_; }  // non-blocking
  const std::string& SlavePath() const { return path_; }
  // The speed the line is set to now: the console's setting once it has
  // opened the port (master and slave share one termios). 0 if unknown.
  int LineBaud() const;

  static bool IsSupportedSpeed(int baud);

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace sim
