#pragma once
// Which of the window's controls show, as one pure function of the window's
// state: the top row (Setup, Read/Stop, Save, Load, Print and Export, the
// pulse and respiration panels, Status, Identify, Electrodes, Calibrate,
// Register) and the boxes over the chart. The window keeps the state, calls
// the function after every change and applies what it returns; nothing else
// shows or hides these controls.

// Where the window stands, as the user met it last: the situations of the
// window's state table. A set-up's OK during a recording, a port loss and a
// load leave it as it is.
enum class TSituation {
  Start,               // nothing set up yet
  PortOpened,          // a set-up's OK opened the port (no recording running)
  OpenFailed,          // a set-up's OK could not open the port (no recording running)
  Recording,           // Read started a recording (it may have lost its port since)
  StoppedWithRecords,  // the last recording stopped with records
  StoppedEmpty,        // the last recording stopped without any
};

struct TWindowState {
  TSituation situation = TSituation::Start;
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
  bool readSaysStop = false;
  bool setupBox = false, statusBox = false, identBox = false, registerBox = false, channelBox = true;
  friend bool operator==(const TControlsShown&, const TControlsShown&) = default;
};

// The rules:
//  - Setup: whenever no recording runs, and during one whose port is gone
//    (the way back to a port).
//  - Read/Stop: whenever a port is open; Stop during a recording even
//    without one (a recording must always be ended and offered for saving).
//  - Save: once an offer to save ended without the recording on the disk,
//    until the next Read.
//  - Load: after a set-up's OK that opened the port and after a stop with
//    records, never during a recording.
//  - Print and Export: while a stopped or loaded recording is on the chart.
//  - Pulse, Resp., Status, Identify, Calibrate: during a recording and its
//    offer to save; Electrodes and Register too in service mode (Register
//    only with a port open).
//  - The boxes: as opened and closed; the Channels group hidden in
//    twelve-channel mode.
TControlsShown ControlsShown(const TWindowState& state);
