#include "recording/RecordingExport.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "chart/TracePlot.h"

namespace {

constexpr long long kMsPerDay = 86400000;
// Digital and physical range of every ECG signal: the module's sample bytes
// as they are (0xF8..0xFF start frames and never occur as samples).
constexpr int kSampleMax = 247;
// Bytes per data record of the annotation signal: room for the record's
// time-keeping entry and the end-of-recording entry of the last record.
constexpr int kAnnotationSamples = 32;

void Append(std::string& out, long long value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// One fixed-width ASCII field of the EDF header: left-aligned, space-padded,
// cut at the width.
void Field(std::string& header, std::string_view text, std::size_t width) {
  const std::size_t used = std::min(text.size(), width);
  header.append(text.substr(0, used));
  header.append(width - used, ' ');
}

std::string Number(long long value) {
  std::string text;
  Append(text, value);
  return text;
}

// "+12.345": seconds since the header's start time, as EDF+ annotations
// write onsets (no more decimals than needed, '.' whatever the locale).
std::string Onset(long long milliseconds) {
  std::string text = "+" + Number(milliseconds / 1000);
  if (const long long ms = milliseconds % 1000; ms != 0) {
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03lld", ms);
    std::string f = fraction;
    while (f.back() == '0') f.pop_back();
    text += f;
  }
  return text;
}

void ThrowIfEmpty(const SampleStore& store, const std::string& path) {
  if (store.Count() <= 0) throw ERecordingFile("Cannot export to \"" + path + "\": the recording holds no records");
}

int RateFor(const SampleStore& store, const ExportOptions& options, const std::string& path) {
  if (!options.sampleRate) return EstimateSampleRate(store);
  const int rate = *options.sampleRate;
  if (rate < kMinExportRate || rate > kMaxExportRate)
    throw ERecordingFile("Cannot export to \"" + path + "\": a sample rate of " + Number(rate) +
                         " per second is outside 1..1000");
  return rate;
}

// Writes `bytes` to `path` through a temporary file beside it.
template <class WriteBody>
void WriteAtomically(const std::string& path, WriteBody&& writeBody) {
  TTemporaryFile out(path, "exp");
  writeBody(out.File());
  out.File().Commit();
  RenameReplacing(out.Path(), path);
  out.Keep();
  SyncFolderOf(path);
}

const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

}  // namespace

long long MillisecondsOfDay(double timeOfDay) {
  long long ms = std::llround(timeOfDay * static_cast<double>(kMsPerDay));
  ms %= kMsPerDay;
  if (ms < 0) ms += kMsPerDay;
  return ms;
}

std::string IsoTimeOfDay(double timeOfDay) {
  const long long ms = MillisecondsOfDay(timeOfDay);
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                ms % 1000);
  return text;
}

int EstimateSampleRate(const SampleStore& store) {
  const int count = store.Count();
  if (count < 2) return 300;
  long long span = MillisecondsOfDay(store.At(count).time) - MillisecondsOfDay(store.At(1).time);
  if (span < 0) span += kMsPerDay;  // the recording passed midnight
  if (span <= 0) return 300;
  const double rate = (count - 1) * 1000.0 / static_cast<double>(span);
  int best = 300;
  for (int candidate : {50, 100, 150, 300})
    if (std::abs(rate - candidate) < std::abs(rate - best)) best = candidate;
  return best;
}

std::string CsvHeaderLine(const RecordingShape& shape) {
  std::string line = "time";
  for (ChartChannel channel : shape.withData) line.append(",").append(ChannelName(channel));
  return line;
}

std::string CsvRecordLine(const SampleRecord& record, const RecordingShape& shape) {
  std::string line = IsoTimeOfDay(record.time);
  for (ChartChannel channel : shape.withData) {
    line.push_back(',');
    Append(line, ChannelSample(record, channel));
  }
  return line;
}

void ExportCsv(const SampleStore& store, const std::string& path, const ExportOptions&) {
  ThrowIfEmpty(store, path);
  const RecordingShape shape = DetectRecordingShape(store);
  WriteAtomically(path, [&](TOutputFile& file) {
    std::string text = CsvHeaderLine(shape) + "\n";
    const int count = store.Count();
    for (int slot = 1; slot <= count; ++slot) {
      text += CsvRecordLine(store.At(slot), shape);
      text.push_back('\n');
      if (text.size() > 200000) {
        file.Write(text);
        text.clear();
      }
    }
    file.Write(text);
  });
}

