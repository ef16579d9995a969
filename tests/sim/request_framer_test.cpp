// Framing the byte stream: by length for the known functions, by silence
// for the rest, and garbage dropped once the line falls silent.
#include <gtest/gtest.h>

#include <algorithm>

#include "registers.h"
#include "request_framer.h"
#include "sim_test_support.h"

using namespace simtest;
using sim::RequestFramer;
using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

const RequestFramer::Clock::time_point t0{};

TEST(RequestFramer, KnownFunctionsCompleteOnTheirLastByte) {
  const uint8_t data[4] = {0x41, 0x20, 0, 0};
  const Bytes requests[] = {
      ToBytes(BuildReadRequest(1, REG_LINE_LENGTH, 1)),
      ToBytes(BuildWriteRequest(1, REG_BUZZER, 1)),
      ToBytes(BuildWriteMultipleRequest(1, REG_RESISTIVITY, 2, data)),
      ToBytes(BuildReadFileRecordRequest(1, kLogFileNumber, 0, 120)),
  };
  for (const Bytes& request : requests) {
    SCOPED_TRACE(int{request[1]});
    RequestFramer framer;
    for (size_t i = 0; i + 1 < request.size(); ++i) {
      EXPECT_TRUE(framer.Feed(&request[i], 1, t0 + microseconds(100 * i)).empty());
    }
    const auto frames = framer.Feed(&request.back(), 1, t0 + milliseconds(2));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], request);
    EXPECT_FALSE(framer.Deadline().has_value());
  }
}

TEST(RequestFramer, BackToBackFramesInOneChunk) {
  Bytes stream = ToBytes(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  const Bytes second = ToBytes(BuildWriteRequest(1, REG_BUZZER, 0));
  stream.insert(stream.end(), second.begin(), second.end());
  stream.push_back(0x01);  // the start of a third
  RequestFramer framer;
  const auto frames = framer.Feed(stream.data(), stream.size(), t0);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1], second);
  EXPECT_EQ(framer.Pending(), 1u);
}

TEST(RequestFramer, PartialFrameIsDroppedAfterTheSilence) {
  RequestFramer framer;
  const Bytes partial{0x01, 0x10, 0x20, 0x0B, 0x00, 0x02, 0x04};
  framer.Feed(partial.data(), partial.size(), t0);
  ASSERT_TRUE(framer.Deadline().has_value());
  EXPECT_EQ(*framer.Deadline(), t0 + RequestFramer::kMinSilence);
  EXPECT_TRUE(framer.Expire(t0 + milliseconds(4)).empty());
  EXPECT_EQ(framer.Pending(), partial.size());
  EXPECT_TRUE(framer.Expire(t0 + milliseconds(5)).empty());
  EXPECT_EQ(framer.Pending(), 0u);
  EXPECT_EQ(framer.DroppedBytes(), partial.size());
  // A request after the gap is framed on its own.
  const Bytes request = ToBytes(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  EXPECT_EQ(framer.Feed(request.data(), request.size(), t0 + milliseconds(20)).size(), 1u);
}

TEST(RequestFramer, StaleBytesDoNotJoinTheNextRequest) {
  // The gap is noticed on the next byte even when no timer fired.
  RequestFramer framer;
  const Bytes stale{0x01, 0x03};
  framer.Feed(stale.data(), stale.size(), t0);
  const Bytes request = ToBytes(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  const auto frames = framer.Feed(request.data(), request.size(), t0 + milliseconds(50));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], request);
}

TEST(RequestFramer, UnknownFunctionComesOutAfterTheSilence) {
  RequestFramer framer;
  const Bytes request = WithCrc({0x01, 0x2B, 0x0E, 0x01, 0x00});
  EXPECT_TRUE(framer.Feed(request.data(), request.size(), t0).empty());
  const auto frames = framer.Expire(t0 + milliseconds(5));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], request);
  EXPECT_EQ(framer.DroppedBytes(), 0u);
}

TEST(RequestFramer, SilenceIsThreeAndAHalfCharactersButSomeMilliseconds) {
  EXPECT_EQ(RequestFramer::SilenceFor(1200), microseconds(29166));
  EXPECT_EQ(RequestFramer::SilenceFor(4800), microseconds(7291));
  EXPECT_EQ(RequestFramer::SilenceFor(9600), RequestFramer::kMinSilence);
  EXPECT_EQ(RequestFramer::SilenceFor(38400), RequestFramer::kMinSilence);
}

