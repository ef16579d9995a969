// How a message box lays out its texts so that they read well: as wide as
// its widest line (and never narrower than about 24 em, so its caption shows
// whole), lines too long for the widest box broken after punctuation, never
// inside a run of CJK letters, which Qt would otherwise break anywhere.
#pragma once

#include <QString>

class QFontMetricsF;
class QMessageBox;

// The box's narrowest and widest text, in em (the advance of one CJK letter).
inline constexpr double kBoxMinimumEm = 24;
inline constexpr double kBoxMaximumEm = 40;

double BoxEm(const QFontMetricsF& metrics);
// The advance of the widest line of `text`.
double WidestLine(const QString& text, const QFontMetricsF& metrics);
// `text` with every line wider than `maxWidth` broken after the last
// punctuation that lets its first part fit; a line without such a place
// stays whole (the box then wraps it where it must).
QString BreakAtPunctuation(const QString& text, const QFontMetricsF& metrics, double maxWidth);
// Shapes a box that has its caption, text and informative text: the texts
// broken at punctuation, the labels wide enough for their lines, the box at
// least kBoxMinimumEm wide.
void ShapeMessageBox(QMessageBox& box);
