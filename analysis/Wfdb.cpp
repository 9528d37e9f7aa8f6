#include "analysis/Wfdb.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

constexpr int kSkip = 59;  // followed by a 32-bit interval
constexpr int kNum = 60;   // sets a field of the annotation before it
constexpr int kChn = 62;
constexpr int kAux = 63;  // followed by its low 10 bits' count of text bytes

[[noreturn]] void Fail(const std::string& path, const std::string& what) { throw EWfdbFormat(path + ": " + what); }

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(path, "cannot be opened");
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) Fail(path, "cannot be read");
  return bytes;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// A whole word as a number; the line's number in the message otherwise.
template <typename T>
T Number(std::string_view text, const std::string& path, int lineNumber, const char* what) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty())
    Fail(path, "line " + std::to_string(lineNumber) + ": " + what + " \"" + std::string(text) + "\" is not a number");
  return value;
}

// "212", "212x2", "16:3", "212+512": the format, and a byte offset.
void ParseFormat(const std::string& word, WfdbSignal& signal, std::int64_t& byteOffset, const std::string& path,
                 int lineNumber) {
  const std::size_t modifiers = word.find_first_of("x:+");
  signal.format = Number<int>(std::string_view(word).substr(0, modifiers), path, lineNumber, "format");
  byteOffset = 0;
  if (modifiers == std::string::npos) return;
  const std::string line = "line " + std::to_string(lineNumber) + ": ";
  std::size_t at = modifiers;
  while (at < word.size()) {
    const char kind = word[at];
    const std::size_t next = word.find_first_of("x:+", at + 1);
    const std::string_view value = std::string_view(word).substr(at + 1, next - at - 1);
    const auto number = Number<std::int64_t>(value, path, lineNumber, "format modifier");
    if (kind == 'x' && number != 1) Fail(path, line + "several samples per frame are not read here");
    if (kind == ':' && number != 0) Fail(path, line + "skewed signals are not read here");
    if (kind == '+') byteOffset = number;
    at = next == std::string::npos ? word.size() : next;
  }
}

// "200", "200(0)", "200/mV", "200(-12)/uV": gain, baseline, units.
void ParseGain(const std::string& word, WfdbSignal& signal, bool& baselineGiven, const std::string& path,
               int lineNumber) {
  const std::size_t open = word.find('(');
  const std::size_t slash = word.find('/');
  signal.gain = Number<double>(std::string_view(word).substr(0, std::min(open, slash)), path, lineNumber, "gain");
  if (signal.gain == 0) signal.gain = 200;
  if (signal.gain < 0) Fail(path, "line " + std::to_string(lineNumber) + ": negative gain");
  if (open != std::string::npos) {
    const std::size_t close = word.find(')', open);
    if (close == std::string::npos) Fail(path, "line " + std::to_string(lineNumber) + ": baseline without ')'");
    signal.baseline =
        Number<int>(std::string_view(word).substr(open + 1, close - open - 1), path, lineNumber, "baseline");
    baselineGiven = true;
  }
  if (slash != std::string::npos) signal.units = word.substr(slash + 1);
}

struct SignalLine {
  WfdbSignal signal;
  std::int64_t byteOffset = 0;
  bool checksumGiven = false;
  int checksum = 0;
};

SignalLine ParseSignalLine(const std::string& text, const std::string& path, int lineNumber) {
  std::vector<std::string> words = Words(text);
  if (words.size() < 2)
    Fail(path, "line " + std::to_string(lineNumber) + ": a signal line needs at least a file name and a format");
  SignalLine line;
  WfdbSignal& signal = line.signal;
  signal.file = words[0];
  signal.units = "mV";
  if (signal.file == "-") Fail(path, "line " + std::to_string(lineNumber) + ": signals on standard input");
  ParseFormat(words[1], signal, line.byteOffset, path, lineNumber);
  if (signal.format != 212 && signal.format != 16)
    Fail(path, "line " + std::to_string(lineNumber) + ": format " + std::to_string(signal.format) +
                   " is not read here (212 and 16 are)");
  bool baselineGiven = false;
  if (words.size() > 2) ParseGain(words[2], signal, baselineGiven, path, lineNumber);
  // words[3] is the converter's resolution in bits: not needed to read.
  if (words.size() > 4) {
    const int adcZero = Number<int>(words[4], path, lineNumber, "converter zero");
    if (!baselineGiven) signal.baseline = adcZero;
  }
  // words[5] is the first sample's value, which the checksum covers as well.
  if (words.size() > 6) {
    line.checksum = Number<int>(words[6], path, lineNumber, "checksum");
    line.checksumGiven = true;
  }
  // words[7] is the block size, which matters only to tapes and devices.
  if (words.size() > 8) {
    // The description is the rest of the line, spaces included.
    std::size_t at = 0;
    for (std::size_t w = 0; w < 8; ++w) at = text.find(words[w], at) + words[w].size();
    at = text.find_first_not_of(" \t", at);
    signal.name = text.substr(at);
    signal.name.erase(signal.name.find_last_not_of(" \t\r") + 1);
  }
  return line;
}

