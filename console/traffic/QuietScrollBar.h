// A scroll bar that is drawn again only when what it shows has changed.
// A list that grows by a row a second moves a long list's slider by a pixel
// now and then; a plain scroll bar is drawn whole at every new row.
#pragma once

#include <QRect>
#include <QScrollBar>

class CQuietScrollBar : public QScrollBar {
  Q_OBJECT

 public:
  using QScrollBar::QScrollBar;

 protected:
  void sliderChange(SliderChange change) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Look {
    QRect slider;
    bool atMinimum = false, atMaximum = false;
    bool operator==(const Look& o) const {
      return slider == o.slider && atMinimum == o.atMinimum && atMaximum == o.atMaximum;
    }
  };
  Look Now() const;
  Look m_shown;  // as last drawn
};
