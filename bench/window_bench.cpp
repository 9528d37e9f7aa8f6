// The real window under a live stream, and its files.
//
// Live: the window TForm1, shown (offscreen, or on an X server), is set up
// through its own handlers (Setup, the port typed into the port box, the
// twelve-channel box, 300 / sec, OK, Read) on a pseudo-terminal registered as
// a virtual port in a private XDG_RUNTIME_DIR. A thread of this program plays
// the module on the terminal's other end, the status, chest status, pulse and
// respiration frames once a second and the samples in one of two feeds:
//  - ecg: the simulator's ECG, one sample every 1/300 s (sample and chest
//    frame in one write, as the module simulator writes them);
//  - sines: full-scale sines on every channel, five samples per write, as a
//    USB adapter delivers them (the dearest to draw, the fewest arrivals);
// each write stamped with the steady clock once the kernel has the bytes.
// Measured over the run (after a warm-up):
//  - the CPU share of the tool: the process's CPU time (all threads: the main
//    thread, the port's event thread, the device reader) minus the CPU time
//    of the thread playing the module; and the tool's thread wake-ups per
//    sample, which is what that share mostly pays for; both also per thread
//    (main, the port's event thread and reader, the toolkit's others);
//  - repaints of the chart widget per second (an event filter counting its
//    paint events), and the 99th percentile of the gap between two repaints
//    while data flows;
//  - latency: from the write of a sample's last byte to the end of the packet
//    handler that plotted its record (a hook around the sample and chest
//    framers' OnPacket); also, for information, to the first repaint of the
//    chart after that.
// Files: the window's Save of a full run (80000 records, confirmed, both
// files written) and its Load of the data file (status text and plotting per
// record), each timed, and the process's peak resident memory afterwards.
// The floor the window's share stands on (the port alone, the main loop
// reading the line itself) is port_bench's.
//
//   window_bench [--phase all|files|live] [--seconds 30] [--warmup 2]
//                [--rate 300] [--channels 12|8] [--screen-width 1280]
//                [--feeds ecg,sines] [--drain-interval MS] [--server-pid PID]
//
// Offscreen unless QT_QPA_PLATFORM says otherwise. Under Xvfb:
//   Xvfb :57 -screen 0 1920x1080x24 & XVFB=$!
//   DISPLAY=:57 QT_QPA_PLATFORM=xcb window_bench --phase live --server-pid $XVFB
// (--server-pid adds the X server's CPU share over the same time, for
// information; scripts/run-benchmarks --xvfb does all of this).
// Exit status: 0 when every figure met its target, 1 otherwise, 2 when the
// run could not be made.
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QPaintEvent>
#include <QRadioButton>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchFigures.h"
#include "ModuleLine.h"
#include "module/QtMainThreadDispatcher.h"
#include "recording/Dialogs.h"
#include "serial/TComPort.h"
#include "serial/VirtualPortDirectory.h"
#include "simulator/CommandParser.h"
#include "simulator/ModuleFrames.h"
#include "simulator/SyntheticEcg.h"
#include "store/SampleStore.h"
#include "testsupport/FakeDialogs.h"
#include "testsupport/PtyPair.h"
#include "ui/ChartView.h"
#include "ui/MainWindow.h"
#include "ui/RadioGroup.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
  std::string phase = "all";
  double seconds = 30;
  double warmup = 2;
  double rate = 300;
  int channels = 12;
  int screenWidth = 1280;
  int serverPid = 0;
  int drainInterval = -1;  // the session's own unless given
  std::vector<LineFeed> feeds = {LineFeed{1, false}, LineFeed{5, true}};
};

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr,
               "window_bench: %s\nusage: window_bench [--phase all|files|live] [--seconds S] [--warmup S] [--rate R]\n"
               "                    [--channels 12|8] [--screen-width W] [--feeds ecg,sines] [--drain-interval MS]\n"
               "                    [--server-pid PID]\n",
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
      if (arg == "--phase") o.phase = value();
      else if (arg == "--seconds") o.seconds = std::stod(value());
      else if (arg == "--warmup") o.warmup = std::stod(value());
      else if (arg == "--rate") o.rate = std::stod(value());
      else if (arg == "--channels") o.channels = std::stoi(value());
      else if (arg == "--screen-width") o.screenWidth = std::stoi(value());
      else if (arg == "--server-pid") o.serverPid = std::stoi(value());
      else if (arg == "--drain-interval") o.drainInterval = std::stoi(value());
      else if (arg == "--feeds") {
        o.feeds.clear();
        std::stringstream list(value());
        for (std::string item; std::getline(list, item, ',');) {
          if (item == "ecg") o.feeds.push_back(LineFeed{1, false});
          else if (item == "sines") o.feeds.push_back(LineFeed{5, true});
          else Usage("feeds are ecg and sines");
        }
      }
      else Usage(("unknown argument " + arg).c_str());
    } catch (const std::logic_error&) {
      Usage(("bad value for " + arg).c_str());
    }
  }
  if (o.phase != "all" && o.phase != "live" && o.phase != "files") Usage("phase must be all, live or files");
  if (o.channels != 12 && o.channels != 8) Usage("channels must be 12 or 8");
  if (o.seconds <= 0 || o.rate <= 0 || o.warmup < 0) Usage("seconds and rate must be positive");
  return o;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return std::nan("");
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
  return values[std::min(values.size() - 1, at == 0 ? 0 : at - 1)];
}

