#include "traffic/QuietScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

CQuietScrollBar::Look CQuietScrollBar::Now() const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  // The step arrows are greyed at either end.
  return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
          value() == minimum(), value() == maximum()};
}

void CQuietScrollBar::sliderChange(SliderChange change) {
  // Value, range and steps show only through the slider and the arrows.
  if (change != SliderOrientationChange && Now() == m_shown) return;
  QScrollBar::sliderChange(change);
}

void CQuietScrollBar::paintEvent(QPaintEvent* event) {
  m_shown = Now();
  QScrollBar::paintEvent(event);
}
