#pragma once
// Records of the reference ECG databases in the WFDB format: the header
// (.hea, text), the signal files in formats 212 (two 12-bit samples in three
// bytes) and 16 (16-bit little-endian), and annotation files in the MIT
// format (.atr). Enough to replay a reference record and to score a beat
// detector against its annotations; multi-segment records, skewed signals
// and several samples per frame are refused, not half-read.
//
// Every reader raises EWfdbFormat with the file's name and what is wrong in
// it: a file missing or unreadable, a malformed line, a format not read
// here, a data file shorter than its header says, a checksum that does not
// match. Nothing is returned from a file that was not read whole.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class EWfdbFormat : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct WfdbSignal {
  std::string name;   // the header's description, e.g. "MLII"; empty if it gives none
  std::string file;   // the signal file, relative to the header's folder
  int format = 0;     // 212 or 16
  double gain = 200;  // steps per unit (the header's 0, "not calibrated", reads as 200)
  std::string units;  // "mV" unless the header says otherwise
  int baseline = 0;   // the step value of 0 units
  std::vector<int> samples;

  double Physical(int value) const { return (value - baseline) / gain; }
};

struct WfdbRecord {
  std::string name;
  double frequency = 250;  // samples per second and signal
  std::vector<WfdbSignal> signals;

  std::size_t SampleCount() const { return signals.empty() ? 0 : signals.front().samples.size(); }
  // The first signal of that name, or nullptr.
  const WfdbSignal* Find(std::string_view signalName) const;
};

// Reads the header and every signal file it names (beside the header).
WfdbRecord ReadWfdbRecord(const std::string& headerPath);

struct WfdbAnnotation {
  std::int64_t sample = 0;  // from the record's start, at its frequency
  int code = 0;             // 1 normal beat, 5 premature ventricular, 8 atrial premature, 28 rhythm ...
  std::string aux;          // the annotation's text, e.g. "(N" at a rhythm change; mostly empty
};

// Whether an annotation code marks a heartbeat (a QRS complex) rather than a
// rhythm change, noise, a comment or a wave other than the QRS.
bool IsBeat(int code);

// Every annotation of an MIT-format annotation file, in file order.
std::vector<WfdbAnnotation> ReadWfdbAnnotations(const std::string& path);
