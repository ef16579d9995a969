// Runs the console's tests inside one QApplication on the offscreen platform,
// with Qt's own texts in Chinese as the program has them.
#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

#include "app/Translations.h"

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
  return RUN_ALL_TESTS();
}