// Spins the event loop until `condition` holds or `timeout` passed.
// Sleeps in the event loop between looks (processEvents with a time limit
// would not wait for events but spin, heating the cores the figures share).
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s) {
  const auto deadline = Clock::now() + timeout;
  QTimer look;
  look.start(5);
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// CPU seconds (user + system) of another process, from /proc/<pid>/stat.
std::optional<double> OtherProcessCpuSeconds(int pid) {
  if (pid <= 0) return std::nullopt;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::vector<std::string> fields;
  std::size_t at = close + 2;
  while (at < text.size()) {
    const std::size_t space = text.find(' ', at);
    fields.push_back(text.substr(at, space - at));
    if (space == std::string::npos) break;
    at = space + 1;
  }
  // After the command: state is field 3, utime 14 and stime 15 (1-based).
  if (fields.size() < 13) return std::nullopt;
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  return (std::stod(fields[11]) + std::stod(fields[12])) / ticks;
}

// Voluntary context switches (the thread went to sleep and was woken) of a
// thread of this process, or of all its threads for tid 0.
long long VoluntarySwitches(long tid) {
  if (tid == 0) {
    long long sum = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error))
      sum += VoluntarySwitches(std::stol(task.path().filename().string()));
    return sum;
  }
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stoll(line.substr(24));
  }
  return 0;
}

// The benchmark's dialogs answer from their queues (the save is confirmed
// only once the run asks for it); what the window says goes to stderr too.
void TellMessagesOnStderr(FakeDialogs& dialogs) {
  dialogs.whileOpen = [](const FakeDialogs::Shown& shown) {
    if (shown.kind == "message")
      std::fprintf(stderr, "window_bench: the window said \"%s\" (%s)\n", shown.text.c_str(), shown.caption.c_str());
  };
}

// XDG_RUNTIME_DIR pointed at a fresh folder, so the benchmark's virtual port
// meets no other; removed again at the end.
class PrivateRuntimeDir {
 public:
  PrivateRuntimeDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ecg-window-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
  }
  ~PrivateRuntimeDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Notes the time of every paint event of the chart widget.
class PaintProbe : public QObject {
 public:
  explicit PaintProbe(QWidget& chart) { chart.installEventFilter(this); }
  std::vector<Clock::time_point> paints;
  std::vector<long long> pixels;  // area each repaint covered

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      paints.push_back(Clock::now());
      long long area = 0;
      for (const QRect& r : static_cast<QPaintEvent*>(event)->region())
        area += static_cast<long long>(r.width()) * r.height();
      pixels.push_back(area);
    }
    return QObject::eventFilter(watched, event);
  }
};

