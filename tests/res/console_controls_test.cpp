// The controls of the main-window template: ids, kinds, captions, labels,
// states, combo contents, tab order, buttons and radio groups.
#include "console_fixture.h"
#include "template_tables.h"
#include "widget_probe.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>

#include <algorithm>

using namespace templates;

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

const Control* RowOf(int id)
{
    for (const Control& row : kConsoleControls) {
        if (row.id == id)
            return &row;
    }
    return nullptr;
}

}  // namespace

TEST_F(ConsoleTemplate, EveryIdIsOneControlOfItsKind)
{
    for (const Control& row : kConsoleControls) {
        SCOPED_TRACE(row.id);
        const auto matches = Dialog().findChildren<QWidget*>(QStringLiteral("id%1").arg(row.id));
        ASSERT_EQ(matches.size(), 1);
        EXPECT_TRUE(IsKind(*matches.front(), row.kind)) << matches.front()->metaObject()->className();
    }
}

TEST_F(ConsoleTemplate, HasNoControlsBeyondTheTable)
{
    QSet<QString> expected;
    for (const Control& row : kConsoleControls)
        expected.insert(QStringLiteral("id%1").arg(row.id));
    for (QWidget* widget : ControlsWithIds(Dialog()))
        EXPECT_TRUE(expected.contains(widget->objectName())) << qPrintable(widget->objectName());
}

TEST_F(ConsoleTemplate, CaptionsAndInitialTexts)
{
    for (const Control& row : kConsoleControls) {
        SCOPED_TRACE(row.id);
        if (row.kind == Kind::Edit || row.kind == Kind::Combo || row.kind == Kind::List)
            continue;
        EXPECT_EQ(Caption(ById(row.id)), U(row.text));
    }
}

TEST_F(ConsoleTemplate, HiddenAndDisabledStatesFollowTheTable)
{
    for (const Control& row : kConsoleControls) {
        SCOPED_TRACE(row.id);
        const QWidget& widget = ById(row.id);
        EXPECT_EQ(!widget.isVisibleTo(&Dialog()), (row.flags & kHidden) != 0);
        EXPECT_EQ(!widget.isEnabledTo(&Dialog()), (row.flags & kDisabled) != 0);
    }
}

TEST_F(ConsoleTemplate, CaptionLabelsAreBuddiesAndShareTheControlsVisibility)
{
    for (const Control& row : kConsoleControls) {
        SCOPED_TRACE(row.id);
        const QWidget& widget = ById(row.id);
        QLabel* label = CaptionLabelFor(Dialog(), widget);
        if (*row.label == '\0') {
            EXPECT_EQ(label, nullptr);
            continue;
        }
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), U(row.label));
        EXPECT_EQ(label->isVisibleTo(&Dialog()), widget.isVisibleTo(&Dialog()));
        EXPECT_LT(label->geometry().right(), widget.geometry().left()) << "label left of its control";
    }
}

TEST_F(ConsoleTemplate, UnitLabelsFollowTheirEdits)
{
    for (const Control& row : kConsoleControls) {
        if (*row.unit == '\0')
            continue;
        SCOPED_TRACE(row.id);
        const QWidget& widget = ById(row.id);
        QLabel* unit = UnitLabelFor(widget);
        ASSERT_NE(unit, nullptr);
        EXPECT_EQ(unit->text(), U(row.unit));
        EXPECT_EQ(unit->isVisibleTo(&Dialog()), widget.isVisibleTo(&Dialog()));
    }
}

TEST_F(ConsoleTemplate, HiddenUnnamedStaticsPairALabelWithAnEmptyValue)
{
    for (const UnnamedStatic& row : kHiddenUnnamedStatics) {
        SCOPED_TRACE(row.label);
        auto* value = Dialog().findChild<QLabel*>(U(row.valueName));
        ASSERT_NE(value, nullptr);
        EXPECT_TRUE(value->text().isEmpty());
        EXPECT_FALSE(value->isVisibleTo(&Dialog()));
        QLabel* label = CaptionLabelFor(Dialog(), *value);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), U(row.label));
        EXPECT_FALSE(label->isVisibleTo(&Dialog()));
    }
}

