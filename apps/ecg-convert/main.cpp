// ecg-convert: a saved recording's data file as EDF+ or CSV, for programs
// other than this tool. Every record of the file is written, however many
// it holds: the file is streamed, not loaded into the store.
#include <QGuiApplication>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "recording/DataFileReader.h"
#include "recording/PdfReport.h"
#include "recording/RecordingExport.h"
#include "recording/Repair.h"
#include "recording/Sidecar.h"

namespace {

enum ExitCode {
  kOk = 0,
  kBadArguments = 2,
  kInputError = 3,
  kOutputRefused = 4,
  kWriteFailed = 5,
  kNoClock = 6,
};

constexpr const char* kUsage =
    "Usage: ecg-convert IN.dat --edf OUT.edf [--rate HZ] [--force] [--no-sidecar]\n"
    "       ecg-convert IN.dat --csv OUT.csv [--rate HZ] [--force] [--no-sidecar]\n"
    "       ecg-convert IN.dat --pdf OUT.pdf [--from S --to S] [--rate HZ] [--force] [--no-sidecar]\n"
    "       ecg-convert --repair IN.dat [--force]\n"
    "\n"
    "Writes a recording's data file (.dat, as saved by ecg-tool or ecg-record) as\n"
    "EDF+ or CSV, every record of it. The sidecar IN.json beside it, when there is\n"
    "one, gives the rate, the start date, the set-up, the calibration and the\n"
    "markers' texts; without it the start date is the data file's own.\n"
    "\n"
    "  --edf OUT.edf  EDF+ (continuous), one signal per channel that holds data:\n"
    "                 in uV where the sidecar holds a calibration of the\n"
    "                 recording's amplification stage, else in \"steps\" (the\n"
    "                 module's values 0..247); data records of 0.1 s; annotations\n"
    "                 for the start and the end, the padding of the last data\n"
    "                 record, records without chest leads, data lost, markers, and\n"
    "                 pauses and backward steps of the time stamps\n"
    "  --csv OUT.csv  one line per record: sample number, seconds from the start\n"
    "                 at the rate, time of arrival, per channel the value (and its\n"
    "                 mV when calibrated), the record's flags and marker\n"
    "  --pdf OUT.pdf  a report: a page of figures, then every lead at 25 mm/s and\n"
    "                 10 mm/mV (uncalibrated leads in steps) on a millimetre\n"
    "                 grid, 10 s a page, with the markers and the beats found\n"
    "  --from S, --to S  the report's span, seconds from the start (default: all)\n"
    "  --rate HZ      samples per second, 1..1000, when the sidecar names none;\n"
    "                 without it the rate is estimated from the time stamps and\n"
    "                 rounded to the nearest module rate (50, 100, 150, 300)\n"
    "  --force        replace an existing OUT (never a folder, a device, a named\n"
    "                 pipe or the recording's own files)\n"
    "  --no-sidecar   leave IN.json aside\n"
    "  --repair       a recording whose writer was killed: writes the missing IN.log\n"
    "                 from IN.dat and completes the sidecar IN.json (the records,\n"
    "                 ended abnormally); --force replaces an existing IN.log\n"
    "  --help         this text\n"
    "\n"
    "What the conversion found (pauses, marks, the rate's source) goes to stderr.\n"
    "\n"
    "Exit codes:\n"
    "  0  written\n"
    "  2  bad arguments, a --rate other than the sidecar's rate, or a --from/--to\n"
    "     outside the recording\n"
    "  3  input not readable, not a recording, without records, or its sidecar malformed\n"
    "  4  output refused: it exists (--force replaces it), it is not a regular file,\n"
    "     or it is the recording's own file; --repair: IN.log exists\n"
    "  5  output could not be written\n"
    "  6  the time stamps give no clock (NaN, infinite or outside a day) and no\n"
    "     rate was given\n";

void Say(const std::string& text) { std::fprintf(stderr, "ecg-convert: %s\n", text.c_str()); }

int Fail(int code, const std::string& text) {
  Say(text);
  return code;
}

int BadArguments(const std::string& why) {
  // The two usage lines, not the whole help: the reason stays in view.
  const std::string usage(kUsage, std::string_view(kUsage).find("\n\n"));
  std::fprintf(stderr, "ecg-convert: %s\n%s\n(ecg-convert --help: the options and the exit codes)\n", why.c_str(),
               usage.c_str());
  return kBadArguments;
}

std::optional<double> ParseSeconds(const char* text) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(value) || value < 0) return std::nullopt;
  return value;
}

std::optional<int> ParseRate(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return std::nullopt;
  if (value < kMinExportRate || value > kMaxExportRate) return std::nullopt;
  return static_cast<int>(value);
}

const char* SourceText(RateSource source) {
  switch (source) {
    case RateSource::Sidecar: return "the sidecar's";
    case RateSource::Given: return "as given";
    case RateSource::Estimated: return "estimated";
    case RateSource::Assumed: return "assumed";
  }
  return "";
}

