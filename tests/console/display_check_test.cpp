// Started where no window can be opened, qd7420 says so in one sentence and
// ends with its own exit code instead of Qt's abort.
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/AppInfo.h"
#include "app/DisplayCheck.h"

namespace {

struct Case {
  const char* name;
  std::map<std::string, std::string> env;
  QStringList arguments;
  bool missing;
};

TEST(MissingDisplay, OnlyWhereTheWindowSystemNeedsOneAndNoneIsNamed) {
  const Case cases[] = {
      {"NothingSet", {}, {}, true},
      {"X11", {{"DISPLAY", ":0"}}, {}, false},
      {"Wayland", {{"WAYLAND_DISPLAY", "wayland-0"}}, {}, false},
      {"XcbAsked", {{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}}, {}, true},
      {"XcbOnTheCommandLine", {}, {"-platform", "xcb"}, true},
      {"Offscreen", {{"QT_QPA_PLATFORM", "offscreen"}}, {}, false},
      {"OffscreenOnTheCommandLine", {{"QT_QPA_PLATFORM", "xcb"}}, {"--platform", "offscreen"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QStringList arguments{QStringLiteral("qd7420")};
    arguments << c.arguments;
    const std::string sentence = MissingDisplay(arguments, [&](const char* name) {
      const auto it = c.env.find(name);
      return it == c.env.end() ? QByteArray() : QByteArray(it->second.c_str());
    });
    EXPECT_EQ(!sentence.empty(), c.missing) << sentence;
  }
}

struct ConsoleRun {
  int exitCode;
  QString out;
  QString err;
};

ConsoleRun RunConsole(const QProcessEnvironment& env, const QStringList& arguments) {
  QProcess console;
  console.setProcessEnvironment(env);
  console.start(QStringLiteral(QD7420_BINARY), arguments);
  console.closeWriteChannel();
  if (!console.waitForFinished(60000)) {
    console.kill();
    console.waitForFinished();
    return {-1, {}, QStringLiteral("did not end")};
  }
  return {console.exitStatus() == QProcess::NormalExit ? console.exitCode() : -2,
          QString::fromUtf8(console.readAllStandardOutput()),
          QString::fromUtf8(console.readAllStandardError())};
}

// The real program: with no display named at all, and with one named where
// no X server answers (Qt's own fatal error, caught).
TEST(NoDisplay, OneSentenceAndExitCode3) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  QProcessEnvironment deadDisplay = env;
  deadDisplay.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4242"));
  const struct {
    const char* name;
    QProcessEnvironment env;
    QStringList arguments;
    const char* says;
  } cases[] = {
      {"NoneNamed", env, {QStringLiteral("--simulate")}, "DISPLAY"},
      {"NoServerThere", deadDisplay, {QStringLiteral("-platform"), QStringLiteral("xcb")}, "':4242'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ConsoleRun run = RunConsole(c.env, c.arguments);
    EXPECT_EQ(run.exitCode, kExitNoDisplay) << qPrintable(run.err);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << "one sentence, not Qt's story:\n"
                                                   << qPrintable(run.err);
    for (const char* word : {c.says, "--simulate", "scripts/screenshot.sh"})
      EXPECT_TRUE(run.err.contains(QString::fromUtf8(word))) << word << " in " << qPrintable(run.err);
    EXPECT_FALSE(run.err.contains(QLatin1String("einstall")));
  }
}

}  // namespace
