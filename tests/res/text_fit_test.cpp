// Every text of every template fits its control in the CJK font that stands
// in for 宋体 (wider than the original), so no caption is clipped.
#include "template_loader.h"
#include "widget_probe.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <cmath>

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

// Room a push button needs around its text: frame and a little air.
constexpr int kButtonPadding = 8;

double WidestLine(const QFontMetricsF& metrics, const QString& text)
{
    double widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

// Width of the space a check box or radio leaves for its text.
int IndicatorRoom(const QAbstractButton& button)
{
    const QStyle* style = button.style();
    if (qobject_cast<const QRadioButton*>(&button))
        return style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, &button) +
               style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, &button);
    return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, &button) +
           style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, &button);
}

int ComboTextRoom(const QComboBox& combo)
{
    QStyleOptionComboBox option;
    option.initFrom(&combo);
    option.editable = false;
    option.frame = true;
    return combo.style()
        ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &combo)
        .width();
}

void ExpectLabelFits(const QLabel& label, const QString& text)
{
    const QFontMetricsF metrics(label.font());
    EXPECT_LE(metrics.horizontalAdvance(text), label.contentsRect().width())
        << qPrintable(label.objectName()) << " clips \"" << qPrintable(text) << "\"";
    EXPECT_GE(label.height(), std::ceil(metrics.height())) << qPrintable(label.objectName());
}

void ExpectButtonFits(const QAbstractButton& button, const QString& text)
{
    const QFontMetricsF metrics(button.font());
    const double room = qobject_cast<const QPushButton*>(&button)
                            ? button.width() - kButtonPadding
                            : button.width() - IndicatorRoom(button);
    EXPECT_LE(WidestLine(metrics, text), room)
        << qPrintable(button.objectName()) << " clips \"" << qPrintable(text) << "\"";
    const int lines = static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
    EXPECT_GE(button.height(), std::ceil(lines * metrics.lineSpacing())) << qPrintable(button.objectName());
}

class TemplateText : public ::testing::TestWithParam<int> {};

}  // namespace

TEST(TemplateFont, SongTiIsReplacedByAnInstalledCjkFont)
{
    auto dialog = LoadTemplate(102);
    const QString family = QFontInfo(dialog->font()).family();
    EXPECT_TRUE(family.contains(QLatin1String("WenQuanYi")) || family.contains(QLatin1String("CJK")))
        << "measuring with " << qPrintable(family);
}

TEST_P(TemplateText, LabelsShowTheirWholeText)
{
    auto dialog = LoadTemplate(GetParam());
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (!label->wordWrap() && !label->text().isEmpty())
            ExpectLabelFits(*label, label->text());
    }
}

TEST_P(TemplateText, ButtonsChecksAndRadiosShowTheirWholeCaption)
{
    auto dialog = LoadTemplate(GetParam());
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
        ExpectButtonFits(*button, button->text());
}

TEST_P(TemplateText, GroupTitlesAndComboEntriesFit)
{
    auto dialog = LoadTemplate(GetParam());
    for (QGroupBox* group : dialog->findChildren<QGroupBox*>()) {
        const QFontMetricsF metrics(group->font());
        EXPECT_LE(metrics.horizontalAdvance(group->title()) + 16, group->width())
            << qPrintable(group->title());
    }
    for (QComboBox* combo : dialog->findChildren<QComboBox*>()) {
        const QFontMetricsF metrics(combo->font());
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_LE(metrics.horizontalAdvance(combo->itemText(i)), ComboTextRoom(*combo))
                << qPrintable(combo->objectName()) << " entry " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(AllTemplates, TemplateText, ::testing::Values(100, 102, 130, 131, 132),
                         [](const auto& info) { return "Template" + std::to_string(info.param); });

// Texts the console writes into the templates' controls later on, at their
// longest likely length.
TEST(TemplateText, TextsWrittenAtRunTimeFit)
{
    struct RunTimeText {
        int templateId;
        int id;
        const char* text;
    };
    const RunTimeText texts[] = {
        {102, 1055, "搜索到的参数为:波特率38400地址255"},
        {102, 1055, "正在搜索波特率38400地址255"},
        {102, 1055, "已经停止搜索参数"},
        {102, 1009, "搜索通讯参数"},
        {102, 1009, "停止搜索"},
        {102, 1051, "停止读取"},
        {102, 1063, "无告警"},
        {102, 1064, "655.35米"},
        {102, 1068, "999999"},
        {102, 1069, "999999"},
        {102, 1072, "65535"},
        {102, 1065, "-99.99V"},
        {102, 1056, "-123.456789"},
        {102, 1057, "-123.456789"},
        {102, 1062, "-123.456789"},
        {102, 1098, "2026"},
        {102, 1103, "59"},
        {132, 1107, "30"},
        {132, 1107, "-5"},
    };
    for (const RunTimeText& entry : texts) {
        SCOPED_TRACE(entry.id);
        auto dialog = LoadTemplate(entry.templateId);
        QWidget* widget = FindById(*dialog, entry.id);
        ASSERT_NE(widget, nullptr);
        if (auto* label = qobject_cast<QLabel*>(widget))
            ExpectLabelFits(*label, U(entry.text));
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            ExpectButtonFits(*button, U(entry.text));
        else
            ADD_FAILURE() << "not a text control";
    }
}

// The confirmation sentence runs over two statics: the first shows only its
// first line, which must end just before the second static's "入无误！".
TEST(ConfirmDialog, SentenceBreaksWhereTheSecondStaticGoesOn)
{
    auto dialog = LoadTemplate(131);
    const QString sentence = QStringLiteral("请确认水浸线无告警且水浸线长输入无误");
    QLabel* first = nullptr;
    QLabel* second = nullptr;
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->text() == sentence)
            first = label;
        else if (label->text() == QStringLiteral("入无误！"))
            second = label;
    }
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(first->wordWrap());
    EXPECT_TRUE(first->alignment() & Qt::AlignTop);
    const QFontMetricsF metrics(first->font());
    const int shown = sentence.indexOf(QStringLiteral("入"));
    EXPECT_GE(first->contentsRect().width(), metrics.horizontalAdvance(sentence.left(shown)));
    EXPECT_LT(first->contentsRect().width(), metrics.horizontalAdvance(sentence.left(shown + 1)));
    // One line tall: the wrapped rest stays out of sight.
    EXPECT_GE(first->height(), std::floor(metrics.height()));
    EXPECT_LE(first->height(), std::ceil(metrics.lineSpacing()));
    EXPECT_GE(second->y(), first->geometry().bottom());
    ExpectLabelFits(*second, second->text());
}