std::vector<int> Decode(const std::vector<std::uint8_t>& bytes, std::size_t from, int format) {
  std::vector<int> values;
  if (format == 16) {
    values.reserve((bytes.size() - from) / 2);
    for (std::size_t i = from; i + 1 < bytes.size(); i += 2)
      values.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return values;
  }
  // 212: the sample pairs run on across frames; a last lone sample takes two bytes.
  const auto twelveBits = [](int raw) { return raw >= 0x800 ? raw - 0x1000 : raw; };
  values.reserve((bytes.size() - from) * 2 / 3);
  for (std::size_t i = from; i + 1 < bytes.size(); i += 3) {
    values.push_back(twelveBits(bytes[i] | ((bytes[i + 1] & 0x0F) << 8)));
    if (i + 2 < bytes.size()) values.push_back(twelveBits(bytes[i + 2] | ((bytes[i + 1] & 0xF0) << 4)));
  }
  return values;
}

// Reads the signals of one file: signal lines [first, last), interleaved.
void ReadSignalFile(const std::filesystem::path& folder, std::vector<SignalLine>& lines, std::size_t first,
                    std::size_t last, std::int64_t headerSamples) {
  const WfdbSignal& lead = lines[first].signal;
  const std::string path = (folder / lead.file).string();
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  const auto offset = static_cast<std::size_t>(lines[first].byteOffset);
  if (offset > bytes.size()) Fail(path, "shorter than its byte offset " + std::to_string(offset));
  const std::vector<int> values = Decode(bytes, offset, lead.format);
  const std::size_t width = last - first;
  std::size_t frames = values.size() / width;
  if (headerSamples > 0) {
    if (frames < static_cast<std::size_t>(headerSamples))
      Fail(path,
           "holds " + std::to_string(frames) + " samples per signal, the header says " + std::to_string(headerSamples));
    frames = static_cast<std::size_t>(headerSamples);
  }
  for (std::size_t s = first; s < last; ++s) {
    WfdbSignal& signal = lines[s].signal;
    signal.samples.resize(frames);
    int sum = 0;
    for (std::size_t f = 0; f < frames; ++f) {
      signal.samples[f] = values[f * width + (s - first)];
      sum = static_cast<std::int16_t>(sum + signal.samples[f]);
    }
    // The header's checksum covers the samples it counts; without a count it cannot be checked.
    if (lines[s].checksumGiven && headerSamples > 0 && sum != lines[s].checksum)
      Fail(path, "signal " + std::to_string(s) + " (" + signal.name + ") sums to " + std::to_string(sum) +
                     ", the header's checksum is " + std::to_string(lines[s].checksum) + ": the file is damaged");
  }
}

}  // namespace

const WfdbSignal* WfdbRecord::Find(std::string_view signalName) const {
  const auto it = std::find_if(signals.begin(), signals.end(), [&](const auto& s) { return s.name == signalName; });
  return it == signals.end() ? nullptr : &*it;
}

