#pragma once
// One run of ecg-record over the acquisition session: set-up, service
// commands, the recording, the save and the summary. Runs the Qt event loop
// of the calling (main) thread; a QCoreApplication must exist.
#include <functional>
#include <iosfwd>

#include "RecorderOptions.h"

enum RecorderExit : int {
  kExitDone = 0,
  kExitUsage = 2,
  kExitPort = 3,
  kExitSilent = 4,
  kExitSave = 5,
};

class TRecorder {
 public:
  // `progressIsTerminal`: redraw the progress line in place rather than
  // writing one line per second.
  TRecorder(RecorderOptions options, std::ostream& out, std::ostream& err, bool progressIsTerminal);

  int Run();
  // Ends the recording as soon as the loop gets to it (Ctrl-C, SIGTERM);
  // what was stored is saved. Main thread only.
  void RequestStop();

 private:
  RecorderOptions options_;
  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  std::function<void()> stop_;
  bool stopRequested_ = false;
};
