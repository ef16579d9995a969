// The placement of the main-window template: window, areas, the calibration
// panel that the narrow layout cuts off, and controls that must not collide.
#include "console_fixture.h"
#include "template_tables.h"
#include "widget_probe.h"

#include <QFrame>
#include <QLabel>
#include <QGroupBox>
#include <QSet>
#include <QTreeWidget>

using namespace templates;

namespace {

constexpr int kFullWidth = DuToPx(544);
constexpr int kFullHeight = DuToPx(419);

QString U(const char* text) { return QString::fromUtf8(text); }

QWidget* Panel(const QDialog& dialog)
{
    return dialog.findChild<QWidget*>(QStringLiteral("calibrationPanel"), Qt::FindDirectChildrenOnly);
}

// Visible direct children of `parent`, group boxes apart.
QList<QWidget*> VisibleControls(const QWidget& parent, const QDialog& dialog)
{
    QList<QWidget*> result;
    for (QWidget* child : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisibleTo(&dialog) && !qobject_cast<QGroupBox*>(child) &&
            child->objectName() != QLatin1String("calibrationPanel"))
            result.append(child);
    }
    return result;
}

// The part of a group box inside the frame line and below the title that the
// style draws: its contents area and a pixel of the margin around it.
QRect FrameInterior(const QGroupBox& group)
{
    return group.contentsRect().adjusted(-1, -1, 1, 1);
}

}  // namespace

TEST_F(ConsoleTemplate, WindowHasItsCaptionSizeAndFont)
{
    EXPECT_EQ(Dialog().windowTitle(), U(kConsoleCaption));
    EXPECT_EQ(Dialog().size(), QSize(kFullWidth, kFullHeight));
    EXPECT_EQ(Dialog().size(), QSize(816, 629));
    EXPECT_EQ(Dialog().font().family(), QStringLiteral("宋体"));
    EXPECT_EQ(Dialog().font().pointSize(), 9);
    // The console switches between two widths, so the size must not be fixed.
    EXPECT_NE(Dialog().minimumSize(), Dialog().maximumSize());
}

TEST_F(ConsoleTemplate, GroupBoxesKeepTheirAreas)
{
    for (const Area& area : kConsoleAreas) {
        SCOPED_TRACE(area.title);
        QGroupBox* group = GroupByTitle(Dialog(), area.title);
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(RectIn(*group, Dialog()), ToPixels(area.rect));
        EXPECT_EQ(!group->isVisibleTo(&Dialog()), area.hidden);
        EXPECT_EQ(Panel(Dialog())->isAncestorOf(group), area.panel);
    }
}

TEST_F(ConsoleTemplate, ControlsLieInsideTheirGroupBoxes)
{
    for (const Control& row : kConsoleControls) {
        if (row.group == kNoGroup)
            continue;
        SCOPED_TRACE(row.id);
        QGroupBox* group = GroupByTitle(Dialog(), row.group);
        ASSERT_NE(group, nullptr);
        const QRect box = RectIn(*group, Dialog());
        const QRect control = RectIn(ById(row.id), Dialog());
        EXPECT_TRUE(box.contains(control)) << "control outside its group box";
        if (QLabel* label = CaptionLabelFor(Dialog(), ById(row.id))) {
            EXPECT_TRUE(box.contains(RectIn(*label, Dialog()))) << "label outside the group box";
        }
    }
}

// Inside the frame the style draws, so no control sits on a border or title.
TEST_F(ConsoleTemplate, ControlsClearTheFramesOfTheirGroupBoxes)
{
    for (const Control& row : kConsoleControls) {
        if (row.group == kNoGroup || !ById(row.id).isVisibleTo(&Dialog()))
            continue;
        SCOPED_TRACE(row.id);
        QGroupBox* group = GroupByTitle(Dialog(), row.group);
        ASSERT_NE(group, nullptr);
        const QRect inside = FrameInterior(*group).translated(RectIn(*group, Dialog()).topLeft());
        EXPECT_TRUE(inside.contains(RectIn(ById(row.id), Dialog())));
    }
}

TEST_F(ConsoleTemplate, PlacedControlsKeepTheirRectangles)
{
    for (const PlacedControl& placed : kPlacedControls) {
        SCOPED_TRACE(placed.id);
        const QRect actual = RectIn(ById(placed.id), Dialog());
        const QRect expected = ToPixels(placed.rect);
        if (!placed.mayGrow) {
            EXPECT_EQ(actual, expected);
            continue;
        }
        EXPECT_EQ(actual.topLeft(), expected.topLeft());
        EXPECT_GE(actual.width(), expected.width());
        EXPECT_GE(actual.height(), expected.height());
    }
}

