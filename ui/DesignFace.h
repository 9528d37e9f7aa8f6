#pragma once
// The window's face: the designed font with its stand-in, and the narrowing
// of a control's font where the face at hand is wider than the designed one,
// so every caption shows whole in the room its control's place in the
// tables (MainWindowLayout.cpp) gives it.
#include <QFont>
#include <QString>

class QWidget;

// `family` at `points`.
QFont Font(const char* family, int points);

// The designed face ("MS Sans Serif") at `points`. It is missing on most
// desktops; a face of Arial's widths stands in for it, else the toolkit's
// sans-serif face.
QFont DesignFont(int points);

// `font` narrowed where needed so that `widest` fits into `width` pixels.
QFont FittingFont(QFont font, const QString& widest, int width);

// The room a control's style leaves its caption: beside the indicator of a
// check box or radio item, inside the bevel of a button (a pixel of air each
// side), inside a label's frame and indent, right of a group box's title
// start. -1 for other controls.
int CaptionRoom(QWidget* control);

// Narrows the control's font just enough that `widest` (its caption, or a
// longer text a handler writes into it later) shows whole. A group box's
// contents keep the font they had; only its title narrows.
void FitCaption(QWidget* control, const QString& widest);
