// Look-ups on a loaded template: controls by id, their kind and caption, the
// labels beside them and their place in the dialog.
#pragma once

#include "template_tables.h"

#include <QList>
#include <QRect>
#include <QString>

class QGroupBox;
class QLabel;
class QWidget;

// The control whose object name is "id<id>", or null.
QWidget* FindById(const QWidget& root, int id);

// Whether the widget is of the Qt class that stands for the kind.
bool IsKind(const QWidget& widget, templates::Kind kind);

// Text of a label, button, check box or radio with line breaks removed.
QString Caption(const QWidget& widget);

// The caption label whose buddy is the widget, or null.
QLabel* CaptionLabelFor(const QWidget& root, const QWidget& widget);

// The label with the same parent that follows the widget on its row, or null.
QLabel* UnitLabelFor(const QWidget& widget);

// The group box with this title, or null.
QGroupBox* GroupByTitle(const QWidget& root, const char* title);

// The widget's rectangle in the coordinates of `root`.
QRect RectIn(const QWidget& widget, const QWidget& root);

// A rectangle in dialog units, in pixels.
QRect ToPixels(const templates::DuRect& du);

// Every descendant of `root` with an object name "id<N>".
QList<QWidget*> ControlsWithIds(const QWidget& root);
