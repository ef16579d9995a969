#include "request_framer.h"

#include <algorithm>

namespace sim {

std::chrono::microseconds RequestFramer::SilenceFor(int baud) {
  // 3.5 characters of 10 bits.
  const auto wire = std::chrono::microseconds(baud > 0 ? 35000000LL / baud : 0);
  return std::max(wire, kMinSilence);
}

size_t RequestFramer::FrameLength() const {
  if (buffer_.size() < 2) return 0;
  switch (buffer_[1]) {
    case 0x03:
    case 0x06:
      return 8;
    case 0x10:
      return buffer_.size() < 7 ? 0 : 9u + buffer_[6];
    case 0x14:
      return buffer_.size() < 3 ? 0 : 5u + buffer_[2];
    default:
      return kBySilence;
  }
}

std::vector<RequestFramer::Bytes> RequestFramer::Feed(const uint8_t* data, size_t len,
                                                      Clock::time_point now) {
  std::vector<Bytes> frames = Expire(now);
  buffer_.insert(buffer_.end(), data, data + len);
  last_ = now;
  for (size_t n = FrameLength(); n != 0 && n != kBySilence && buffer_.size() >= n;
       n = FrameLength()) {
    frames.emplace_back(buffer_.begin(), buffer_.begin() + static_cast<long>(n));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(n));
  }
  return frames;
}

std::vector<RequestFramer::Bytes> RequestFramer::Expire(Clock::time_point now) {
  std::vector<Bytes> frames;
  if (buffer_.empty() || now - last_ < silence_) return frames;
  if (FrameLength() == kBySilence) {
    frames.push_back(std::move(buffer_));
  } else {
    dropped_ += buffer_.size();
  }
  buffer_.clear();
  return frames;
}

std::optional<RequestFramer::Clock::time_point> RequestFramer::Deadline() const {
  if (buffer_.empty()) return std::nullopt;
  return last_ + silence_;
}

}  // namespace sim
