// The command line: port mappings, the simulator's options, trace, help and
// version, and the exit code 2 for everything malformed.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

CommandLine Parse(const std::vector<const char*>& args) {
  QStringList arguments{QStringLiteral("qd7420")};
  for (const char* arg : args) arguments << QString::fromUtf8(arg);
  return ParseCommandLine(arguments);
}

using Ports = std::vector<std::pair<int, std::string>>;

TEST(CommandLine, GoodInvocations) {
  struct Case {
    std::vector<const char*> args;
    std::function<void(const CommandLine&)> check;
  };
  const Case cases[] = {
      {{},
       [](const CommandLine& c) {
         EXPECT_TRUE(c.ports.empty());
         EXPECT_FALSE(c.simulate);
         EXPECT_FALSE(c.trace);
         EXPECT_FALSE(c.quickSearch);
         EXPECT_EQ(c.searchTurnaroundMs, 50);
         EXPECT_FALSE(c.searchTurnaroundGiven);  // the remembered one may apply
         EXPECT_EQ(c.simTurnaroundMs, 0);
         EXPECT_FALSE(c.simEcho);
         EXPECT_TRUE(c.rs485Ports.empty());
         EXPECT_EQ(c.rs485BeforeMs, 0u);
         EXPECT_EQ(c.rs485AfterMs, 0u);
         EXPECT_EQ(c.echo, EchoMode::Auto);
         EXPECT_FALSE(c.noSettings);
         EXPECT_TRUE(c.simStations.empty());
         EXPECT_FALSE(c.searchAll);
       }},
      {{"--no-settings", "--simulate"},
       [](const CommandLine& c) {
         EXPECT_TRUE(c.noSettings);
         EXPECT_TRUE(c.simulate);
       }},
      {{"--rs485", "2", "--rs485=9", "--rs485-delay", "1,5", "--echo", "on"},
       [](const CommandLine& c) {
         EXPECT_EQ(c.rs485Ports, (std::vector<int>{2, 9}));
         EXPECT_EQ(c.rs485BeforeMs, 1u);
         EXPECT_EQ(c.rs485AfterMs, 5u);
         EXPECT_EQ(c.echo, EchoMode::On);
       }},
      {{"--echo=off"}, [](const CommandLine& c) { EXPECT_EQ(c.echo, EchoMode::Off); }},
      {{"--port", "1=/dev/ttyUSB0"},
       [](const CommandLine& c) { EXPECT_EQ(c.ports, (Ports{{1, "/dev/ttyUSB0"}})); }},
      {{"--port=9=/dev/serial/by-id/usb-x", "--port", "2=/dev/ttyS0"},
       [](const CommandLine& c) {
         EXPECT_EQ(c.ports, (Ports{{9, "/dev/serial/by-id/usb-x"}, {2, "/dev/ttyS0"}}));
       }},
      // Only the first '=' separates: a path may hold one.
      {{"--port", "3=/tmp/a=b"},
       [](const CommandLine& c) { EXPECT_EQ(c.ports, (Ports{{3, "/tmp/a=b"}})); }},
      {{"--port", "1=rfc2217://127.0.0.1:4001", "--port", "2=tcp://server.lan:4002"},
       [](const CommandLine& c) {
         EXPECT_EQ(c.ports,
                   (Ports{{1, "rfc2217://127.0.0.1:4001"}, {2, "tcp://server.lan:4002"}}));
       }},
      {{"--simulate"},
       [](const CommandLine& c) {
         EXPECT_TRUE(c.simulate);
         EXPECT_EQ(c.sim.address, 1);
         EXPECT_EQ(c.sim.baud, 9600);
         EXPECT_EQ(c.sim.scenario, sim::Scenario::NoAlarm);
         EXPECT_EQ(c.sim.prefillLog, 0);
       }},
      {{"--simulate", "--sim-address", "17", "--sim-baud", "38400", "--sim-log", "30"},
       [](const CommandLine& c) {
         EXPECT_EQ(c.sim.address, 17);
         EXPECT_EQ(c.sim.baud, 38400);
         EXPECT_EQ(c.sim.prefillLog, 30);
       }},
      {{"--simulate", "--sim-scenario", "leak:123.45"},
       [](const CommandLine& c) {
         EXPECT_EQ(c.sim.scenario, sim::Scenario::Leak);
         EXPECT_DOUBLE_EQ(c.sim.leakPositionM, 123.45);
       }},
      {{"--simulate", "--sim-scenario", "leak:0"},
       [](const CommandLine& c) { EXPECT_EQ(c.sim.scenario, sim::Scenario::Leak); }},
      {{"--simulate", "--sim-scenario", "broken"},
       [](const CommandLine& c) { EXPECT_EQ(c.sim.scenario, sim::Scenario::Broken); }},
      {{"--simulate", "--sim-scenario", "none"},
       [](const CommandLine& c) { EXPECT_EQ(c.sim.scenario, sim::Scenario::NoAlarm); }},
      // The simulator has Com1; the other ports may still go elsewhere.
      {{"--simulate", "--port", "2=/dev/ttyS1"},
       [](const CommandLine& c) {
         EXPECT_TRUE(c.simulate);
         EXPECT_EQ(c.ports, (Ports{{2, "/dev/ttyS1"}}));
       }},
      {{"--trace"}, [](const CommandLine& c) { EXPECT_TRUE(c.trace); }},
      // The simulator's log holds up to 65535 entries.
      {{"--simulate", "--sim-log", "65535", "--sim-turnaround", "70", "--sim-echo"},
       [](const CommandLine& c) {
         EXPECT_EQ(c.sim.prefillLog, 65535);
         EXPECT_EQ(c.simTurnaroundMs, 70);
         EXPECT_TRUE(c.simEcho);
       }},
      {{"--quick-search", "--search-turnaround", "10"},
       [](const CommandLine& c) {
         EXPECT_TRUE(c.quickSearch);
         EXPECT_EQ(c.searchTurnaroundMs, 10);
         EXPECT_TRUE(c.searchTurnaroundGiven);
       }},
      // A station without a rate takes the simulator's, wherever --sim-baud stands.
      {{"--simulate", "--sim-station", "17", "--sim-baud", "19200", "--sim-station=5:1200"},
       [](const CommandLine& c) {
         ASSERT_EQ(c.simStations.size(), 2u);
         EXPECT_EQ(c.simStations[0].address, 17);
         EXPECT_EQ(c.simStations[0].baud, 19200);
         EXPECT_EQ(c.simStations[1].address, 5);
         EXPECT_EQ(c.simStations[1].baud, 1200);
       }},
      {{"--search-all"}, [](const CommandLine& c) { EXPECT_TRUE(c.searchAll); }},
      {{"--search-turnaround=1000"},
       [](const CommandLine& c) {
         EXPECT_FALSE(c.quickSearch);
         EXPECT_EQ(c.searchTurnaroundMs, 1000);
       }},
      // Qt's own options pass; the application object takes them later.
      {{"-platform", "offscreen", "-reverse"}, [](const CommandLine&) {}},
  };
  for (const Case& c : cases) {
    const CommandLine result = Parse(c.args);
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args.front());
    EXPECT_TRUE(result.run) << result.error;
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.error.empty());
    c.check(result);
  }
}

