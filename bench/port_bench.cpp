// The floor under the window's CPU share: the module's live stream (as the
// window benchmark plays it) into the port alone, and into the main loop
// reading the line itself.
//
//  - port alone: the device layer, the event thread and the hand-over to the
//    Qt main thread, into one link that only counts; once with each
//    hand-over interval given (the window's is 10 ms, 0 is one hand-over per
//    arrival; the drain interval follows it, as the window sets both), and
//    with each feed: the simulator's ECG one sample per write, full-scale
//    sines five samples per write (as a USB adapter delivers them). The
//    port's own threads (the event thread, the device's reader) are shown
//    apart: their CPU share and wake-ups per sample. What the window adds
//    lies on top of this.
//  - main loop reading the line: a socket notifier on the line, no event
//    thread, no hand-over, a handler that only counts. What the port costs
//    beyond it is the price of its queue surviving a stalled main thread.
// Every figure is informational: the targets are the window's.
//
//   port_bench [--seconds 10] [--rate 300] [--intervals 0,10] [--batches 1,5]
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "BenchFigures.h"
#include "ModuleLine.h"
#include "module/QtMainThreadDispatcher.h"
#include "serial/TComPort.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  double seconds = 10;
  double rate = 300;
  std::vector<int> intervals = {0, 10};
  // Samples per write; 1 plays the simulator's ECG, more full-scale sines.
  std::vector<int> batches = {1, 5};
};

std::vector<int> NumberList(const std::string& text) {
  std::vector<int> numbers;
  std::stringstream list(text);
  for (std::string item; std::getline(list, item, ',');) numbers.push_back(std::stoi(item));
  return numbers;
}

LineFeed FeedOf(int samplesPerWrite) { return {samplesPerWrite, samplesPerWrite > 1}; }

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr,
               "port_bench: %s\nusage: port_bench [--seconds S] [--rate R] [--intervals MS,MS...] [--batches N,N...]\n",
               why);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(("missing value after " + arg).c_str());
      return argv[++i];
    };
    try {
      if (arg == "--seconds") {
        o.seconds = std::stod(value());
      } else if (arg == "--rate") {
        o.rate = std::stod(value());
      } else if (arg == "--intervals") {
        o.intervals = NumberList(value());
      } else if (arg == "--batches") {
        o.batches = NumberList(value());
      } else {
        Usage(("unknown argument " + arg).c_str());
      }
    } catch (const std::logic_error&) {
      Usage(("bad value for " + arg).c_str());
    }
  }
  if (o.seconds <= 0 || o.rate <= 0) Usage("seconds and rate must be positive");
  return o;
}

std::string Rate(const Options& o) { return FigureBook::Number(o.rate) + " twelve-channel samples/s"; }

// CPU spent while the module plays a twelve-channel stream into whatever
// reads the pty, the module's own line subtracted.
struct StreamCost {
  double wall = 0;
  double samples = 0;
  double cpu = 0;      // the process
  double mainCpu = 0;  // the main thread
  ThreadUse events;    // the port's event thread
  ThreadUse reader;    // the device's reader thread
};

StreamCost PlayStream(PtyPair& pty, const Options& o, LineFeed feed) {
  ModuleConfig config;
  config.transmission = 3;
  config.channelMask = 0x7F;
  config.chestMask = 0x1F;
  const auto total = static_cast<std::size_t>(std::llround(o.seconds * o.rate));
  ModuleLine line(pty, config, o.rate, total, feed);
  const double cpu0 = ProcessCpuSeconds();
  const double main0 = ThreadCpuSeconds();
  const ThreadUse events0 = ThreadsNamed("ecg-port-events");
  const ThreadUse reader0 = ThreadsNamed("ecg-port-reader");
  const auto wall0 = Clock::now();
  line.Start();
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(o.seconds * 1000) + 50, &loop, &QEventLoop::quit);
  loop.exec();
  line.Join();
  StreamCost cost;
  cost.events = ThreadsNamed("ecg-port-events") - events0;
  cost.reader = ThreadsNamed("ecg-port-reader") - reader0;
  cost.wall = std::chrono::duration<double>(Clock::now() - wall0).count();
  cost.samples = static_cast<double>(line.Written());
  cost.cpu = ProcessCpuSeconds() - cpu0 - line.FinalCpuSeconds();
  cost.mainCpu = ThreadCpuSeconds() - main0;
  return cost;
}

void RunPort(const Options& o, int interval, LineFeed feed) {
  PtyPair pty;
  QWidget stage;  // a shown window, as the tool has one
  stage.resize(800, 600);
  stage.show();
  QtMainThreadDispatcher dispatcher;
  TComPort port(&dispatcher);
  port.SetPort(pty.SlavePath());
  port.SetBaudRate(br115200);
  port.Parity().SetBits(prEven);
  port.Buffer().SetInputSize(120000);
  port.SetHandOverInterval(interval);
  port.SetDrainInterval(interval);
  TComLink counter;
  long long chunks = 0;
  counter.OnRxBuf = [&chunks](TCustomComPort&, const char*, int) { ++chunks; };
  port.RegisterLink(counter);
  port.Open();
  const StreamCost cost = PlayStream(pty, o, feed);
  port.Close();
  port.UnregisterLink(counter);
  const std::string name = "port alone, " + Rate(o) + ", " + feed.Name() + ", hand-over and drain interval " +
                           std::to_string(interval) + " ms";
  FigureBook& book = FigureBook::Instance();
  book.Record(name + ": CPU share", 100.0 * cost.cpu / cost.wall, "% of a core", FigureTarget::Informational(),
              std::to_string(chunks) + " deliveries");
  book.Record(name + ": of which main thread", 100.0 * cost.mainCpu / cost.wall, "% of a core",
              FigureTarget::Informational());
  for (const auto& [thread, use] : {std::pair{"event thread", cost.events}, std::pair{"reader", cost.reader}}) {
    book.Record(name + ": of which " + thread, 100.0 * use.cpuSeconds / cost.wall, "% of a core",
                FigureTarget::Informational(),
                FigureBook::Number(static_cast<double>(use.wakeUps) / std::max(1.0, cost.samples)) +
                    " wake-ups per sample");
  }
}

int RunMainLoopReading(const Options& o, LineFeed feed) {
  PtyPair pty;
  QWidget stage;
  stage.resize(800, 600);
  stage.show();
  const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 2;
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);
  long long chunks = 0;
  QSocketNotifier notifier(fd, QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&chunks, fd] {
    char buffer[4096];
    while (::read(fd, buffer, sizeof buffer) > 0) ++chunks;
  });
  const StreamCost cost = PlayStream(pty, o, feed);
  notifier.setEnabled(false);
  ::close(fd);
  FigureBook::Instance().Record("main loop reading the line, " + Rate(o) + ", " + feed.Name() + ": CPU share",
                                100.0 * cost.cpu / cost.wall, "% of a core", FigureTarget::Informational(),
                                std::to_string(chunks) + " reads");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int status = 0;
  try {
    QApplication app(argc, argv);
    for (int batch : options.batches) {
      for (int interval : options.intervals) RunPort(options, interval, FeedOf(batch));
      status = std::max(status, RunMainLoopReading(options, FeedOf(batch)));
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "port_bench: %s\n", error.what());
    status = 2;
  }
  const int missed = FigureBook::Instance().PrintSummary("port");
  if (status == 2) return 2;
  return missed > 0 ? 1 : 0;
}
