// No sharing of the line: other processes that merely have the device open,
// the LCK.. lock files of other programs, and our own lock file's life, on
// real pseudo-terminals and a lock folder of the test's own.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "device_holder.h"
#include "far_end_process.h"
#include "port_lock.h"
#include "pty_port_test.h"
#include "serial_port.h"

namespace {

std::string PidText(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

std::string BinaryPid(pid_t pid) {
  const int32_t value = pid;
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// A PID that named a process a moment ago and names none now.
pid_t DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool IsLink(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class PortSharingTest : public PtyPortTest {
 protected:
  void SetUp() override {
    PtyPortTest::SetUp();
    char name[] = "/tmp/qd7420-locks-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
    SetLockFolders({folder_});
    SetOpenFailureHook([this](const std::string&, const std::string& why) { why_ = why; });
  }
  void TearDown() override {
    PtyPortTest::TearDown();
    SetOpenFailureHook({});
    ResetLockFolders();
    if (DIR* dir = opendir(folder_.c_str())) {
      while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') unlink((folder_ + '/' + entry->d_name).c_str());
      }
      closedir(dir);
    }
    rmdir(folder_.c_str());
  }

  std::string LockPath() const { return folder_ + '/' + LockFileName(pty_.Path()); }

  // Bytes the line holds for whoever reads the slave side.
  int Queued() const {
    int queued = -1;
    ioctl(pty_.Slave(), FIONREAD, &queued);
    return queued;
  }

  std::string folder_;
  std::string why_;  // what the last failed open said
};

TEST(LockFileName, IsTheDeviceNameAfterLCK) {
  EXPECT_EQ(LockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
  EXPECT_EQ(LockFileName("/dev/pts/3"), "LCK..3");
  EXPECT_EQ(LockFileName("/dev/"), "");
}

// A program that neither flocks nor sets TIOCEXCL (socat, a terminal
// program) would swallow the controller's replies: the port is refused, and
// nothing is sent, flushed or changed on the line.
TEST_F(PortSharingTest, DeviceOpenInAnotherProcessIsRefusedUntouched) {
  termios slow{};
  ASSERT_EQ(tcgetattr(pty_.Master(), &slow), 0);
  cfsetspeed(&slow, B1200);
  ASSERT_EQ(tcsetattr(pty_.Master(), TCSANOW, &slow), 0);
  pty_.Send({0xAA, 0xBB});
  ASSERT_TRUE(pty_.WaitQueued(2, 1000));
  {
    DeviceHolder other(pty_.Path());
    ASSERT_TRUE(other.Ok());
    EXPECT_EQ(OpenPort(1, 9600), nullptr);
    EXPECT_EQ(PortHandle, nullptr);
    EXPECT_EQ(why_, "open in process " + std::to_string(other.Pid()));
    EXPECT_TRUE(pty_.Receive(1, 100).empty()) << "bytes went out on a line that is not ours";
    EXPECT_EQ(Queued(), 2) << "the other program's input was flushed";
    termios now{};
    ASSERT_EQ(tcgetattr(pty_.Master(), &now), 0);
    EXPECT_EQ(cfgetospeed(&now), static_cast<speed_t>(B1200)) << "the line was reconfigured";
    EXPECT_FALSE(Exists(LockPath())) << "a failed open left its lock file";
  }
  EXPECT_NE(OpenPort(1, 9600), nullptr) << "still refused after the other program ended";
}

// Between two commands the port is closed: a program may take the line then.
// The open after it must see it as surely as the first open did.
TEST_F(PortSharingTest, ProgramOpeningBetweenCommandsIsSeen) {
  ASSERT_NE(OpenPort(1, 9600), nullptr);
  ClosePort();
  ASSERT_NE(OpenPort(1, 9600), nullptr);
  ClosePort();
  {
    DeviceHolder other(pty_.Path());
    ASSERT_TRUE(other.Ok());
    EXPECT_EQ(OpenPort(1, 9600), nullptr);
    EXPECT_EQ(OpenPort(1, 9600), nullptr) << "refused once, then let through";
  }
  EXPECT_NE(OpenPort(1, 9600), nullptr);
  ClosePort();
  // One that opened and closed again meanwhile leaves the line free.
  { DeviceHolder passing(pty_.Path()); }
  EXPECT_NE(OpenPort(1, 9600), nullptr);
}

// The simulated controller in a process of its own keeps a slave descriptor
// next to its master: that is the far end of the line, not a rival. A third
// process on the same slave still is one.
TEST_F(PortSharingTest, FarEndOfAPseudoTerminalIsNoRival) {
  FarEndProcess controller;
  ASSERT_TRUE(controller.Ok());
  HPORT port = OpenDevice(controller.Path(), 9600);
  EXPECT_NE(port, nullptr) << why_;
  CloseDevice(port);

  DeviceHolder other(controller.Path());
  ASSERT_TRUE(other.Ok());
  EXPECT_EQ(OpenDevice(controller.Path(), 9600), nullptr);
  EXPECT_EQ(why_, "open in process " + std::to_string(other.Pid()));
}

TEST_F(PortSharingTest, OurLockFileLivesExactlyAsLongAsTheHandle) {
  ASSERT_NE(OpenPort(1, 9600), nullptr);
  EXPECT_EQ(Read(LockPath()), PidText(getpid()));
  struct stat st {};
  ASSERT_EQ(stat(LockPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u) << "other programs must be able to read it";

  // A second open of the held line fails and leaves the holder's lock alone.
  EXPECT_EQ(OpenDevice(pty_.Path(), 9600), nullptr);
  EXPECT_EQ(Read(LockPath()), PidText(getpid()));

  ClosePort();
  EXPECT_FALSE(Exists(LockPath()));
  HPORT port = OpenDevice(pty_.Path(), 9600);
  ASSERT_NE(port, nullptr);
  EXPECT_TRUE(Exists(LockPath()));
  CloseDevice(port);
  EXPECT_FALSE(Exists(LockPath()));
}

struct ForeignLock {
  const char* name;
  std::string (*content)();
  bool refuses;
};

void PrintTo(const ForeignLock& lock, std::ostream* os) { *os << lock.name; }

class ForeignLockTest : public PortSharingTest,
                        public ::testing::WithParamInterface<ForeignLock> {};

// A live owner refuses; a dead one (or a lock naming our PID that we do not
// hold: an earlier process with the same PID) is taken over; a lock that does
// not name a PID is someone's all the same.
TEST_P(ForeignLockTest, RefusesOrTakesOver) {
  const ForeignLock& lock = GetParam();
  const std::string content = lock.content();
  Write(LockPath(), content);
  HPORT port = OpenPort(1, 9600);
  if (lock.refuses) {
    EXPECT_EQ(port, nullptr);
    EXPECT_EQ(Read(LockPath()), content) << "someone else's lock was touched";
    EXPECT_TRUE(pty_.Receive(1, 50).empty());
    return;
  }
  ASSERT_NE(port, nullptr) << why_;
  EXPECT_EQ(Read(LockPath()), PidText(getpid()));
  ClosePort();
  EXPECT_FALSE(Exists(LockPath()));
}

INSTANTIATE_TEST_SUITE_P(
    Owners, ForeignLockTest,
    ::testing::Values(ForeignLock{"Live", [] { return PidText(getppid()); }, true},
                      ForeignLock{"LiveBinary", [] { return BinaryPid(getppid()); }, true},
                      ForeignLock{"LiveNoPadding", [] { return std::to_string(getppid()); }, true},
                      ForeignLock{"Garbled", [] { return std::string("modem\n"); }, true},
                      // Four bytes of text, not a binary PID: as an int far
                      // beyond any PID the kernel hands out.
                      ForeignLock{"FourLetters", [] { return std::string("LOCK"); }, true},
                      ForeignLock{"StaleBinary", [] { return BinaryPid(DeadPid()); }, false},
                      ForeignLock{"Empty", [] { return std::string(); }, true},
                      ForeignLock{"Stale", [] { return PidText(DeadPid()); }, false},
                      ForeignLock{"StaleOurPid", [] { return PidText(getpid()); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A device reached through a link (/dev/serial/by-id/...) may be locked under
// either name; our own lock carries the device's own name.
TEST_F(PortSharingTest, LockUnderTheLinkNameCountsToo) {
  const std::string link = folder_ + "/adapter";
  ASSERT_EQ(symlink(pty_.Path().c_str(), link.c_str()), 0);
  SetPortPath(2, link);
  Write(folder_ + "/LCK..adapter", PidText(getppid()));
  EXPECT_EQ(OpenPort(2, 9600), nullptr);
  unlink((folder_ + "/LCK..adapter").c_str());
  ASSERT_NE(OpenPort(2, 9600), nullptr);
  EXPECT_TRUE(Exists(LockPath()));
  EXPECT_FALSE(Exists(folder_ + "/LCK..adapter"));
}

struct PlantedLink {
  const char* name;
  bool targetExists;
};

class PlantedLinkTest : public PortSharingTest,
                        public ::testing::WithParamInterface<PlantedLink> {};

// The lock folder is everyone's: a link planted under the lock's name must
// neither be written through nor removed. It is not a lock we can read, so
// the line stays refused until someone removes it.
TEST_P(PlantedLinkTest, IsNotFollowed) {
  const std::string target = folder_ + "/victim";
  if (GetParam().targetExists) Write(target, "precious\n");
  ASSERT_EQ(symlink(target.c_str(), LockPath().c_str()), 0);
  EXPECT_EQ(OpenPort(1, 9600), nullptr);
  EXPECT_TRUE(IsLink(LockPath()));
  if (GetParam().targetExists)
    EXPECT_EQ(Read(target), "precious\n");
  else
    EXPECT_FALSE(Exists(target)) << "the open created the link's target";
}

INSTANTIATE_TEST_SUITE_P(Targets, PlantedLinkTest,
                         ::testing::Values(PlantedLink{"ToAFile", true},
                                           PlantedLink{"Dangling", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// /sys refuses new files even to root; a missing folder is skipped.
TEST_F(PortSharingTest, UnwritableLockFolderDoesNotStopTheOpen) {
  SetLockFolders({"/sys", folder_ + "/missing"});
  EXPECT_NE(OpenPort(1, 9600), nullptr) << why_;
  ClosePort();
  SetLockFolders({"/sys", folder_});
  ASSERT_NE(OpenPort(1, 9600), nullptr);
  EXPECT_EQ(Read(LockPath()), PidText(getpid())) << "the next folder should have taken it";
}

TEST_F(PortSharingTest, NeverRemovesALockThatIsNotOurs) {
  ASSERT_NE(OpenPort(1, 9600), nullptr);
  // Someone replaced our lock meanwhile (by hand, or judging it stale).
  ASSERT_EQ(unlink(LockPath().c_str()), 0);
  Write(LockPath(), PidText(getppid()));
  ClosePort();
  EXPECT_EQ(Read(LockPath()), PidText(getppid()));
}

// Two ordinary users: one whose console left a lock behind, one who opens
// the line after it. No accounts are needed for either.
constexpr uid_t kLockOwner = 65533;
constexpr uid_t kOpener = 65534;

struct StickyLock {
  const char* name;
  uid_t owner;
  bool live;      // the PID in it names a running process
  bool opens;
  bool note;      // the trace is told that the lock stays
  bool lockOfOurs;
};

void PrintTo(const StickyLock& lock, std::ostream* os) { *os << lock.name; }

class StickyFolderTest : public PortSharingTest, public ::testing::WithParamInterface<StickyLock> {
 protected:
  // The open as kOpener in a child process: "opened" or "refused", the
  // count of notes, the last note.
  std::string OpenAsOrdinaryUser() {
    int report[2];
    if (pipe(report) != 0) return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
      close(report[0]);
      if (setgroups(0, nullptr) != 0 || setgid(kOpener) != 0 || setuid(kOpener) != 0) _exit(3);
      int notes = 0;
      std::string last;
      SetLockNoteHook([&](const std::string&, const std::string& note) {
        ++notes;
        last = note;
      });
      HPORT port = OpenDevice(pty_.Path(), 9600);
      // Whether the child wrote a lock of its own while it has the line.
      const bool ours = port != nullptr && Read(LockPath()) == PidText(getpid());
      const std::string line = std::string(port ? "opened " : "refused ") + std::to_string(notes) +
                               ' ' + last + " | " + why_ + (ours ? " ours" : "");
      (void)!write(report[1], line.data(), line.size());
      CloseDevice(port);
      _exit(0);
    }
    close(report[1]);
    std::string text;
    char chunk[512];
    for (ssize_t n; (n = read(report[0], chunk, sizeof chunk)) > 0;) text.append(chunk, n);
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
    return text;
  }
};

// /run/lock is sticky: a stale lock of another user's cannot be removed by
// an ordinary user. It must not lock that user out (flock and TIOCEXCL
// still hold the line); one of that user's that is live still does.
TEST_P(StickyFolderTest, AnotherUsersStaleLockLocksNoOneOut) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root: the open runs as an ordinary user, the lock belongs to another";
  const StickyLock& c = GetParam();
  ASSERT_EQ(chmod(folder_.c_str(), 01777), 0);
  ASSERT_EQ(chmod(pty_.Path().c_str(), 0666), 0);  // the line is the opener's to use
  const std::string content = PidText(c.live ? getpid() : DeadPid());
  Write(LockPath(), content);
  ASSERT_EQ(chown(LockPath().c_str(), c.owner, c.owner), 0);

  const std::string report = OpenAsOrdinaryUser();
  SCOPED_TRACE(report);
  EXPECT_EQ(report.rfind(c.opens ? "opened " : "refused ", 0), 0u);
  EXPECT_EQ(report.find(c.opens ? "opened 1 " : "refused 1 ") == 0, c.note);
  if (c.note) {
    EXPECT_NE(report.find("stale lock file " + LockPath() + " of ended process"), std::string::npos);
    EXPECT_NE(report.find("going on without a lock file of our own"), std::string::npos);
  }
  if (c.owner != kOpener) {
    EXPECT_EQ(Read(LockPath()), content) << "another user's lock was touched";
  } else {
    EXPECT_FALSE(Exists(LockPath())) << "our own stale lock stayed, or ours was left behind";
  }
  EXPECT_EQ(report.find(" ours") != std::string::npos, c.lockOfOurs);
}

INSTANTIATE_TEST_SUITE_P(
    Owners, StickyFolderTest,
    ::testing::Values(
        //         name                owner       live   opens  note   lock of ours
        StickyLock{"OthersStale",      kLockOwner, false, true,  true,  false},
        StickyLock{"OthersLive",       kLockOwner, true,  false, false, false},
        StickyLock{"OwnStale",         kOpener,    false, true,  false, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
