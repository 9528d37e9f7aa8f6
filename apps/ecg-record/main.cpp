// ecg-record: the acquisition without the window, for test benches and
// scripts. See RecorderUsage() for the command line.
#include <unistd.h>

#include <QCoreApplication>
#include <csignal>
#include <iostream>

#include <fcntl.h>

#include <QSettings>

#include "Recorder.h"
#include "module/QtStopSignals.h"
#include "station/CalibrationMemory.h"

int main(int argc, char** argv) {
  // A reader of stdout that went away (a closed pipe) makes the summary's
  // write fail, which the recorder reports; it must not end the process
  // with the files half done.
  std::signal(SIGPIPE, SIG_IGN);
  // Run in the background of a terminal, a read of stdin (the marks) would
  // stop the whole process with SIGTTIN, recording and all; ignored, the
  // read fails instead and the marks from stdin end.
  std::signal(SIGTTIN, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  RecorderOptions options;
  try {
    options = ParseRecorderOptions(args);
  } catch (const EUsage& error) {
    std::cerr << "ecg-record: " << error.what() << "\n";
    return kExitUsage;
  }
  if (options.help) {
    std::cout << RecorderUsage();
    return kExitDone;
  }
  if (options.version) {
    std::cout << "ecg-record " << ECG_VERSION << "\n";
    return kExitDone;
  }

  QCoreApplication app(argc, argv);
  TRecorder recorder(std::move(options), std::cout, std::cerr, ::isatty(STDERR_FILENO) != 0);

  // A closed terminal or SSH session (SIGHUP) is saved like Ctrl-C.
  RouteStopSignals(app, {SIGINT, SIGTERM, SIGHUP}, [&recorder] { recorder.RequestStop(); });
  // Markers: SIGUSR1 from a script, "mark [TEXT]" lines on stdin.
  RouteStopSignals(app, {SIGUSR1}, [&recorder] { recorder.RequestMark({}); });
  if (::fcntl(STDIN_FILENO, F_GETFD) != -1) recorder.SetMarkInput(STDIN_FILENO);
  // Calibrations kept per module, shared with the window.
  const std::unique_ptr<QSettings> settings = StationSettings();
  recorder.UseSettings(settings.get());
  return recorder.Run();
}
