#pragma once
// Figures against their targets. Every benchmark records the figure it
// stands for (samples per second, seconds per save, CPU share ...) with the
// target beside it; at the end the program prints one table of all of them
// and says which missed. A figure recorded again under the same name
// replaces the earlier one, so the calibration runs Google Benchmark makes
// before the real one leave nothing behind.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

struct FigureTarget {
  enum class Kind { AtLeast, AtMost, Between, None };
  Kind kind = Kind::None;
  double low = 0;
  double high = 0;

  static FigureTarget AtLeast(double value) { return {Kind::AtLeast, value, 0}; }
  static FigureTarget AtMost(double value) { return {Kind::AtMost, 0, value}; }
  static FigureTarget Between(double low, double high) { return {Kind::Between, low, high}; }
  static FigureTarget Informational() { return {}; }

  bool Met(double value) const {
    switch (kind) {
      case Kind::AtLeast: return value >= low;
      case Kind::AtMost: return value <= high;
      case Kind::Between: return value >= low && value <= high;
      case Kind::None: return true;
    }
    return true;
  }
};

struct Figure {
  std::string name;
  double value = 0;
  std::string unit;
  FigureTarget target;
  std::string note;
};

class FigureBook {
 public:
  static FigureBook& Instance() {
    static FigureBook book;
    return book;
  }

  void Record(const std::string& name, double value, const std::string& unit, FigureTarget target,
              const std::string& note = {}) {
    for (Figure& figure : figures_) {
      if (figure.name == name) {
        figure = Figure{name, value, unit, target, note};
        return;
      }
    }
    figures_.push_back(Figure{name, value, unit, target, note});
  }

  const Figure* Find(const std::string& name) const {
    for (const Figure& figure : figures_)
      if (figure.name == name) return &figure;
    return nullptr;
  }

  // Prints the table under `title`; returns how many figures missed.
  int PrintSummary(const std::string& title, std::FILE* out = stdout) const {
    if (figures_.empty()) return 0;
    std::size_t nameWidth = 0;
    for (const Figure& f : figures_) nameWidth = std::max(nameWidth, f.name.size());
    std::fprintf(out, "\n== %s: figures against targets (%ld cores, load average %s) ==\n", title.c_str(),
                 sysconf(_SC_NPROCESSORS_ONLN), LoadAverage().c_str());
    int missed = 0;
    for (const Figure& f : figures_) {
      const bool met = f.target.Met(f.value);
      if (!met) ++missed;
      const std::string value = Number(f.value) + " " + f.unit;
      std::fprintf(out, "%-*s  %22s   %-30s %s%s%s\n", static_cast<int>(nameWidth), f.name.c_str(), value.c_str(),
                   TargetText(f).c_str(), f.target.kind == FigureTarget::Kind::None ? "" : (met ? "met" : "MISSED"),
                   f.note.empty() ? "" : "  ", f.note.c_str());
    }
    std::fflush(out);
    return missed;
  }

  // 1234567.8 -> "1,234,568"; small values keep up to three significant decimals.
  static std::string Number(double value) {
    if (!std::isfinite(value)) return "n/a";
    const double magnitude = std::fabs(value);
    if (magnitude >= 1000) {
      const long long whole = std::llround(value);
      const std::string digits = std::to_string(whole < 0 ? -whole : whole);
      std::string grouped = whole < 0 ? "-" : "";
      for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
      }
      return grouped;
    }
    char text[32];
    const int decimals = magnitude >= 100 ? 0 : magnitude >= 10 ? 1 : magnitude >= 1 ? 2 : 3;
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
  }

 private:
  static std::string TargetText(const Figure& f) {
    switch (f.target.kind) {
      case FigureTarget::Kind::AtLeast: return "target >= " + Number(f.target.low) + " " + f.unit;
      case FigureTarget::Kind::AtMost: return "target <= " + Number(f.target.high) + " " + f.unit;
      case FigureTarget::Kind::Between:
        return "target " + Number(f.target.low) + " .. " + Number(f.target.high) + " " + f.unit;
      case FigureTarget::Kind::None: return "(for information)";
    }
    return {};
  }

  static std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one.empty() ? "?" : one;
  }

  std::vector<Figure> figures_;
};

// CPU time of the calling thread, in seconds.
inline double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU time of the whole process (every thread, user and system), in seconds.
inline double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Peak resident set size of the process so far, in megabytes (VmHWM).
inline double PeakResidentMegabytes() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// CPU time and wake-ups (voluntary context switches: the thread slept and was
// woken) of the threads of this process that bear `name` (all of them when
// empty), summed. Threads that ended before the call are not counted.
struct ThreadUse {
  double cpuSeconds = 0;
  long long wakeUps = 0;
  int threads = 0;

  ThreadUse operator-(const ThreadUse& before) const {
    return {cpuSeconds - before.cpuSeconds, wakeUps - before.wakeUps, threads};
  }
};

inline ThreadUse ThreadsNamed(const std::string& name) {
  ThreadUse use;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::string comm;
    std::ifstream(task.path() / "comm") >> comm;
    if (!name.empty() && comm != name) continue;
    ++use.threads;
    // Run time in nanoseconds, first field of schedstat.
    double nanoseconds = 0;
    std::ifstream(task.path() / "schedstat") >> nanoseconds;
    use.cpuSeconds += nanoseconds * 1e-9;
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) use.wakeUps += std::stoll(line.substr(24));
    }
  }
  return use;
}