int Repair(const std::string& input, bool force) {
  try {
    const DataFileRecords check(input);
  } catch (const ERecordingFile& error) {
    return Fail(kInputError, error.what());
  }
  try {
    const CompletedRecording done = RepairRecording(input, NowDateTimeText(), LocaleTimeFormatter(), force);
    Say(std::to_string(done.records) + (done.records == 1 ? " record" : " records") + " found in " + input +
        (done.trailingBytes > 0 ? " (a piece of " + std::to_string(done.trailingBytes) + " bytes at the end ignored)"
                                : std::string()) +
        "; the recording ended abnormally; " + done.logPath + " written, " + done.sidecarPath + " completed");
    return kOk;
  } catch (const ERepairRefused& error) {
    return Fail(kOutputRefused, std::string(error.what()) + " (--force replaces it)");
  } catch (const ESidecarFormat& error) {
    return Fail(kInputError, error.what());
  } catch (const ERecordingFile& error) {
    return Fail(kWriteFailed, error.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, output;
  bool csv = false, edf = false, pdf = false, force = false, useSidecar = true, repair = false;
  std::optional<int> rate;
  std::optional<double> from, to;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kOk;
    }
    if (arg == "--edf" || arg == "--csv" || arg == "--pdf") {
      if (i + 1 >= argc) return BadArguments(arg + " needs a file name");
      if (edf || csv || pdf) return BadArguments("give one of --edf, --csv and --pdf, once");
      (arg == "--edf" ? edf : arg == "--csv" ? csv : pdf) = true;
      output = argv[++i];
    } else if (arg == "--from" || arg == "--to") {
      if (i + 1 >= argc) return BadArguments(arg + " needs a number of seconds");
      (arg == "--from" ? from : to) = ParseSeconds(argv[++i]);
      if (!(arg == "--from" ? from : to))
        return BadArguments("a time of \"" + std::string(argv[i]) + "\" is not a number of seconds, 0 or more");
    } else if (arg == "--rate") {
      if (i + 1 >= argc) return BadArguments("--rate needs a number");
      rate = ParseRate(argv[++i]);
      if (!rate) return BadArguments(std::string("a rate of \"") + argv[i] + "\" is not a whole number in 1..1000");
    } else if (arg == "--force") {
      force = true;
    } else if (arg == "--repair") {
      repair = true;
    } else if (arg == "--no-sidecar") {
      useSidecar = false;
    } else if (!arg.empty() && arg[0] == '-') {
      return BadArguments("unknown option " + arg);
    } else if (input.empty()) {
      input = arg;
    } else {
      return BadArguments("more than one input file");
    }
  }
  if (input.empty()) return BadArguments("no input file");
  if (repair)
    return edf || csv || pdf || rate || from || to || !useSidecar ? BadArguments("--repair takes only --force")
                                                                  : Repair(input, force);
  if (!edf && !csv && !pdf) return BadArguments("give --edf OUT.edf, --csv OUT.csv or --pdf OUT.pdf");
  if ((from || to) && !pdf) return BadArguments("--from and --to are for --pdf only");
  if (output.empty()) return BadArguments("an empty output name");

  std::optional<DataFileRecords> records;
  try {
    records.emplace(input);
  } catch (const ERecordingFile& error) {
    return Fail(kInputError, error.what());
  }
  const std::string sidecarPath = SidecarPathFor(input);
  ExportOptions options;
  if (useSidecar) {
    try {
      options.sidecar = ReadSidecar(sidecarPath);
    } catch (const ERecordingFile& error) {
      return Fail(kInputError, std::string(error.what()) + " (--no-sidecar converts without it)");
    }
  }
  const std::optional<int> sidecarRate =
      options.sidecar && options.sidecar->setup ? options.sidecar->setup->rateHz : std::nullopt;
  if (rate && sidecarRate && *rate != *sidecarRate)
    return BadArguments("the sidecar " + sidecarPath + " gives " + std::to_string(*sidecarRate) +
                        " samples per second, --rate " + std::to_string(*rate) +
                        ": leave out --rate, or give --no-sidecar as well");
  options.sampleRate = rate;
  options.endedAroundMs = ModificationTimeMs(input);
  options.replaceExisting = force;
  options.inputs = {input, sidecarPath};

  auto refused = [&](const EExportRefused& error) {
    const bool hint = error.Why() == EExportRefused::Exists;
    return Fail(kOutputRefused, std::string(error.what()) + (hint ? " (--force replaces it)" : ""));
  };
  try {
    CheckExportTarget(output, options);
  } catch (const EExportRefused& error) {
    return refused(error);
  }

  RecordingSurvey survey;
  try {
    survey = SurveyRecording(*records);
  } catch (const ERecordingFile& error) {
    return Fail(kInputError, error.what());
  }
  if (survey.count == 0) return Fail(kInputError, "\"" + input + "\" holds no records");

  ExportReport report;
  try {
    if (pdf) {
      // The report's fonts need the application object, and no display.
      if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
      const QGuiApplication application(argc, argv);
      report = WritePdfReport(*records, survey, output, {options, from, to});
    } else {
      report = edf ? ExportEdf(*records, survey, output, options) : ExportCsv(*records, survey, output, options);
    }
  } catch (const EReportSpan& error) {
    return BadArguments(error.what());
  } catch (const ENoClock& error) {
    return Fail(kNoClock, std::string(error.what()) + " (--rate HZ)");
  } catch (const EExportRefused& error) {
    return refused(error);
  } catch (const ERecordingFile& error) {
    return Fail(kWriteFailed, error.what());
  }
  Say(std::to_string(report.records) + (report.records == 1 ? " record at " : " records at ") +
      std::to_string(report.rate) + "/s (" + SourceText(report.rateSource) + ") from " + IsoDateTime(report.start) +
      " written to " + output);
  for (const std::string& note : report.notes) Say(note);
  return kOk;
}