WfdbRecord ReadWfdbRecord(const std::string& headerPath) {
  std::ifstream in(headerPath);
  if (!in) Fail(headerPath, "cannot be opened");
  WfdbRecord record;
  std::int64_t headerSamples = 0;
  std::size_t signalCount = 0;
  bool recordLineRead = false;
  std::vector<SignalLine> lines;
  int lineNumber = 0;
  for (std::string text; std::getline(in, text);) {
    ++lineNumber;
    const std::size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos || text[start] == '#') continue;
    if (!recordLineRead) {
      const std::vector<std::string> words = Words(text);
      if (words.size() < 2) Fail(headerPath, "line " + std::to_string(lineNumber) + ": no signal count");
      record.name = words[0];
      if (record.name.find('/') != std::string::npos) Fail(headerPath, "multi-segment records are not read here");
      signalCount = Number<std::size_t>(words[1], headerPath, lineNumber, "signal count");
      if (words.size() > 2) {
        const std::string& rate = words[2];
        record.frequency = Number<double>(std::string_view(rate).substr(0, rate.find_first_of("/(")), headerPath,
                                          lineNumber, "frequency");
        if (!(record.frequency > 0)) Fail(headerPath, "line " + std::to_string(lineNumber) + ": frequency not above 0");
      }
      if (words.size() > 3) headerSamples = Number<std::int64_t>(words[3], headerPath, lineNumber, "sample count");
      recordLineRead = true;
      continue;
    }
    if (lines.size() == signalCount) break;  // the rest would be comments or info lines
    lines.push_back(ParseSignalLine(text, headerPath, lineNumber));
  }
  if (!recordLineRead) Fail(headerPath, "no record line");
  if (lines.size() < signalCount)
    Fail(headerPath, "names " + std::to_string(lines.size()) + " of its " + std::to_string(signalCount) + " signals");

  const std::filesystem::path folder = std::filesystem::path(headerPath).parent_path();
  for (std::size_t first = 0; first < lines.size();) {
    std::size_t last = first + 1;
    while (last < lines.size() && lines[last].signal.file == lines[first].signal.file) {
      if (lines[last].signal.format != lines[first].signal.format)
        Fail(headerPath, "signals of one file in different formats are not read here");
      ++last;
    }
    ReadSignalFile(folder, lines, first, last, headerSamples);
    first = last;
  }
  std::size_t frames = lines.empty() ? 0 : lines.front().signal.samples.size();
  for (const SignalLine& line : lines) frames = std::min(frames, line.signal.samples.size());
  for (SignalLine& line : lines) {
    line.signal.samples.resize(frames);  // files of different lengths: the common span only
    record.signals.push_back(std::move(line.signal));
  }
  return record;
}

bool IsBeat(int code) {
  switch (code) {
    case 1:   // normal
    case 2:   // left bundle branch block
    case 3:   // right bundle branch block
    case 4:   // aberrated atrial premature
    case 5:   // premature ventricular contraction
    case 6:   // fusion of ventricular and normal
    case 7:   // nodal (junctional) premature
    case 8:   // atrial premature
    case 9:   // supraventricular premature or ectopic
    case 10:  // ventricular escape
    case 11:  // nodal (junctional) escape
    case 12:  // paced
    case 13:  // unclassifiable
    case 25:  // bundle branch block, unspecified
    case 30:  // learning
    case 34:  // atrial escape
    case 35:  // supraventricular escape
    case 38:  // fusion of paced and normal
    case 41:  // R-on-T premature ventricular
      return true;
    default: return false;  // 37, a P wave not conducted, has no QRS complex either
  }
}

std::vector<WfdbAnnotation> ReadWfdbAnnotations(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  const auto word = [&](std::size_t at) { return bytes[at] | (bytes[at + 1] << 8); };
  std::vector<WfdbAnnotation> annotations;
  std::int64_t time = 0;
  std::size_t at = 0;
  while (at + 2 <= bytes.size()) {
    const int value = word(at);
    const std::size_t wordAt = at;
    at += 2;
    if (value == 0) return annotations;
    const int code = value >> 10;
    const int field = value & 0x3FF;
    if (code == kSkip) {
      if (at + 4 > bytes.size()) Fail(path, "ends inside the interval of a skip at byte " + std::to_string(wordAt));
      time += static_cast<std::int32_t>((static_cast<std::uint32_t>(word(at)) << 16) |
                                        static_cast<std::uint32_t>(word(at + 2)));
      at += 4;
    } else if (code == kAux) {
      const auto length = static_cast<std::size_t>(field);
      if (at + length > bytes.size()) Fail(path, "ends inside the text at byte " + std::to_string(wordAt));
      const auto text = bytes.begin() + static_cast<std::ptrdiff_t>(at);
      // The text is stored with its terminating zero byte: only what comes before it.
      if (!annotations.empty())
        annotations.back().aux.assign(text, std::find(text, text + static_cast<std::ptrdiff_t>(length), 0));
      at += length + (length & 1);
    } else if (code >= kNum && code <= kChn) {
      // Number, sub-type and channel of the annotation: not needed here.
    } else {
      time += field;
      annotations.push_back({time, code, {}});
    }
  }
  Fail(path, "ends without its end mark (a zero word): the file is cut short");
}
