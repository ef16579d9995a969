// The simulator's command line and its standard-input commands.
#include <gtest/gtest.h>

#include <vector>

#include "command_interpreter.h"
#include "command_line.h"
#include "registers.h"

using namespace sim;

namespace {

bool Parse(std::vector<std::string> args, SimSettings& s, std::string& error) {
  args.insert(args.begin(), "qd7420-sim");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return ParseCommandLine(static_cast<int>(args.size()), argv.data(), s, error);
}

TEST(SimCommandLine, GoodOptions) {
  SimSettings s;
  std::string error;
  ASSERT_TRUE(Parse({"--address", "17", "--baud", "38400", "--scenario", "leak",
                     "--position", "12.34", "--log", "30", "--fault", "late:3",
                     "--delay", "1500", "--paced", "--answer-all-bad-crc", "--turnaround", "20"},
                    s, error))
      << error;
  EXPECT_EQ(s.controller.address, 17);
  EXPECT_EQ(s.controller.baud, 38400);
  EXPECT_EQ(s.controller.scenario, Scenario::Leak);
  EXPECT_DOUBLE_EQ(s.controller.leakPositionM, 12.34);
  EXPECT_EQ(s.controller.prefillLog, 30);
  EXPECT_EQ(s.fault, Fault::Late);
  EXPECT_EQ(s.faultCount, 3);
  EXPECT_EQ(s.delayMs, 1500);
  EXPECT_TRUE(s.paced);
  EXPECT_TRUE(s.answerAllBadCrc);
  EXPECT_EQ(s.turnaroundMs, 20);

  SimSettings d;
  ASSERT_TRUE(Parse({"--fault=bad-crc", "--scenario=broken"}, d, error)) << error;
  EXPECT_EQ(d.fault, Fault::BadCrc);
  EXPECT_EQ(d.faultCount, -1);  // persistent
  EXPECT_EQ(d.controller.scenario, Scenario::Broken);
  EXPECT_EQ(d.controller.address, 1);
  EXPECT_EQ(d.controller.baud, 9600);
  EXPECT_FALSE(d.paced);
  EXPECT_FALSE(d.answerAllBadCrc);
  EXPECT_EQ(d.turnaroundMs, 0);
}

TEST(SimCommandLine, BadOptionsAreRefused) {
  const std::vector<std::vector<std::string>> cases = {
      {"--address", "0"},      {"--address", "256"},   {"--address", "1x"},
      {"--baud", "1234"},      {"--baud", "0"},        {"--scenario", "flood"},
      {"--position", "-1"},    {"--position", "abc"},  {"--log", "-2"},
      {"--fault", "boom"},     {"--fault", "late:0"},  {"--fault", "late:x"},
      {"--delay", "-5"},       {"--bogus"},            {"stray"},
      {"--address"},           {"--turnaround", "-1"}, {"--turnaround", "60001"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    SimSettings s;
    std::string error;
    EXPECT_FALSE(Parse(args, s, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimCommands, ChangeTheRunningDevice) {
  PtyServer server;
  CommandInterpreter commands(server);
  Controller& device = server.Device();
  EXPECT_EQ(commands.Execute("leak 12.34"), "leak at 12.34 m");
  EXPECT_EQ(device.Register(REG_LEAK_POSITION), 1234);
  EXPECT_EQ(commands.Execute("break"), "broken cable at 0.00 m");
  EXPECT_EQ(device.Register(REG_ALARM_STATUS), 2);
  EXPECT_EQ(commands.Execute("clear"), "no alarm");
  EXPECT_EQ(device.Register(REG_ALARM_STATUS), 0);
  // The leak and the break logged two entries: log N sets, it does not add.
  EXPECT_EQ(commands.Execute("log 5"), "log holds 5 entries");
  EXPECT_EQ(commands.Execute("log 3"), "log holds 3 entries");
  EXPECT_EQ(device.Register(REG_LOG_COUNT), 3);
  EXPECT_EQ(commands.Execute("fault late 3"), "fault late on the next 3");
  EXPECT_EQ(commands.Execute("fault none"), "no faults");
  EXPECT_EQ(commands.Execute("paced on"), "pacing on");
  EXPECT_NE(commands.Execute("status").find("address 1, baud 9600"), std::string::npos);
}

TEST(SimCommands, MistakesAreAnsweredNotObeyed) {
  PtyServer server;
  CommandInterpreter commands(server);
  for (const char* line : {"leak", "leak -3", "leak 1 2", "log many", "fault boom",
                           "fault late 0", "paced maybe", "explode"}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(commands.Execute(line).rfind("error:", 0), 0u);
  }
  EXPECT_EQ(server.Device().LogCount(), 0u);
  EXPECT_EQ(server.Device().Register(REG_ALARM_STATUS), 0);
}

}  // namespace