QAbstractButton* Button(QWidget& form, const char* name) {
  auto* button = form.findChild<QAbstractButton*>(QString::fromLatin1(name));
  if (!button) throw std::runtime_error(std::string("no control named ") + name);
  return button;
}

void Click(QWidget& form, const char* name) {
  QAbstractButton* button = Button(form, name);
  if (!button->isVisible() || !button->isEnabled()) throw std::runtime_error(std::string(name) + " cannot be clicked");
  button->click();
}

void SetChecked(QWidget& form, const char* name, bool checked) {
  QAbstractButton* box = Button(form, name);
  if (box->isChecked() != checked) box->click();
}

// Setup, the port typed into the port box, the choices, OK: what a user does.
// Returns the set-up command the module received.
ModuleConfig SetUpThroughHandlers(TForm1& form, PtyPair& pty, const std::string& portPath, int channels) {
  Click(form, "SetupButton");
  auto* combo = form.findChild<QComboBox*>(QStringLiteral("ComSetupBox"));
  if (!combo) throw std::runtime_error("no port box");
  combo->setEditText(QString::fromStdString(portPath));
  auto* trans = form.findChild<TRadioGroup*>(QStringLiteral("TransBox"));
  if (!trans || !trans->Button(3)) throw std::runtime_error("no transmission choice");
  trans->Button(3)->click();  // 300 / sec
  SetChecked(form, "CheckBox12C", channels == 12);
  if (channels == 8) {
    for (const char* name : {"CH_I", "CH_II", "CH_III", "CH_VR", "CH_VL", "CH_VF", "CH_C1", "CH_RE"})
      SetChecked(form, name, true);
  }
  Click(form, "SetupOKButton");
  const std::vector<unsigned char> bytes = pty.Read(18, 10s);
  CommandParser parser;
  for (const ModuleCommand& command : parser.Feed(std::string(bytes.begin(), bytes.end()))) {
    if (command.kind == CommandKind::Setup) return command.setup;
  }
  throw std::runtime_error("the module received no set-up command");
}

// A record the window plotted: the sequence byte of the frame whose handler
// plotted it (sample and chest frame of one sample carry the same), and when
// that handler returned.
struct Plotted {
  std::uint8_t sequence;
  Clock::time_point at;
};

// Puts a stamp behind the handlers of the frames that can complete a record:
// the sample frame, and in twelve-channel mode the chest frame (whichever of
// the two is handled last completes the record and plots it). One handler
// may complete more than one record (a chest frame that pairs with a sample
// handled before it): each gets its stamp, the newest the frame's sequence
// byte and those before it the bytes before.
void HookPlotting(TForm1& form, std::vector<Plotted>& log) {
  auto plottedCount = std::make_shared<int>(0);
  for (TComDataPacket* framer : {&form.SampleFramer(), &form.ChestFramer()}) {
    framer->OnPacket = [&form, &log, plottedCount, inner = std::move(framer->OnPacket)](TComDataPacket& sender,
                                                                                        const std::string& packet) {
      if (inner) inner(sender, packet);
      if (form.Store().Settings().state != AcquisitionState::Receiving) {
        *plottedCount = 0;
        return;
      }
      const int plotted = form.Store().Count() - (form.Session().NewestRecordComplete() ? 0 : 1);
      const auto sequence = packet.size() > 1 ? static_cast<std::uint8_t>(packet[1]) : std::uint8_t{0};
      const auto now = Clock::now();
      for (int record = *plottedCount + 1; record <= plotted; ++record)
        log.push_back(Plotted{
            static_cast<std::uint8_t>((sequence + kSequenceModulus - (plotted - record) % kSequenceModulus) %
                                      kSequenceModulus),
            now});
      *plottedCount = std::max(*plottedCount, plotted);
    };
  }
}

