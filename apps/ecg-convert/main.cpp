// ecg-convert: a saved recording's data file as EDF+ or CSV, for programs
// other than this tool.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "recording/RecordingExport.h"
#include "recording/RecordingLoader.h"

namespace {

enum ExitCode { kOk = 0, kBadArguments = 2, kInputError = 3, kWriteFailed = 5 };

constexpr const char* kUsage =
    "Usage: ecg-convert IN.dat --edf OUT.edf [--rate HZ]\n"
    "       ecg-convert IN.dat --csv OUT.csv\n"
    "\n"
    "Writes a recording's data file (.dat, as saved by ecg-tool) as EDF+ or CSV.\n"
    "\n"
    "  --edf OUT.edf  EDF+ (continuous), one signal per channel that holds data,\n"
    "                 values 0..247 as recorded, one-second data records\n"
    "  --csv OUT.csv  one line per record: time of day, then one column per channel\n"
    "  --rate HZ      samples per second, 1..1000 (EDF+ only); estimated from the\n"
    "                 records' time stamps when not given\n"
    "  --help         this text\n"
    "\n"
    "Exit codes: 0 done, 2 bad arguments, 3 input not readable or not a recording,\n"
    "            5 output could not be written.\n";

int BadArguments(const std::string& why) {
  std::fprintf(stderr, "ecg-convert: %s\n\n%s", why.c_str(), kUsage);
  return kBadArguments;
}

std::optional<int> ParseRate(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return std::nullopt;
  if (value < kMinExportRate || value > kMaxExportRate) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, output;
  bool csv = false, edf = false;
  std::optional<int> rate;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kOk;
    }
    if (arg == "--edf" || arg == "--csv") {
      if (i + 1 >= argc) return BadArguments(arg + " needs a file name");
      if (edf || csv) return BadArguments("give one of --edf and --csv, once");
      (arg == "--edf" ? edf : csv) = true;
      output = argv[++i];
    } else if (arg == "--rate") {
      if (i + 1 >= argc) return BadArguments("--rate needs a number");
      rate = ParseRate(argv[++i]);
      if (!rate) return BadArguments(std::string("a rate of \"") + argv[i] + "\" is not a whole number in 1..1000");
    } else if (!arg.empty() && arg[0] == '-') {
      return BadArguments("unknown option " + arg);
    } else if (input.empty()) {
      input = arg;
    } else {
      return BadArguments("more than one input file");
    }
  }
  if (input.empty()) return BadArguments("no input file");
  if (!edf && !csv) return BadArguments("give --edf OUT.edf or --csv OUT.csv");
  if (output.empty()) return BadArguments("an empty output name");
  if (csv && rate) return BadArguments("--rate applies to --edf only");

  auto store = std::make_unique<SampleStore>();
  try {
    ReadRecordingRecords(input, *store);
  } catch (const ERecordingFile& error) {
    std::fprintf(stderr, "ecg-convert: %s\n", error.what());
    return kInputError;
  }
  if (store->Count() == 0) {
    std::fprintf(stderr, "ecg-convert: \"%s\" holds no records\n", input.c_str());
    return kInputError;
  }

  ExportOptions options;
  options.sampleRate = rate;
  options.startDate = ModificationDate(input).value_or(Today());
  try {
    if (edf) {
      ExportEdf(*store, output, options);
    } else {
      ExportCsv(*store, output, options);
    }
  } catch (const ERecordingFile& error) {
    std::fprintf(stderr, "ecg-convert: %s\n", error.what());
    return kWriteFailed;
  }
  return kOk;
}
