#include "command_input.h"

#include <cstring>

namespace sim {

void CommandInput::Feed(const char* data, size_t len) {
  const char* p = data;
  const char* const end = data + len;
  while (p < end) {
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* const stop = eol ? eol : end;
    if (!dropping_) {
      if (pending_.size() + static_cast<size_t>(stop - p) > kMaxCommandLine)
        Drop();
      else
        pending_.append(p, stop);
    }
    if (!eol) return;
    if (!dropping_) onLine_(pending_);
    pending_.clear();
    dropping_ = false;
    p = eol + 1;
  }
}

void CommandInput::Drop() {
  pending_.clear();
  dropping_ = true;
  onDrop_();
}

}  // namespace sim
