// Runs the template tests without a display. The templates ask for 宋体; like
// the console, map it to an installed CJK font so that text widths measured
// here are the ones the operator sees.
#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Sans CJK SC")});
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