struct Snapshot {
  Clock::time_point wall;
  double processCpu = 0;
  double mainCpu = 0;
  double moduleCpu = 0;
  ThreadUse main, events, reader;
  std::optional<double> serverCpu;
  std::size_t paints = 0;
  std::size_t plotted = 0;
  std::size_t panelPaints = 0;
  long long switches = 0;        // voluntary context switches of the threads alive
  long long moduleSwitches = 0;  // those of the thread playing the module
};

int RunLive(const Options& o, LineFeed feed) {
  PtyPair pty;
  ScopedVirtualPort port(VirtualPortDirectory(), "ECG-BENCH", pty.SlavePath());
  FakeDialogs dialogs;
  TellMessagesOnStderr(dialogs);
  TForm1 form(dialogs, o.screenWidth);
  form.show();
  if (!WaitUntil([&] { return form.windowHandle() && form.windowHandle()->isExposed(); })) {
    std::fprintf(stderr, "window_bench: the window was never shown\n");
    return 2;
  }
  PaintProbe paints(form.ChartView());
  // The status bar's panels: each repaint lays out and draws its text.
  std::vector<std::unique_ptr<PaintProbe>> panelPaints;
  for (int i = 0; i < 7; ++i) {
    if (auto* panel = form.findChild<QWidget*>(QStringLiteral("StatusPanel%1").arg(i)))
      panelPaints.push_back(std::make_unique<PaintProbe>(*panel));
  }
  auto panelPaintCount = [&panelPaints] {
    std::size_t n = 0;
    for (const auto& probe : panelPaints) n += probe->paints.size();
    return n;
  };
  std::vector<Plotted> plotted;
  const auto total = static_cast<std::size_t>(std::llround((o.warmup + o.seconds) * o.rate));
  plotted.reserve(total + 64);
  paints.paints.reserve(static_cast<std::size_t>((o.warmup + o.seconds + 5) * 100));
  paints.pixels.reserve(paints.paints.capacity());
  HookPlotting(form, plotted);
  ModuleConfig config;
  try {
    config = SetUpThroughHandlers(form, pty, port.Path(), o.channels);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "window_bench: set-up failed: %s\n", error.what());
    return 2;
  }
  if (config.TwelveChannel() != (o.channels == 12) || config.NominalRate() != 300) {
    std::fprintf(stderr, "window_bench: the window asked for %d samples/s, %s\n", config.NominalRate(),
                 config.TwelveChannel() ? "twelve channels" : "eight channels");
    return 2;
  }
  if (o.drainInterval >= 0) form.Port().SetDrainInterval(o.drainInterval);
  Click(form, "ReadButton");
  WaitUntil([] { return false; }, 300ms);  // let the fresh frame be shown before the stream starts

  ModuleLine line(pty, config, o.rate, total, feed);
  Snapshot begin, end;
  auto take = [&](Snapshot& s) {
    s.wall = Clock::now();
    s.processCpu = ProcessCpuSeconds();
    s.mainCpu = ThreadCpuSeconds();
    s.main = ThreadUse{s.mainCpu, VoluntarySwitches(static_cast<long>(gettid())), 1};
    s.events = ThreadsNamed("ecg-port-events");
    s.reader = ThreadsNamed("ecg-port-reader");
    s.moduleCpu = line.CpuSeconds();
    s.serverCpu = OtherProcessCpuSeconds(o.serverPid);
    s.paints = paints.paints.size();
    s.panelPaints = panelPaintCount();
    s.plotted = plotted.size();
    s.switches = VoluntarySwitches(0);
    s.moduleSwitches = line.ThreadId() != 0 ? VoluntarySwitches(line.ThreadId()) : 0;
  };

  QEventLoop loop;
  bool measuring = false;
  bool ended = false;
  QTimer::singleShot(static_cast<int>(o.warmup * 1000), &form, [&] {
    take(begin);
    measuring = true;
  });
  QTimer::singleShot(static_cast<int>((o.warmup + o.seconds) * 1000), &form, [&] {
    take(end);
    ended = true;
    loop.quit();
  });
  line.Start();
  loop.exec();
  // The last frames still on their way, then Stop (the offer to save is declined).
  WaitUntil([&] { return line.Written() == total && plotted.size() >= total; }, 10s);
  line.Abort();
  line.Join();
  WaitUntil([] { return false; }, 100ms);
  if (form.Store().Settings().state == AcquisitionState::Receiving) Click(form, "ReadButton");
  if (!measuring || !ended || line.Failed()) {
    std::fprintf(stderr, "window_bench: the run was cut short\n");
    return 2;
  }

  // ---- figures ----
  const double wall = Seconds(end.wall - begin.wall);
  const double moduleCpu = end.moduleCpu - begin.moduleCpu;
  const double toolCpu = (end.processCpu - begin.processCpu) - moduleCpu;
  const std::string mode = std::to_string(o.channels) + "-channel";
  const std::string platform = QGuiApplication::platformName().toStdString();
  const std::string where = mode + ", " + FigureBook::Number(o.rate) + "/s, " + feed.Name() + ", " + platform;

  FigureBook& book = FigureBook::Instance();
  // On an X server the toolkit's own traffic adds to the share; the sines
  // are dearer to draw.
  const double shareTarget = feed.fullScaleSines ? 2.0 : platform == "offscreen" ? 1.2 : 1.5;
  book.Record("window " + where + ": CPU share of the tool", 100.0 * toolCpu / wall, "% of a core",
              FigureTarget::AtMost(shareTarget), "over " + FigureBook::Number(wall) + " s");
  book.Record("window " + where + ": hand-over interval of its port", form.Port().HandOverInterval(), "ms",
              FigureTarget::Informational());
  book.Record("window " + where + ": drain interval of its port", form.Port().DrainInterval(), "ms",
              FigureTarget::Informational());
  book.Record("window " + where + ": module's line (subtracted)", 100.0 * moduleCpu / wall, "% of a core",
              FigureTarget::Informational());
  const double samplesMeasured = std::max(1.0, static_cast<double>(end.plotted - begin.plotted));
  book.Record("window " + where + ": thread wake-ups of the tool per sample",
              static_cast<double>((end.switches - begin.switches) - (end.moduleSwitches - begin.moduleSwitches)) /
                  samplesMeasured,
              "", FigureTarget::AtMost(0.7));
  // Thread by thread: the toolkit's own threads are what is left.
  const ThreadUse main = end.main - begin.main, events = end.events - begin.events,
                  reader = end.reader - begin.reader;
  const ThreadUse others{toolCpu - main.cpuSeconds - events.cpuSeconds - reader.cpuSeconds,
                         (end.switches - begin.switches) - (end.moduleSwitches - begin.moduleSwitches) - main.wakeUps -
                             events.wakeUps - reader.wakeUps,
                         0};
  for (const auto& [thread, use] : {std::pair{"main thread", main}, std::pair{"port's event thread", events},
                                    std::pair{"port's reader", reader}, std::pair{"toolkit's threads", others}}) {
    book.Record("window " + where + ": " + thread, 100.0 * use.cpuSeconds / wall, "% of a core",
                FigureTarget::Informational(),
                FigureBook::Number(static_cast<double>(use.wakeUps) / samplesMeasured) + " wake-ups per sample");
  }
  if (begin.serverCpu && end.serverCpu) {
    book.Record("window " + where + ": X server", 100.0 * (*end.serverCpu - *begin.serverCpu) / wall, "% of a core",
                FigureTarget::Informational());
  }

  // Repaints while data flowed.
  std::vector<Clock::time_point> during;
  double paintedPixels = 0;
  for (std::size_t i = 0; i < paints.paints.size(); ++i) {
    if (paints.paints[i] < begin.wall || paints.paints[i] > end.wall) continue;
    during.push_back(paints.paints[i]);
    paintedPixels += static_cast<double>(paints.pixels[i]);
  }
  std::vector<double> gaps;
  for (std::size_t i = 1; i < during.size(); ++i) gaps.push_back(Milliseconds(during[i] - during[i - 1]));
  book.Record("window " + where + ": chart repaints", static_cast<double>(during.size()) / wall, "per s",
              FigureTarget::Between(20, 60));
  book.Record("window " + where + ": status bar panel repaints",
              static_cast<double>(end.panelPaints - begin.panelPaints) / wall, "per s", FigureTarget::Informational());
  book.Record("window " + where + ": pixels per repaint",
              paintedPixels / std::max<double>(1, static_cast<double>(during.size())), "px",
              FigureTarget::Informational());
  book.Record("window " + where + ": gap between repaints, p99", Percentile(gaps, 99), "ms", FigureTarget::AtMost(50));
  book.Record("window " + where + ": gap between repaints, longest",
              gaps.empty() ? std::nan("") : *std::max_element(gaps.begin(), gaps.end()), "ms",
              FigureTarget::Informational());

  // Latency of every record plotted in the measured span, from the write
  // of its sample's last byte. The n-th record plotted is the n-th sample
  // written (none is lost on a pseudo-terminal); its sequence byte says so.
  std::vector<double> toPlot, toScreen;
  std::size_t mismatched = 0;
  int firstOffset = 0;
  for (std::size_t n = 0; n < plotted.size() && n < total; ++n) {
    const Plotted& p = plotted[n];
    const Clock::time_point sent = line.SentAt(n);
    // The frame whose handler completes a record may be the next sample's
    // (a chest frame is paired once the following sample frame shows it
    // came): a constant offset from the first record on is no fault, a
    // change of it is a record lost or plotted twice.
    const auto offset = (p.sequence + kSequenceModulus - static_cast<int>(n % kSequenceModulus)) % kSequenceModulus;
    if (n == 0) firstOffset = offset;
    if (offset != firstOffset) ++mismatched;
    if (p.at < begin.wall || p.at > end.wall) continue;
    toPlot.push_back(Milliseconds(p.at - sent));
    const auto painted = std::lower_bound(paints.paints.begin(), paints.paints.end(), p.at);
    if (painted != paints.paints.end()) toScreen.push_back(Milliseconds(*painted - sent));
  }
  book.Record("window " + where + ": latency sample written -> plotted, median", Percentile(toPlot, 50), "ms",
              FigureTarget::Informational());
  // The sweep is repainted every 40 ms: a record plotted within 30 ms makes
  // the next repaint.
  book.Record("window " + where + ": latency sample written -> plotted, p99", Percentile(toPlot, 99), "ms",
              FigureTarget::AtMost(30));
  book.Record("window " + where + ": latency sample written -> plotted, max",
              toPlot.empty() ? std::nan("") : *std::max_element(toPlot.begin(), toPlot.end()), "ms",
              FigureTarget::Informational());
  book.Record("window " + where + ": latency sample written -> on screen, median", Percentile(toScreen, 50), "ms",
              FigureTarget::Informational(), "the next repaint");
  book.Record("window " + where + ": samples stored / written",
              static_cast<double>(form.Store().Count()) / static_cast<double>(std::max<std::size_t>(1, line.Written())),
              "", FigureTarget::AtLeast(1.0));
  if (mismatched > 0) {
    book.Record("window " + where + ": plotted frames out of step", static_cast<double>(mismatched), "",
                FigureTarget::AtMost(0));
  }
  for (const std::string& message : dialogs.Messages())
    std::fprintf(stderr, "window_bench: message during the run: %s\n", message.c_str());
  return 0;
}