TEST(CommandLine, BadValuesEndWithExitCode2AndAMessage) {
  const std::vector<std::vector<const char*>> cases = {
      {"--port", "0=/dev/x"},       {"--port", "10=/dev/x"},
      {"--port", "-1=/dev/x"},      {"--port", "1"},
      {"--port", "=/dev/x"},        {"--port", "1="},
      {"--port", "one=/dev/x"},     {"--port"},
      {"--port", "1=tcp://host"},   {"--port", "1=rfc2217://host:99999"},
      {"--port", "1=telnet://host:23"},
      {"--simulate", "--sim-scenario", "leak"},
      {"--simulate", "--sim-scenario", "leak:"},
      {"--simulate", "--sim-scenario", "leak:-1"},
      {"--simulate", "--sim-scenario", "leak:12m"},
      {"--simulate", "--sim-scenario", "leak:700"},
      {"--simulate", "--sim-scenario", "flood"},
      {"--simulate", "--sim-address", "0"},
      {"--simulate", "--sim-address", "256"},
      {"--simulate", "--sim-baud", "9601"},
      {"--simulate", "--sim-baud", "fast"},
      {"--simulate", "--sim-log", "-1"},
      {"--sim-log", "3"},  // without --simulate
      {"--simulate", "--sim-log", "65536"},
      {"--simulate", "--sim-turnaround", "-1"},
      {"--sim-turnaround", "20"},
      {"--sim-echo"},
      {"--simulate", "--sim-station", "0"},
      {"--simulate", "--sim-station", "256"},
      {"--simulate", "--sim-station", "17:1234"},
      {"--simulate", "--sim-station", "17:"},
      {"--simulate", "--sim-station", "x"},
      {"--sim-station", "17"},  // without --simulate
      {"--rs485", "0"},             {"--rs485", "10"},
      {"--rs485", "COM1"},          {"--rs485-delay", "5"},
      {"--rs485-delay", "1,2,3"},   {"--rs485-delay", "-1,0"},
      {"--rs485-delay", "0,1001"},  {"--echo", "maybe"},
      {"--search-turnaround", "9"},
      {"--search-turnaround", "1001"},
      {"--search-turnaround", "fast"},
      {"--bogus"},
      {"extra"},
  };
  for (const auto& args : cases) {
    const CommandLine result = Parse(args);
    std::string joined;
    for (const char* arg : args) joined += std::string(arg) + ' ';
    EXPECT_FALSE(result.run) << joined;
    EXPECT_EQ(result.exitCode, 2) << joined;
    EXPECT_FALSE(result.error.empty()) << joined;
    EXPECT_TRUE(result.output.empty()) << joined;
  }
}

// Both would name Com1's device: refused in words, not settled in silence.
TEST(CommandLine, SimulateRefusesAPathForCom1) {
  for (const auto& args : std::vector<std::vector<const char*>>{
           {"--simulate", "--port", "1=/dev/ttyUSB0"},
           {"--port", "2=/dev/ttyS1", "--port=1=/dev/ttyUSB0", "--simulate"}}) {
    const CommandLine result = Parse(args);
    EXPECT_FALSE(result.run);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.error.find("--simulate"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find("--port 1=/dev/ttyUSB0"), std::string::npos) << result.error;
  }
}

TEST(CommandLine, HelpAndVersionEndAtOnceOnStandardOutput) {
  const CommandLine help = Parse({"--help"});
  EXPECT_FALSE(help.run);
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option : {"--port", "--simulate", "--sim-scenario", "--sim-station",
                             "--search-all", "--trace", "--version"})
    EXPECT_NE(help.output.find(option), std::string::npos) << option;
  EXPECT_EQ(help.output.find("platform"), std::string::npos);  // Qt's stay out of sight
  EXPECT_NE(help.output.find("3  no display"), std::string::npos) << "exit codes documented";

  const CommandLine version = Parse({"--version"});
  EXPECT_FALSE(version.run);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output, "QD7420 1.1\n");
}

}  // namespace