TEST_F(ConsoleTemplate, CentredStaticsAreCentred)
{
    for (const Control& row : kConsoleControls) {
        if (!(row.flags & kCentred))
            continue;
        SCOPED_TRACE(row.id);
        const auto* label = qobject_cast<QLabel*>(&ById(row.id));
        ASSERT_NE(label, nullptr);
        EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
    }
}

TEST_F(ConsoleTemplate, CombosListTheirEntriesInOrderWithNoSelectionLogic)
{
    for (const ComboContents& combo : kComboContents) {
        SCOPED_TRACE(combo.id);
        auto* box = qobject_cast<QComboBox*>(&ById(combo.id));
        ASSERT_NE(box, nullptr);
        ASSERT_EQ(box->count(), static_cast<int>(combo.items.size()));
        for (int i = 0; i < box->count(); ++i)
            EXPECT_EQ(box->itemText(i), U(combo.items[i])) << "entry " << i;
        EXPECT_FALSE(box->isEditable());
    }
}

TEST_F(ConsoleTemplate, TabOrderIsTheTemplateOrder)
{
    std::vector<int> expected;
    for (int id : kTemplateOrder) {
        if (RowOf(id)->kind != Kind::Static)
            expected.push_back(id);
    }
    std::vector<int> chain;
    for (QWidget* w = Dialog().nextInFocusChain(); w != &Dialog(); w = w->nextInFocusChain()) {
        const QString name = w->objectName();
        if ((w->focusPolicy() & Qt::TabFocus) && name.startsWith(QLatin1String("id")))
            chain.push_back(name.mid(2).toInt());
    }
    EXPECT_EQ(chain, expected);
}

TEST_F(ConsoleTemplate, TemplateOrderNamesEveryControlOnce)
{
    std::vector<int> ordered = kTemplateOrder;
    std::vector<int> listed;
    for (const Control& row : kConsoleControls)
        listed.push_back(row.id);
    std::sort(ordered.begin(), ordered.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(ordered, listed);
}

// Enter must reach only the hidden default button, which does nothing.
TEST_F(ConsoleTemplate, OnlyTheHiddenButtonIsDefault)
{
    for (QPushButton* button : Dialog().findChildren<QPushButton*>()) {
        SCOPED_TRACE(qPrintable(button->objectName()));
        const Control* row = RowOf(button->objectName().mid(2).toInt());
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(button->isDefault(), (row->flags & kDefault) != 0);
        if (!(row->flags & kDefault)) {
            EXPECT_FALSE(button->autoDefault());
        }
    }
}

TEST_F(ConsoleTemplate, RadioGroupsFollowTheirParentsAndStartUnchecked)
{
    struct Group {
        std::vector<int> ids;
        const char* parentTitle;  // group box title, or nullptr for the panel
    };
    const Group groups[] = {{{1089, 1090}, "蜂鸣器"},
                            {{1091, 1092}, "自动校准电阻率"},
                            {{1109, 1110}, nullptr}};
    for (const Group& group : groups) {
        QWidget* parent = group.parentTitle
                              ? static_cast<QWidget*>(GroupByTitle(Dialog(), group.parentTitle))
                              : Dialog().findChild<QWidget*>(QStringLiteral("calibrationPanel"));
        ASSERT_NE(parent, nullptr);
        const auto radios = parent->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
        EXPECT_EQ(radios.size(), static_cast<qsizetype>(group.ids.size()));
        for (int id : group.ids) {
            SCOPED_TRACE(id);
            auto* radio = qobject_cast<QRadioButton*>(&ById(id));
            ASSERT_NE(radio, nullptr);
            EXPECT_EQ(radio->parentWidget(), parent);
            EXPECT_TRUE(radio->autoExclusive());
            EXPECT_FALSE(radio->isChecked());
        }
    }
}

TEST_F(ConsoleTemplate, TwoLineCaptionKeepsItsAccessibleName)
{
    auto* button = qobject_cast<QPushButton*>(&ById(1106));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text().count(QLatin1Char('\n')), 1);
    EXPECT_EQ(button->accessibleName(), QStringLiteral("自动校准电压"));
}
