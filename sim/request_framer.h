// Cuts the byte stream from the line into request frames, in one of two ways.
//
// By length (the default, for a pseudo-terminal that delivers a writer's
// bytes at once): a frame of a known function is complete the moment its
// length (fixed, or from its byte count) has arrived, so the reply need not
// wait for a silence; an unknown function is framed by the silence of 3.5
// characters that ends every RTU frame.
//
// By silence (with bytes fed at their wire times): every frame is what lies
// between two silences, as a real RTU receiver sees it, so a valid request
// followed at once by stray bytes is one bad frame.
//
// Either way the buffer holds at most one frame's worth (kMaxFrameBytes):
// bytes beyond it are dropped until the next silence, so a stream of noise
// without a pause cannot grow it. A partial frame is dropped after a silence.
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

  enum class Framing { ByLength, BySilence };

  // The inter-frame silence for a line speed (never under kMinSilence: a
  // pseudo-terminal delivers a writer's bytes in bursts).
  static std::chrono::microseconds SilenceFor(int baud);
  static constexpr std::chrono::microseconds kMinSilence{5000};
  // The silence of a line whose bytes carry their wire times: 3.5
  // characters, and 1.75 ms above 19200 baud, as RTU fixes it there.
  static std::chrono::microseconds WireSilenceFor(int baud);

  void SetSilence(std::chrono::microseconds silence) { silence_ = silence; }
  void SetFraming(Framing framing) { framing_ = framing; }

  // Bytes received at `now`; returns the frames they complete, in order,
  // after any frame the silence before them has ended.
  std::vector<Bytes> Feed(const uint8_t* data, size_t len, Clock::time_point now);
  // Ends what the silence since the last byte has ended: a frame framed by
  // silence comes out, a partial frame is dropped, an overrun ends.
  std::vector<Bytes> Expire(Clock::time_point now);
  // When Expire will next have something to do, if ever.
  std::optional<Clock::time_point> Deadline() const;

  size_t Pending() const { return buffer_.size(); }
  size_t DroppedBytes() const { return dropped_; }

 private:
  // The length of the frame at the start of the buffer: 0 while not yet
  // known, kBySilence for a frame that only a silence ends.
  size_t FrameLength() const;
  static constexpr size_t kBySilence = SIZE_MAX;
  void Overrun();

  Framing framing_ = Framing::ByLength;
  Bytes buffer_;
  bool overrun_ = false;  // dropping every byte until the next silence
  Clock::time_point last_{};
  std::chrono::microseconds silence_ = kMinSilence;
  size_t dropped_ = 0;
};

}  // namespace sim