TEST_F(ConsoleTemplate, ClockRowStartsWhereTheLayoutSaysAndEndsBeforeItsButton)
{
    int right = DuToPx(kClockRowXDu);
    for (int id : kClockStatics) {
        SCOPED_TRACE(id);
        const QRect r = RectIn(ById(id), Dialog());
        if (id == kClockStatics.front()) {
            EXPECT_EQ(r.x(), right);
        }
        EXPECT_GE(r.x(), right) << "out of order or overlapping";
        EXPECT_EQ(r.y(), DuToPx(kClockRowYDu));
        right = r.x() + r.width();
    }
    EXPECT_LE(right, RectIn(ById(1093), Dialog()).x());
}

TEST_F(ConsoleTemplate, AlarmListIsABorderedReportEndingAtThePanel)
{
    auto* list = qobject_cast<QTreeWidget*>(&ById(1011));
    ASSERT_NE(list, nullptr);
    const QRect expected = ToPixels(kAlarmList);
    const QRect actual = RectIn(*list, Dialog());
    EXPECT_EQ(actual.topLeft(), expected.topLeft());
    EXPECT_EQ(actual.height(), expected.height());
    EXPECT_EQ(actual.x() + actual.width(), 547);  // the narrow layout's edge
    EXPECT_FALSE(list->rootIsDecorated());
    EXPECT_TRUE(list->uniformRowHeights());
    EXPECT_EQ(list->frameShape(), QFrame::StyledPanel);
}

TEST_F(ConsoleTemplate, CalibrationPanelHoldsExactlyTheRightHandControls)
{
    QWidget* panel = Panel(Dialog());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->geometry(), QRect(DuToPx(kPanelLeftDu), 0, kFullWidth - DuToPx(kPanelLeftDu),
                                       kFullHeight));
    QSet<int> expected;
    for (const Control& row : kConsoleControls) {
        if (row.flags & kPanel)
            expected.insert(row.id);
    }
    QSet<int> inPanel;
    for (QWidget* widget : ControlsWithIds(*panel))
        inPanel.insert(widget->objectName().mid(2).toInt());
    EXPECT_EQ(inPanel, expected);
}

// Narrowing the window to 360/537 of its width must hide the whole panel and
// nothing else.
TEST_F(ConsoleTemplate, NarrowLayoutCutsOffThePanelAndOnlyThePanel)
{
    const int narrow = NarrowWidth(kFullWidth);
    EXPECT_EQ(narrow, 547);
    QWidget* panel = Panel(Dialog());
    ASSERT_NE(panel, nullptr);
    EXPECT_GE(panel->x(), narrow);
    for (QWidget* widget : panel->findChildren<QWidget*>()) {
        SCOPED_TRACE(qPrintable(widget->objectName()));
        EXPECT_TRUE(panel->rect().contains(RectIn(*widget, *panel)));
    }
    for (QWidget* widget : Dialog().findChildren<QWidget*>()) {
        if (widget == panel || panel->isAncestorOf(widget) || !widget->parentWidget())
            continue;
        if (widget->parentWidget() != &Dialog() && !qobject_cast<QGroupBox*>(widget->parentWidget()))
            continue;  // inner parts of composite widgets
        SCOPED_TRACE(qPrintable(widget->objectName()));
        const QRect r = RectIn(*widget, Dialog());
        EXPECT_LE(r.x() + r.width(), narrow);
    }
}

TEST_F(ConsoleTemplate, VisibleControlsDoNotOverlapOrStraddleGroupBoxes)
{
    const QList<QWidget*> parents = {&Dialog(), Panel(Dialog())};
    for (QWidget* parent : parents) {
        const QList<QWidget*> controls = VisibleControls(*parent, Dialog());
        for (int i = 0; i < controls.size(); ++i) {
            for (int j = i + 1; j < controls.size(); ++j) {
                EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                    << qPrintable(controls[i]->objectName()) << " overlaps "
                    << qPrintable(controls[j]->objectName());
            }
        }
        for (QGroupBox* group : parent->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
            if (!group->isVisibleTo(&Dialog()))
                continue;
            for (QWidget* control : controls) {
                if (control->geometry().intersects(group->geometry())) {
                    EXPECT_TRUE(group->geometry().contains(control->geometry()))
                        << qPrintable(control->objectName()) << " straddles "
                        << qPrintable(group->title());
                }
            }
        }
    }
}

TEST_F(ConsoleTemplate, VisibleControlsLieInsideTheWindow)
{
    const QRect window = Dialog().rect();
    for (QWidget* widget : Dialog().findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&Dialog()))
            continue;
        SCOPED_TRACE(qPrintable(widget->objectName()));
        EXPECT_TRUE(window.contains(RectIn(*widget, Dialog())));
    }
}
