// Runs the console's tests inside one QApplication on the offscreen platform.
#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("WenQuanYi Micro Hei"),
                                                      QStringLiteral("Noto Sans CJK SC")});
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
