// Framing the byte stream: by length for the known functions, by silence
// for the rest, and garbage dropped once the line falls silent.
#include <gtest/gtest.h>

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

}  // namespace
