// The simulator's typed commands as they come off its standard input: bytes
// in pieces of any size, a command complete at its newline. A line longer
// than kMaxCommandLine bytes is no command anyone typed: it is dropped whole,
// up to its newline, with one complaint, and never kept, so the memory held
// stays bounded and every byte is looked at once.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

namespace sim {

inline constexpr size_t kMaxCommandLine = 4096;  // bytes, without the newline

class CommandInput {
 public:
  using LineHandler = std::function<void(const std::string& line)>;
  using DropHandler = std::function<void()>;

  CommandInput(LineHandler onLine, DropHandler onDrop)
      : onLine_(std::move(onLine)), onDrop_(std::move(onDrop)) {}

  // Hands each line `data` completes to the line handler (without its
  // newline), and says once per line that is too long that it was dropped.
  void Feed(const char* data, size_t len);

  // Bytes of an unfinished line held (never more than kMaxCommandLine).
  size_t Pending() const { return pending_.size(); }

 private:
  void Drop();

  LineHandler onLine_;
  DropHandler onDrop_;
  std::string pending_;    // the start of the current line
  bool dropping_ = false;  // the current line is too long: skip to its end
};

}  // namespace sim
