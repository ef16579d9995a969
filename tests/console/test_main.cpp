// Runs the console's tests inside one QApplication on the offscreen platform,
// with Qt's own texts in Chinese as the program has them.
#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

#include "app/Translations.h"

int main(int argc, char** argv) {
  // Offscreen always; CTest names the virtual screen (a laptop's) to use.
  if (!qEnvironmentVariable("QT_QPA_PLATFORM").startsWith(QLatin1String("offscreen")))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  InstallQtTranslations();
  QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("WenQuanYi Micro Hei"),
                                                      QStringLiteral("Noto Sans CJK SC")});
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
