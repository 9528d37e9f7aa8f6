#pragma once
// One run of ecg-record over the acquisition session: the output name
// checked, the set-up, service commands, the recording (kept in the store
// and saved at the end, or with --stream written to the data file as it
// arrives), the sidecar and the summary. Runs the Qt event loop of the
// calling (main) thread; a QCoreApplication must exist.
#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "RecorderOptions.h"
#include "module/AcquisitionSession.h"

class QSettings;

enum RecorderExit : int {
  kExitDone = 0,
  kExitUsage = 2,  // bad arguments, or an output name that cannot be written
  kExitPort = 3,
  kExitSilent = 4,
  kExitSave = 5,
  kExitDataLost = 6,      // saved, but data were lost on the way (the summary's "integrity")
  kExitNothingSaved = 7,  // the recording ended without a record
  kExitSummary = 8,       // saved, but the summary could not be written to stdout
};

// What a stretch of a recording lost, from the session's figures at its
// start and end: the reasons a saved recording is not whole.
struct IntegrityFigures {
  double seconds = 0;
  long long records = 0;
  double measuredRate = 0;  // sample frames per second the module sent, while the port was there
  int expectedRate = 0;
  bool rateOff = false;
  int portGaps = 0;               // losses of the port (--reconnect) that began in the stretch
  double secondsWithoutPort = 0;  // of the stretch's seconds
  TLineQuality quality;           // counters of the stretch alone
};
// Each a sentence for stderr; empty when nothing was lost.
std::vector<std::string> DataLossReasons(const IntegrityFigures& figures);
// More than 2 % off, as the session's own check.
bool RateIsOffBy(double measured, int expected);

class TRecorder {
 public:
  // `progressIsTerminal`: redraw the progress line in place rather than
  // writing one line per second.
  TRecorder(RecorderOptions options, std::ostream& out, std::ostream& err, bool progressIsTerminal);

  int Run();
  // Ends the recording as soon as the loop gets to it (Ctrl-C, SIGTERM,
  // SIGHUP); what was recorded is saved. Main thread only.
  void RequestStop();
  // Adds the next numbered marker (1..255) at the next record of the
  // running recording, with `text`; ignored outside a recording. Main
  // thread only (SIGUSR1 and the mark input come here).
  void RequestMark(const std::string& text);
  // Lines "mark [TEXT]" read from `fd` during the recording each add a
  // marker (the program gives stdin); other lines are answered on stderr.
  void SetMarkInput(int fd) { markInput_ = fd; }
  // Where calibrations are kept per module and stage; none: not kept, none
  // reused.
  void UseSettings(QSettings* settings) { settings_ = settings; }
  // The length of the stretches the summary reports the integrity of
  // ("per hour"; tests shorten it).
  void SetIntegrityPeriod(std::chrono::milliseconds period) { period_ = period; }
  // With --stream, the store starts over once it holds this many records,
  // all of them written (tests lower it to see it happen).
  void SetStreamRewindAt(int records) { rewindAt_ = records; }

 private:
  RecorderOptions options_;
  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  std::function<void()> stop_;
  std::function<void(const std::string&)> mark_;
  int markInput_ = -1;
  QSettings* settings_ = nullptr;
  bool stopRequested_ = false;
  std::chrono::milliseconds period_ = std::chrono::hours(1);
  int rewindAt_ = SampleStore::kRunLimit / 2;
};
