#include "dialog/MessageBoxShape.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// A line may end after these: CJK and Latin punctuation, and a space.
bool BreaksAfter(QChar c) {
  static const QString kPunctuation = QString::fromUtf8("，。；：！？、）」』,.;:!?) ");
  return kPunctuation.contains(c);
}

// Room a message label takes beside its text: its contents margin and the
// pixel QLabel keeps for rounding.
constexpr int kLabelChrome = 8;

QString BreakLine(const QString& line, const QFontMetricsF& metrics, double maxWidth) {
  QString out;
  QString rest = line;
  while (metrics.horizontalAdvance(rest) > maxWidth) {
    int cut = -1;
    for (int i = 0; i < rest.size(); ++i) {
      if (metrics.horizontalAdvance(rest.left(i + 1)) > maxWidth) break;
      if (BreaksAfter(rest.at(i)) && i + 1 < rest.size()) cut = i + 1;
    }
    if (cut < 0) break;  // no place to break: the box wraps it
    out += rest.left(cut).trimmed() + QLatin1Char('\n');
    rest = rest.mid(cut).trimmed();
  }
  return out + rest;
}

void ShapeLabel(QLabel* label, const QFontMetricsF& metrics, double minWidth, double maxWidth) {
  if (!label || label->text().isEmpty()) return;
  label->setText(BreakAtPunctuation(label->text(), metrics, maxWidth));
  const double widest = std::min(WidestLine(label->text(), metrics), maxWidth);
  label->setMinimumWidth(static_cast<int>(std::ceil(std::max(widest, minWidth))) + kLabelChrome);
}

}  // namespace

double BoxEm(const QFontMetricsF& metrics) { return metrics.horizontalAdvance(QChar(0x4E2D)); }

double WidestLine(const QString& text, const QFontMetricsF& metrics) {
  double widest = 0;
  for (const QString& line : text.split(QLatin1Char('\n')))
    widest = std::max(widest, metrics.horizontalAdvance(line));
  return widest;
}

QString BreakAtPunctuation(const QString& text, const QFontMetricsF& metrics, double maxWidth) {
  QStringList lines = text.split(QLatin1Char('\n'));
  for (QString& line : lines) line = BreakLine(line, metrics, maxWidth);
  return lines.join(QLatin1Char('\n'));
}

void ShapeMessageBox(QMessageBox& box) {
  const QFontMetricsF metrics(box.font());
  const double em = BoxEm(metrics);
  const double maxWidth = kBoxMaximumEm * em;
  // The icon stands left of the texts; the texts take the rest of the
  // minimum width.
  const int icon = box.iconPixmap().isNull() ? 0 : box.iconPixmap().width() + static_cast<int>(em);
  const double minText = std::max(0.0, kBoxMinimumEm * em - icon);
  ShapeLabel(box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")), metrics, minText, maxWidth);
  ShapeLabel(box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")), metrics, minText,
             maxWidth);
}
