#include "window/ValueFields.h"

#include <QFontMetricsF>
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <vector>

#include "resource.h"

namespace {

// The longest text each value field shows: "%f" of a float, "%.2f" of the
// length (hundredths up to 655.35) and of the hidden current.
constexpr char kLongestFloat[] = "-1000.000000";
struct ValueField {
  int id;
  const char* longest;
};
constexpr ValueField kValueFields[] = {
    {IDC_LINE_LENGTH, "655.35"},          {IDC_CURRENT, "-1000.00"},
    {IDC_RESISTIVITY, kLongestFloat},     {IDC_A0_RESISTANCE, kLongestFloat},
    {IDC_LINE_RESISTANCE, kLongestFloat}, {IDC_SOURCE_VOLTAGE1, kLongestFloat},
    {IDC_SOURCE_VOLTAGE2, kLongestFloat}, {IDC_A0_CAL_VOLTAGE1, kLongestFloat},
    {IDC_A0_CAL_VOLTAGE2, kLongestFloat}, {IDC_A1_CAL_VOLTAGE1, kLongestFloat},
    {IDC_A1_CAL_VOLTAGE2, kLongestFloat}, {IDC_A2_CAL_VOLTAGE1, kLongestFloat},
    {IDC_A2_CAL_VOLTAGE2, kLongestFloat}, {IDC_A0_COEFFICIENT, kLongestFloat},
    {IDC_A1_COEFFICIENT1, kLongestFloat}, {IDC_A1_COEFFICIENT2, kLongestFloat},
    {IDC_A1_COEFFICIENT3, kLongestFloat}, {IDC_A1_COEFFICIENT4, kLongestFloat},
    {IDC_A2_COEFFICIENT, kLongestFloat},
};

constexpr int kLineEditMargin = 2;  // QLineEdit's own, on either side
constexpr int kRowGap = 2;     // between the controls of a row closed up
constexpr int kAcrossGap = 6;  // before a control that stands across the row
constexpr int kUnitAir = 2;    // beside a unit label's text

// A field's width against the width its longest value needs, both in pixels.
struct Need {
  int width = 0;
  int needed = 0;
};

Need NeedOf(const QWidget& field, const QString& text) {
  const double advance = QFontMetricsF(field.font()).horizontalAdvance(text);
  if (const auto* edit = qobject_cast<const QLineEdit*>(&field)) {
    // QLineEdit scrolls once the rounded advance plus the cursor's pixel
    // is wider than its text room.
    const int chrome = edit->width() - EditTextRoom(*edit);
    return {edit->width(), static_cast<int>(std::lround(advance)) + 1 + chrome};
  }
  const auto& label = static_cast<const QLabel&>(field);
  const int chrome = label.width() - label.contentsRect().width();
  return {label.width(), static_cast<int>(std::ceil(advance)) + chrome};
}

// Controls of the template: the window's, and those inside its group boxes
// and its calibration panel; never a control's own inner widgets.
bool HoldsTemplateControls(const QWidget& w) {
  return qobject_cast<const QGroupBox*>(&w) || w.metaObject() == &QWidget::staticMetaObject;
}

int Scaled(int value, double scale) { return static_cast<int>(std::lround(value * scale)); }

void WidenChildren(QWidget& parent, double scale) {
  for (QWidget* child : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->isWindow()) continue;
    const QRect r = child->geometry();
    const int left = Scaled(r.x(), scale);
    child->setGeometry(left, r.y(), Scaled(r.x() + r.width(), scale) - left, r.height());
    if (HoldsTemplateControls(*child)) WidenChildren(*child, scale);
  }
}

// A row's controls after its value edit: the unit label and the buttons
// that follow it, on the same line and of the same height.
bool OnRowOf(const QWidget& w, const QWidget& edit) {
  return std::abs(w.y() - edit.y()) <= 1 && w.height() == edit.height() && w.x() > edit.x();
}

std::vector<QWidget*> RowAfter(const QWidget& edit) {
  std::vector<QWidget*> row;
  for (QWidget* w : edit.parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (!w->isWindow() && OnRowOf(*w, edit)) row.push_back(w);
  std::sort(row.begin(), row.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
  // The unit first, then buttons; the next field's caption ends the part.
  std::vector<QWidget*> part;
  for (QWidget* w : row) {
    const bool unit = part.empty() && qobject_cast<QLabel*>(w);
    if (!unit && !qobject_cast<QAbstractButton*>(w)) break;
    part.push_back(w);
  }
  return part;
}

// Where the row's part may end: before a control that stands across the row
// (taller or offset), or where its last shown control ends.
int RowLimit(const QWidget& edit, const std::vector<QWidget*>& part) {
  int end = edit.geometry().right();
  for (QWidget* w : part)
    if (!w->isHidden()) end = std::max(end, w->geometry().right());
  int nearest = INT_MAX;
  for (QWidget* w : edit.parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w->isHidden() || w->isWindow() || HoldsTemplateControls(*w) || w->x() <= end) continue;
    // Another field of the row after this one: its column keeps its place.
    if (OnRowOf(*w, edit)) return end;
    if (w->y() <= edit.geometry().bottom() && w->geometry().bottom() >= edit.y())
      nearest = std::min(nearest, w->x());
  }
  return nearest == INT_MAX ? end : std::max(end, nearest - kAcrossGap - 1);
}

void GiveRowRoom(QLineEdit& edit) {
  const std::vector<QWidget*> part = RowAfter(edit);
  int right = RowLimit(edit, part);
  for (auto it = part.rbegin(); it != part.rend(); ++it) {
    QWidget* w = *it;
    if (w->isHidden()) continue;
    int width = w->width();
    if (auto* unit = qobject_cast<QLabel*>(w))
      width = std::min(width, static_cast<int>(std::ceil(QFontMetricsF(unit->font())
                                                              .horizontalAdvance(unit->text()))) +
                                  unit->width() - unit->contentsRect().width() + kUnitAir);
    w->setGeometry(right - width + 1, w->y(), width, w->height());
    right = w->x() - kRowGap - 1;
  }
  // Never narrower than the template made it.
  edit.resize(std::max(edit.width(), right - edit.x() + 1), edit.height());
}

}  // namespace

void GiveRowRoomToValueFields(QWidget& dlg) {
  for (const ValueField& field : kValueFields)
    if (auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("id%1").arg(field.id)))
      if (!edit->isHidden() && edit->parentWidget()) GiveRowRoom(*edit);
}

int EditTextRoom(const QLineEdit& edit) {
  QStyleOptionFrame option;
  option.initFrom(&edit);
  option.rect = edit.rect();
  option.lineWidth =
      edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit) : 0;
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  const QRect contents = edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
  const QMargins margins = edit.textMargins();
  return contents.width() - margins.left() - margins.right() - 2 * kLineEditMargin;
}

double ValueFieldScale(const QWidget& dlg) {
  double scale = 1.0;
  for (const ValueField& field : kValueFields) {
    const auto* widget = dlg.findChild<QWidget*>(QStringLiteral("id%1").arg(field.id));
    if (!widget || widget->width() <= 0) continue;
    const Need need = NeedOf(*widget, QString::fromUtf8(field.longest));
    // The chrome does not grow with the unit, so this is a little more than
    // needed; one pixel more makes up for rounding the edges.
    scale = std::max(scale, (need.needed + 1.0) / need.width);
  }
  return scale;
}

void WidenDialogUnits(QWidget& dlg, double scale) {
  if (scale <= 1.0) return;
  WidenChildren(dlg, scale);
  dlg.resize(Scaled(dlg.width(), scale), dlg.height());
}
