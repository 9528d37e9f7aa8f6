// ecg-record: the acquisition without the window, for test benches and
// scripts. See RecorderUsage() for the command line.
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <iostream>

#include "Recorder.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  // Nothing else is safe in a signal handler; the loop reads the byte.
  (void)!::write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
  // A reader of stdout that went away (a closed pipe) makes the summary's
  // write fail, which the recorder reports; it must not end the process
  // with the files half done.
  std::signal(SIGPIPE, SIG_IGN);
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

  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, [&recorder] {
      char byte = 0;
      (void)!::read(signalPipe[0], &byte, 1);
      recorder.RequestStop();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal or SSH session: saved like Ctrl-C.
    sigaction(SIGHUP, &action, nullptr);
  }
  return recorder.Run();
}
