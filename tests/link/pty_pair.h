// A pseudo-terminal for the link tests: the port under test opens the slave
// by its path, the test plays the controller on the master side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
 public:
  // Raw from the start: a canonical, echoing slave would hold bytes back
  // until a newline and send them back to the master.
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& Path() const { return path_; }
  int Master() const { return master_; }
  // The test's own slave descriptor: keeps the pair alive while no port is
  // open (without it the master sees hang-up/EIO).
  int Slave() const { return slave_; }

  // The controller's side of the line.
  void Send(const std::vector<uint8_t>& bytes) const;
  // Up to `count` bytes the port wrote, or fewer after `timeoutMs`.
  std::vector<uint8_t> Receive(size_t count, int timeoutMs) const;
  // Waits until the slave's input queue holds `count` bytes (they have
  // crossed the pty and are "in the driver").
  bool WaitQueued(size_t count, int timeoutMs) const;
  // The device vanishes: closes the master (and our slave descriptor).
  void Hangup();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};
