// qd7420-sim: the simulated controller on a pseudo-terminal, for demos and
// manual tests. Prints the device path first, serves until SIGINT, SIGTERM or
// SIGHUP (the terminal closed), then closes its pty; it owns nothing else.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "command_input.h"
#include "command_interpreter.h"
#include "command_line.h"
#include "pty_server.h"

namespace {

// Commands are read only from a terminal or a pipe; a closed or redirected
// stdin (as under CI) is left alone.
bool StdinTakesCommands() {
  struct stat st {};
  return isatty(STDIN_FILENO) || (fstat(STDIN_FILENO, &st) == 0 && S_ISFIFO(st.st_mode));
}

// Waits for a stop signal, meanwhile serving commands from stdin.
void ServeUntilSignalled(int signals, sim::CommandInterpreter& commands) {
  bool readStdin = StdinTakesCommands();
  sim::CommandInput input(
      [&commands](const std::string& line) {
        std::printf("%s\n", commands.Execute(line).c_str());
        std::fflush(stdout);
      },
      [] {
        std::fprintf(stderr, "qd7420-sim: a command line longer than %zu bytes was dropped\n",
                     sim::kMaxCommandLine);
      });
  for (;;) {
    pollfd fds[2] = {{signals, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, readStdin ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) {
      signalfd_siginfo info{};
      (void)!read(signals, &info, sizeof info);  // taken, so none stays pending
      return;
    }
    if (!readStdin || fds[1].revents == 0) continue;
    char buf[4096];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
      readStdin = false;  // end of input: keep serving
      continue;
    }
    input.Feed(buf, static_cast<size_t>(n));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  sim::SimSettings settings;
  std::string error;
  if (!sim::ParseCommandLine(argc, argv, settings, error)) {
    std::fprintf(stderr, "qd7420-sim: %s\n%s", error.c_str(), sim::UsageText());
    return 2;
  }
  if (settings.help) {
    std::fputs(sim::UsageText(), stdout);
    return 0;
  }
  // Blocked before the server's thread starts, so only the signalfd sees them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  const int signals = signalfd(-1, &stop, SFD_CLOEXEC);

  sim::PtyServer server(settings.controller);
  for (const sim::ControllerOptions& station : settings.stations) server.AddStation(station);
  if (signals < 0 || !server.Start()) {
    std::fprintf(stderr, "qd7420-sim: cannot create the pseudo-terminal: %s\n",
                 std::strerror(errno));
    return 1;
  }
  server.SetPacing(settings.paced);
  server.SetTurnaround(settings.turnaroundMs);
  server.SetAnswerAllBadCrc(settings.answerAllBadCrc);
  server.SetEcho(settings.echo);
  if (settings.fault != sim::Fault::None) {
    const bool lateByDefault = settings.fault == sim::Fault::Late && !settings.delayGiven;
    server.InjectFault(settings.fault, settings.faultCount,
                       lateByDefault ? 0 : settings.delayMs);
  }
  std::printf("%s\n", server.DevicePath().c_str());
  std::fflush(stdout);

  sim::CommandInterpreter commands(server);
  ServeUntilSignalled(signals, commands);
  server.Stop();
  close(signals);
  return 0;
}