TEST(RequestFramer, OnAWireTheSilenceIsThreeAndAHalfCharactersOr1750Microseconds) {
  EXPECT_EQ(RequestFramer::WireSilenceFor(1200), microseconds(29166));
  EXPECT_EQ(RequestFramer::WireSilenceFor(9600), microseconds(3645));
  EXPECT_EQ(RequestFramer::WireSilenceFor(19200), microseconds(1822));
  EXPECT_EQ(RequestFramer::WireSilenceFor(38400), microseconds(1750));
}

TEST(RequestFramer, BySilenceARequestWithStrayBytesIsOneFrame) {
  const Bytes request = ToBytes(BuildReadRequest(1, REG_LINE_LENGTH, 1));
  const struct {
    const char* what;
    Bytes stray;
  } cases[] = {{"none", {}}, {"one", {0x00}}, {"a second request", request}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RequestFramer framer;
    framer.SetFraming(RequestFramer::Framing::BySilence);
    framer.SetSilence(microseconds(3645));
    Bytes sent = request;
    sent.insert(sent.end(), c.stray.begin(), c.stray.end());
    // One byte a character time (1042 us at 9600 baud), none left out.
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_TRUE(framer.Feed(&sent[i], 1, t0 + microseconds(1042 * i)).empty());
    }
    const auto lastByte = t0 + microseconds(1042 * (sent.size() - 1));
    EXPECT_TRUE(framer.Expire(lastByte + microseconds(3644)).empty());
    const auto frames = framer.Expire(lastByte + microseconds(3645));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], sent);
  }
}

TEST(RequestFramer, NoiseWithoutAPauseIsDroppedUntilTheSilence) {
  // 0xFF is no function: by length it waits for a silence as well. A 0x10
  // header whose byte count claims 259 bytes is noise from its seventh byte.
  const struct {
    const char* what;
    RequestFramer::Framing framing;
    Bytes head;
  } cases[] = {
      {"by length, unknown function", RequestFramer::Framing::ByLength, {}},
      {"by length, byte count too large", RequestFramer::Framing::ByLength,
       {0x01, 0x10, 0x20, 0x0B, 0x00, 0x7D, 0xFA}},
      {"by silence", RequestFramer::Framing::BySilence, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RequestFramer framer;
    framer.SetFraming(c.framing);
    Bytes noise = c.head;
    noise.resize(100000, 0xFF);
    size_t most = 0;
    for (size_t at = 0; at < noise.size(); at += 100) {
      EXPECT_TRUE(framer.Feed(&noise[at], 100, t0 + microseconds(at)).empty());
      most = std::max(most, framer.Pending());
    }
    EXPECT_LE(most, kMaxFrameBytes);
    const auto last = t0 + microseconds(noise.size() - 100);
    EXPECT_TRUE(framer.Expire(last + RequestFramer::kMinSilence).empty());
    EXPECT_EQ(framer.DroppedBytes(), noise.size());
    // The line is heard again after the silence.
    const Bytes request = ToBytes(BuildReadRequest(1, REG_LINE_LENGTH, 1));
    const auto later = last + milliseconds(10);
    auto frames = framer.Feed(request.data(), request.size(), later);
    for (auto& f : framer.Expire(later + milliseconds(10))) frames.push_back(f);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], request);
  }
}

TEST(RequestFramer, AFullLengthFrameStillComesThrough) {
  // 0x10 with 123 registers: 255 bytes, the longest request there is.
  uint8_t data[246] = {};
  const Bytes request = ToBytes(BuildWriteMultipleRequest(1, 0x1000, 123, data));
  ASSERT_EQ(request.size(), 255u);
  for (const auto framing : {RequestFramer::Framing::ByLength,
                             RequestFramer::Framing::BySilence}) {
    RequestFramer framer;
    framer.SetFraming(framing);
    auto frames = framer.Feed(request.data(), request.size(), t0);
    for (auto& f : framer.Expire(t0 + milliseconds(5))) frames.push_back(f);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], request);
  }
}

}  // namespace
