#include "ui/ControlVisibility.h"

TControlsShown ControlsShown(const TWindowState& s) {
  TControlsShown shown;
  const bool stopped = !s.recording;
  // The recording's own controls stay until its offer to save is answered.
  const bool recordingControls = s.recording || s.offerOpen;

  shown.setup = stopped || !s.portOpen;
  shown.read = (s.recording || s.portOpen) && !s.setupBoxOpen;
  shown.readSaysStop = s.recording;
  shown.save = stopped && s.unsaved;
  shown.load = stopped;
  shown.print = shown.exportButton = stopped && s.recordsShown;
  shown.pulse = shown.resp = shown.status = shown.ident = shown.cal = recordingControls;
  // Both send to the module: they come and go together, with the port.
  shown.elec = shown.reg = recordingControls && s.serviceMode && s.portOpen;
  shown.test = stopped && !s.offerOpen && s.serviceMode && s.portOpen && !s.setupBoxOpen;
  shown.marker = shown.heart = s.recording;

  shown.setupBox = s.setupBoxOpen;
  shown.statusBox = s.statusBoxOpen;
  shown.identBox = s.identBoxOpen;
  shown.registerBox = s.registerBoxOpen;
  shown.channelBox = !s.twelveChannelChecked;
  return shown;
}