void ExportEdf(const SampleStore& store, const std::string& path, const ExportOptions& options) {
  ThrowIfEmpty(store, path);
  const int rate = RateFor(store, options, path);
  const RecordingShape shape = DetectRecordingShape(store);
  const int count = store.Count();
  const long long dataRecords = (count + rate - 1) / rate;
  const std::size_t signalCount = shape.withData.size() + 1;  // + the annotation signal

  const long long startMs = MillisecondsOfDay(store.At(1).time);
  const long long startSecondMs = startMs / 1000 * 1000;
  const long long subsecond = startMs - startSecondMs;  // in each record's time-keeping onset
  const CalendarDate& date = options.startDate;

  std::string header;
  Field(header, "0", 8);
  Field(header, "X X X X", 80);
  char recording[96];
  std::snprintf(recording, sizeof recording,
                "Startdate %02d-%s-%04d X X ECG_module Raw_sample_steps,_volts_per_step_unknown", date.day,
                kMonths[std::clamp(date.month, 1, 12) - 1], date.year);
  Field(header, recording, 80);
  char when[48];
  std::snprintf(when, sizeof when, "%02d.%02d.%02d", date.day, date.month, date.year % 100);
  Field(header, when, 8);
  std::snprintf(when, sizeof when, "%02lld.%02lld.%02lld", startMs / 3600000, startMs / 60000 % 60,
                startMs / 1000 % 60);
  Field(header, when, 8);
  Field(header, Number(256 * (static_cast<long long>(signalCount) + 1)), 8);
  Field(header, "EDF+C", 44);
  Field(header, Number(dataRecords), 8);
  Field(header, "1", 8);
  Field(header, Number(static_cast<long long>(signalCount)), 4);

  // Per-signal fields, each written for all signalCount before the next.
  auto perSignal = [&](auto ecgField, std::string_view annotationField, std::size_t width) {
    for (ChartChannel channel : shape.withData) Field(header, ecgField(channel), width);
    Field(header, annotationField, width);
  };
  perSignal([](ChartChannel c) { return std::string(ChannelName(c)); }, "EDF Annotations", 16);
  perSignal([](ChartChannel) { return std::string(); }, "", 80);  // transducer
  perSignal([](ChartChannel) { return std::string(); }, "", 8);   // physical dimension: raw steps
  perSignal([](ChartChannel) { return std::string("0"); }, "-1", 8);
  perSignal([](ChartChannel) { return Number(kSampleMax); }, "1", 8);
  perSignal([](ChartChannel) { return std::string("0"); }, "-32768", 8);
  perSignal([](ChartChannel) { return Number(kSampleMax); }, "32767", 8);
  perSignal([](ChartChannel) { return std::string(); }, "", 80);  // prefiltering
  perSignal([&](ChartChannel) { return Number(rate); }, Number(kAnnotationSamples), 8);
  perSignal([](ChartChannel) { return std::string(); }, "", 32);

  WriteAtomically(path, [&](TOutputFile& file) {
    file.Write(header);
    const std::size_t recordBytes = (shape.withData.size() * static_cast<std::size_t>(rate) + kAnnotationSamples) * 2;
    std::string block;
    block.reserve(recordBytes);
    for (long long r = 0; r < dataRecords; ++r) {
      block.clear();
      const int first = static_cast<int>(r * rate) + 1;
      for (ChartChannel channel : shape.withData) {
        for (int i = 0; i < rate; ++i) {
          // The last data record is filled up with the last sample, so the
          // trace stays flat instead of dropping to 0 after the end.
          const int slot = std::min(first + i, count);
          const int value = std::min<int>(ChannelSample(store.At(slot), channel), kSampleMax);
          block.push_back(static_cast<char>(value & 0xFF));
          block.push_back(static_cast<char>(value >> 8));
        }
      }
      std::string tal = Onset(r * 1000 + subsecond) + "\x14\x14";
      tal.push_back('\0');
      if (r == dataRecords - 1 && count % rate != 0) {
        // Where the records end inside the padded last data record.
        tal += Onset(static_cast<long long>(count) * 1000 / rate + subsecond) + "\x15" + "0" + "\x14" +
               "Recording ends" + "\x14";
        tal.push_back('\0');
      }
      tal.resize(static_cast<std::size_t>(kAnnotationSamples) * 2, '\0');
      block += tal;
      file.Write(block);
    }
  });
}

std::optional<CalendarDate> ModificationDate(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  std::tm local{};
  if (!::localtime_r(&info.st_mtime, &local)) return std::nullopt;
  return CalendarDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

CalendarDate Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return CalendarDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}
