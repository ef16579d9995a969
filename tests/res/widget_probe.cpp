#include "widget_probe.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTreeWidget>

#include <limits>

using templates::Kind;

QWidget* FindById(const QWidget& root, int id)
{
    return root.findChild<QWidget*>(QStringLiteral("id%1").arg(id));
}

bool IsKind(const QWidget& widget, Kind kind)
{
    switch (kind) {
    case Kind::Edit: return qobject_cast<const QLineEdit*>(&widget) != nullptr;
    case Kind::Combo: return qobject_cast<const QComboBox*>(&widget) != nullptr;
    case Kind::PushButton: return qobject_cast<const QPushButton*>(&widget) != nullptr;
    case Kind::CheckBox: return qobject_cast<const QCheckBox*>(&widget) != nullptr;
    case Kind::Radio: return qobject_cast<const QRadioButton*>(&widget) != nullptr;
    case Kind::Static: return qobject_cast<const QLabel*>(&widget) != nullptr;
    case Kind::List: return qobject_cast<const QTreeWidget*>(&widget) != nullptr;
    case Kind::Progress: return qobject_cast<const QProgressBar*>(&widget) != nullptr;
    }
    return false;
}

QString Caption(const QWidget& widget)
{
    QString text;
    if (auto* label = qobject_cast<const QLabel*>(&widget))
        text = label->text();
    else if (auto* button = qobject_cast<const QAbstractButton*>(&widget))
        text = button->text();
    else if (auto* group = qobject_cast<const QGroupBox*>(&widget))
        text = group->title();
    return text.remove(QLatin1Char('\n'));
}

QLabel* CaptionLabelFor(const QWidget& root, const QWidget& widget)
{
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (label->buddy() == &widget)
            return label;
    }
    return nullptr;
}

QLabel* UnitLabelFor(const QWidget& widget)
{
    const QWidget* parent = widget.parentWidget();
    const QRect field = widget.geometry();
    QLabel* nearest = nullptr;
    int nearestGap = std::numeric_limits<int>::max();
    for (QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        const QRect r = label->geometry();
        const int gap = r.left() - field.right();
        const bool sameRow = r.center().y() >= field.top() && r.center().y() <= field.bottom();
        if (sameRow && gap > 0 && gap < nearestGap) {
            nearest = label;
            nearestGap = gap;
        }
    }
    return nearest;
}

QGroupBox* GroupByTitle(const QWidget& root, const char* title)
{
    for (QGroupBox* group : root.findChildren<QGroupBox*>()) {
        if (group->title() == QString::fromUtf8(title))
            return group;
    }
    return nullptr;
}

QRect RectIn(const QWidget& widget, const QWidget& root)
{
    return QRect(widget.mapTo(&root, QPoint(0, 0)), widget.size());
}

QRect ToPixels(const templates::DuRect& du)
{
    using templates::DuToPx;
    return QRect(DuToPx(du.x), DuToPx(du.y), DuToPx(du.w), DuToPx(du.h));
}

QList<QWidget*> ControlsWithIds(const QWidget& root)
{
    static const QRegularExpression idName(QStringLiteral("^id\\d+$"));
    return root.findChildren<QWidget*>(idName);
}
