// Runs the console's tests inside one QApplication on the offscreen platform,
// with Qt's own texts in Chinese as the program has them.
#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

#include <cstring>

#include "app/Translations.h"
#include "console_window_fixture.h"

int main(int argc, char** argv) {
  // Offscreen always; CTest names the virtual screen (a laptop's) to use.
  const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
  if (!platform.startsWith(QLatin1String("offscreen"))) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A screen of twice the density (its file named ...@2x.json) at scale 2.
  if (platform.contains(QLatin1String("@2x."))) qputenv("QT_SCALE_FACTOR", "2");
  QApplication application(argc, argv);
  InstallQtTranslations();
  QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("WenQuanYi Micro Hei"),
                                                      QStringLiteral("Noto Sans CJK SC")});
  ::testing::InitGoogleTest(&argc, argv);
  // --line-echo: the simulated controller's line echoes every request.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--line-echo") == 0) ConsoleWindowTest::s_bLineEcho = true;
  return RUN_ALL_TESTS();
}
