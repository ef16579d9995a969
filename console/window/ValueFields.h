// The main window's value fields and the room their values need.
//
// The template's rectangles are dialog units of 1.5 pixels each; in the
// CJK font that stands in for 宋体 a float field of the template cannot show
// "-1000.000000" whole. So at start-up the window widens its horizontal
// dialog unit, measured with its own font and style, until the longest
// value of every value field fits: positions and widths stay in dialog
// units, heights (and the vertical unit) as the template has them.
#pragma once

class QLineEdit;
class QWidget;

// Pixels inside an edit that its text may take without scrolling, as
// QLineEdit lays it out (frame, contents margins, its own 2-pixel margins).
int EditTextRoom(const QLineEdit& edit);

// How many times wider than the template the horizontal unit must be for
// every value field of `dlg` to show its longest value; at least 1.
double ValueFieldScale(const QWidget& dlg);

// Gives every value edit the room its row leaves unused, before the unit is
// widened: the unit label beside it shrinks to its text, a hidden button's
// place is freed, and the unit and buttons after the edit close up to the
// right, as far as the next control across their row (the calibration
// source's auto-calibration button) or to where the row ended. The edits
// widen into that room, so the unit need not widen as much for them.
void GiveRowRoomToValueFields(QWidget& dlg);

// Scales the x and the width of every control of the template (in group
// boxes and the calibration panel too) and of the window by `scale`.
void WidenDialogUnits(QWidget& dlg, double scale);
