#include "request_framer.h"

#include <algorithm>

#include "frame_codec.h"

namespace sim {
namespace {

// 3.5 characters of 10 bits.
std::chrono::microseconds ThreeAndAHalfCharacters(int baud) {
  return std::chrono::microseconds(baud > 0 ? 35000000LL / baud : 0);
}

}  // namespace

std::chrono::microseconds RequestFramer::SilenceFor(int baud) {
  return std::max(ThreeAndAHalfCharacters(baud), kMinSilence);
}

std::chrono::microseconds RequestFramer::WireSilenceFor(int baud) {
  constexpr std::chrono::microseconds kFastLineSilence{1750};
  return baud > 19200 ? kFastLineSilence : ThreeAndAHalfCharacters(baud);
}

size_t RequestFramer::FrameLength() const {
  if (framing_ == Framing::BySilence) return kBySilence;
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

void RequestFramer::Overrun() {
  dropped_ += buffer_.size();
  buffer_.clear();
  overrun_ = true;
}

std::vector<RequestFramer::Bytes> RequestFramer::Feed(const uint8_t* data, size_t len,
                                                      Clock::time_point now) {
  std::vector<Bytes> frames = Expire(now);
  if (len > 0) last_ = now;
  for (size_t i = 0; i < len; ++i) {
    if (overrun_) {
      ++dropped_;
      continue;
    }
    buffer_.push_back(data[i]);
    const size_t n = FrameLength();
    // No frame is longer than kMaxFrameBytes; a byte count that claims more
    // is noise as well.
    if (buffer_.size() > kMaxFrameBytes || (n != kBySilence && n > kMaxFrameBytes)) {
      Overrun();
    } else if (n != 0 && n != kBySilence && buffer_.size() == n) {
      frames.push_back(std::move(buffer_));
      buffer_.clear();
    }
  }
  return frames;
}

std::vector<RequestFramer::Bytes> RequestFramer::Expire(Clock::time_point now) {
  std::vector<Bytes> frames;
  const auto deadline = Deadline();
  if (!deadline || now < *deadline) return frames;
  overrun_ = false;
  if (!buffer_.empty() && FrameLength() == kBySilence) {
    frames.push_back(std::move(buffer_));
  } else {
    dropped_ += buffer_.size();
  }
  buffer_.clear();
  return frames;
}

std::optional<RequestFramer::Clock::time_point> RequestFramer::Deadline() const {
  if (buffer_.empty() && !overrun_) return std::nullopt;
  return last_ + silence_;
}

}  // namespace sim
