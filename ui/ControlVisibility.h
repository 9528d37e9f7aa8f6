#pragma once
// Which of the window's controls show, as one pure function of the window's
// state: the top row (Setup, Read/Stop, Save, Load, Print and Export, the
// pulse and respiration panels, Status, Identify, Electrodes, Calibrate,
// Register, Test) and the boxes over the chart. The window keeps the state, calls
// the function after every change and applies what it returns; nothing else
// shows or hides these controls.

struct TWindowState {
  bool recording = false;  // a recording runs (the button reads "Stop")
  bool portOpen = false;
  bool offerOpen = false;             // the offer to save of a stop is being made
  bool unsaved = false;               // the last offer ended without the recording on the disk
  bool recordsShown = false;          // a stopped or loaded recording's records are on the chart
  bool serviceMode = false;           // Ctrl+Shift+S was pressed in this run
  bool twelveChannelChecked = false;  // CheckBox12C in the set-up panel
  // The boxes the user (or a frame) opened and has not closed.
  bool setupBoxOpen = false;
  bool statusBoxOpen = false;
  bool identBoxOpen = false;
  bool registerBoxOpen = false;
};

struct TControlsShown {
  bool setup = false, read = false, save = false, load = false, print = false, exportButton = false;
  bool pulse = false, resp = false, status = false, ident = false, elec = false, cal = false, reg = false;
  bool test = false;
  bool marker = false, heart = false;
  bool readSaysStop = false;
  bool setupBox = false, statusBox = false, identBox = false, registerBox = false, channelBox = true;
  friend bool operator==(const TControlsShown&, const TControlsShown&) = default;
};

// The rules:
//  - Setup: whenever no recording runs, and during one whose port is gone
//    (the way back to a port).
//  - Read/Stop: whenever a port is open; Stop during a recording even
//    without one (a recording must always be ended and offered for saving).
//    Neither while the set-up panel is open: one recording, one set-up.
//  - Save: once an offer to save ended without the recording on the disk,
//    until the next Read.
//  - Load: whenever no recording runs, with or without a port (a recording
//    can be reviewed at a desk without the module).
//  - Print and Export: while a stopped or loaded recording is on the chart.
//  - Pulse, Resp., Status, Identify, Calibrate: during a recording and its
//    offer to save; Electrodes and Register too in service mode, together
//    and only with a port open.
//  - Marker and the tool's heart rate: while a recording runs (where Save,
//    Load and Print stand, which are not shown then; the offer to save
//    shows Load and Print again).
//  - Test: in service mode, with a port open, while nothing else has the
//    port: no recording runs and its offer is answered, the set-up panel
//    is closed (a review bar leaves the button's place free in service
//    mode).
//    The acceptance run takes the port from the window (it opens it with a
//    session of its own) and leaves it closed: Setup is the way on.
//  - The boxes: as opened and closed; the Channels group hidden in
//    twelve-channel mode.
TControlsShown ControlsShown(const TWindowState& state);