void FillRun(SampleStore& store) {
  store.BeginRecording();
  for (int i = 0; i < SampleStore::kRunLimit; ++i) {
    SampleRecord& record = store.At(store.Append());
    record.time = 0.5 + i / 300.0 / 86400.0;
    const auto row = static_cast<std::size_t>(i);
    for (std::size_t c = 0; c < record.channels.size(); ++c)
      record.channels[c] = static_cast<std::uint8_t>((row + 31 * c) % 248);
    for (std::size_t c = 0; c < record.chest.size(); ++c)
      record.chest[c] = static_cast<std::uint8_t>((row * 3 + c) % 248);
  }
}

int RunFiles(const Options& o, const std::filesystem::path& scratch) {
  PtyPair pty;
  ScopedVirtualPort port(VirtualPortDirectory(), "ECG-BENCH", pty.SlavePath());
  FakeDialogs dialogs;
  TellMessagesOnStderr(dialogs);
  TForm1 form(dialogs, o.screenWidth);
  form.show();
  if (!WaitUntil([&] { return form.windowHandle() && form.windowHandle()->isExposed(); })) return 2;
  // Eight channels, all shown: the loader draws with the eight-channel chart
  // in the band layout of the last set-up.
  try {
    SetUpThroughHandlers(form, pty, port.Path(), 8);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "window_bench: set-up failed: %s\n", error.what());
    return 2;
  }
  FillRun(form.Store());

  const std::filesystem::path folder = scratch / "records";
  std::filesystem::create_directories(folder);
  const std::string log = (folder / "run.log").string();
  const std::string data = (folder / "run.dat").string();
  FigureBook& book = FigureBook::Instance();

  // Save: the offer confirmed, the log's name given; both files written.
  dialogs.unscriptedConfirm = true;
  dialogs.saveAnswers.push_back(log);
  auto started = Clock::now();
  form.Guarded([&] { form.SaveButtonClick(); });
  const double saveSeconds = Seconds(Clock::now() - started);
  if (!std::filesystem::exists(data) ||
      std::filesystem::file_size(data) != sizeof(SampleRecord) * (SampleStore::kRunLimit + 1)) {
    std::fprintf(stderr, "window_bench: the save wrote no complete data file\n");
    return 2;
  }
  book.Record("window files: Save of 80000 records (both files)", saveSeconds, "s", FigureTarget::AtMost(0.3));

  // Load: the store emptied first, so that the figure is the loader's alone.
  form.Store().BeginRecording();
  dialogs.openAnswers.push_back(data);
  started = Clock::now();
  form.Guarded([&] { form.LoadButtonClick(); });
  const double loadSeconds = Seconds(Clock::now() - started);
  WaitUntil([] { return false; }, 200ms);  // the status bar and the chart catch up
  if (form.Store().Count() != SampleStore::kRunLimit || form.StatusPanelText(5) != "Status: Idle") {
    std::fprintf(stderr, "window_bench: the load ended with %d records and \"%s\"\n", form.Store().Count(),
                 form.StatusPanelText(5).c_str());
    return 2;
  }
  book.Record("window files: Load of 80000 records (status, plotting)", loadSeconds, "s", FigureTarget::AtMost(0.3));
  book.Record("window files: peak resident memory after the load", PeakResidentMegabytes(), "MB",
              FigureTarget::AtMost(100));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int status = 0;
  try {
    // Before the application object, which looks at XDG_RUNTIME_DIR too.
    PrivateRuntimeDir runtime;
    QApplication app(argc, argv);
    const bool all = options.phase == "all";
    if (all || options.phase == "files") status = std::max(status, RunFiles(options, runtime.Path()));
    if (all || options.phase == "live") {
      for (const LineFeed& feed : options.feeds)
        if (status < 2) status = std::max(status, RunLive(options, feed));
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "window_bench: %s\n", error.what());
    status = 2;
  }
  const int missed = FigureBook::Instance().PrintSummary("window");
  if (status == 2) return 2;
  return missed > 0 ? 1 : 0;
}
