// Cuts the byte stream from the line into request frames. A frame of a known
// function is complete the moment its length (fixed, or from its byte count)
// has arrived, so the reply need not wait for a silence. An unknown function
// is framed by the silence of 3.5 characters that ends every RTU frame; a
// partial frame is dropped after that silence so garbage cannot wedge it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

class RequestFramer {
 public:
  using Clock = std::chrono::steady_clock;
  using Bytes = std::vector<uint8_t>;

  // The inter-frame silence for a line speed (never under kMinSilence: a
  // pseudo-terminal delivers a writer's bytes in bursts).
  static std::chrono::microseconds SilenceFor(int baud);
  static constexpr std::chrono::microseconds kMinSilence{5000};

  void SetSilence(std::chrono::microseconds silence) { silence_ = silence; }

  // Bytes received at `now`; returns the frames they complete, in order,
  // after any frame the silence before them has ended.
  std::vector<Bytes> Feed(const uint8_t* data, size_t len, Clock::time_point now);
  // Ends what the silence since the last byte has ended: an unknown
  // function's frame comes out, a partial frame is dropped.
  std::vector<Bytes> Expire(Clock::time_point now);
  // When Expire will next have something to do, if ever.
  std::optional<Clock::time_point> Deadline() const;

  size_t Pending() const { return buffer_.size(); }
  size_t DroppedBytes() const { return dropped_; }

 private:
  // The length of the frame at the start of the buffer: 0 while not yet
  // known, kBySilence for a function framed by silence.
  size_t FrameLength() const;
  static constexpr size_t kBySilence = SIZE_MAX;

  Bytes buffer_;
  Clock::time_point last_{};
  std::chrono::microseconds silence_ = kMinSilence;
  size_t dropped_ = 0;
};

}  // namespace sim
