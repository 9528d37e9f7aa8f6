#pragma once
// The window's controls as data: every control of the main window with its
// object name, caption, parent, place and font size, one row each. TForm1
// builds its controls from these rows (its CreateControls, in
// MainWindowLayout.cpp) and keeps only the binding in MainWindow.cpp.
//
// The design places the controls alike in every screen class; where a
// class's window has no room for a designed place, the class's own place
// stands beside the tables (PlaceIn). The classes' window, status bar and
// chart sizes are WindowGeometry's and ChartLayout's.
//
// What the rows do not say is set beside them in MainWindowLayout.cpp: the
// hints, the radio groups' items, the check boxes' defaults, the value
// panels' colours and which controls start hidden.
#include <QRect>
#include <QSize>
#include <span>
#include <string_view>

#include "chart/ChartLayout.h"

class QWidget;

enum class ControlKind {
  Button,     // QPushButton
  Label,      // QLabel
  Panel,      // QLabel in a raised frame, text centred (the pulse and respiration values)
  CheckBox,   // QCheckBox
  Box,        // QGroupBox, the caption its title
  PortList,   // editable QComboBox, the caption its text
  Choice,     // TRadioGroup, the caption its title
  ClickEdit,  // TClickEdit, the caption its text
};

struct ControlPlace {
  ControlKind kind;
  const char* name;          // object name, by which handlers, tests and the tables find it
  std::string_view caption;  // as created; handlers may write longer texts later
  const char* parent;        // object name of the box it lies in; nullptr: the window
  QRect geometry;            // within the parent
  int points;                // font size; 0 keeps the parent's
};

// The top row, left to right.
std::span<const ControlPlace> TopRowPlaces();
// The set-up panel and its contents.
std::span<const ControlPlace> SetupBoxPlaces();
// The Status, Module Identification and Register Edit boxes with their
// contents.
std::span<const ControlPlace> InfoBoxPlaces();
// In every table a box comes before what lies in it, and the order is the
// order of the Tab key and of stacking (a later control lies over an
// earlier one).

// Where `place` lies in the window of `screen`.
QRect PlaceIn(ScreenClass screen, const ControlPlace& place);

// Creates the control of `place` under `window` (or under the box of that
// name, which must exist), named, placed for `screen`, captioned and in its
// font.
QWidget* CreateControl(QWidget& window, ScreenClass screen, const ControlPlace& place);

// The part of the primary screen windows may take (without the desktop's
// panels).
QSize PrimaryScreenSize();
