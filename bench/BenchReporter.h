#pragma once
// Google Benchmark's console table, plus a note of each run's CPU time per
// iteration, so that main() can put chosen runs into the FigureBook with a
// target beside them.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

class FigureReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, as Google Benchmark's own table does.
  FigureReporter() : benchmark::ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      cpuNanoseconds_[run.benchmark_name()] =
          run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
    }
    benchmark::ConsoleReporter::ReportRuns(runs);
  }

  // CPU time per iteration of the run named `name`, in nanoseconds; 0 if it
  // did not run.
  double CpuNanoseconds(const std::string& name) const {
    const auto it = cpuNanoseconds_.find(name);
    return it == cpuNanoseconds_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> cpuNanoseconds_;
};
