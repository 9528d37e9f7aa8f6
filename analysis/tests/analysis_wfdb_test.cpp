#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>

#include "analysis/Wfdb.h"
#include "analysis_support.h"

namespace {

// ---- The reference record ------------------------------------------------------

TEST(WfdbReferenceRecord, ReadsBothLeadsWithTheirScaleAndLength) {
  const auto folder = Record100Folder();
  if (!folder) GTEST_SKIP() << "MIT-BIH record 100 is not in analysis/tests/data/mitdb-100";
  const WfdbRecord record = ReadWfdbRecord((*folder / "100.hea").string());
  EXPECT_EQ(record.frequency, 360);
  ASSERT_EQ(record.signals.size(), 2u);
  EXPECT_EQ(record.signals[0].name, "MLII");
  EXPECT_EQ(record.signals[1].name, "V5");
  for (const WfdbSignal& signal : record.signals) {
    EXPECT_EQ(signal.gain, 200);
    EXPECT_EQ(signal.baseline, 1024);
    EXPECT_EQ(signal.samples.size(), 650000u);
  }
  // The header's first values; the checksums over all samples were checked by the reader.
  EXPECT_EQ(record.signals[0].samples.front(), 995);
  EXPECT_EQ(record.signals[1].samples.front(), 1011);
  ASSERT_NE(record.Find("V5"), nullptr);
  EXPECT_EQ(record.Find("aVF"), nullptr);
}

TEST(WfdbReferenceRecord, AnnotationsHoldEveryBeatOfTheRecord) {
  const auto folder = Record100Folder();
  if (!folder) GTEST_SKIP() << "MIT-BIH record 100 is not in analysis/tests/data/mitdb-100";
  const auto annotations = ReadWfdbAnnotations((*folder / "100.atr").string());
  std::map<int, int> beats;
  std::int64_t firstBeat = -1;
  for (const WfdbAnnotation& a : annotations) {
    if (!IsBeat(a.code)) continue;
    ++beats[a.code];
    if (firstBeat < 0) firstBeat = a.sample;
  }
  EXPECT_EQ(beats[1], 2239);
  EXPECT_EQ(beats[8], 33);
  EXPECT_EQ(beats[5], 1);
  EXPECT_EQ(std::accumulate(beats.begin(), beats.end(), 0, [](int n, const auto& b) { return n + b.second; }), 2273);
  EXPECT_EQ(firstBeat, 77);
  EXPECT_TRUE(std::is_sorted(annotations.begin(), annotations.end(),
                             [](const auto& a, const auto& b) { return a.sample < b.sample; }));
  EXPECT_EQ(annotations.front().aux, "(N");  // the record opens with a rhythm annotation
}

// ---- Signal files written here -------------------------------------------------

std::string Encode(const std::vector<int>& flat, int format) {
  std::string bytes;
  const auto put = [&](int byte) { bytes.push_back(static_cast<char>(byte & 0xFF)); };
  if (format == 16) {
    for (int v : flat) put(v), put(v >> 8);
    return bytes;
  }
  for (std::size_t i = 0; i < flat.size(); i += 2) {
    const int a = flat[i] & 0xFFF;
    const int b = i + 1 < flat.size() ? flat[i + 1] & 0xFFF : 0;
    put(a), put(((a >> 8) & 0x0F) | ((b >> 4) & 0xF0));
    if (i + 1 < flat.size()) put(b);
  }
  return bytes;
}

int Checksum(const std::vector<int>& samples) {
  int sum = 0;
  for (int v : samples) sum = static_cast<std::int16_t>(sum + v);
  return sum;
}

struct FileCase {
  const char* name;
  int format;
  std::vector<std::vector<int>> signals;  // per signal, equal lengths
  int byteOffset;
};

void PrintTo(const FileCase& c, std::ostream* out) { *out << c.name; }

class WfdbSignalFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(WfdbSignalFile, ReadsBackEverySampleWritten) {
  const FileCase& c = GetParam();
  ScratchFolder folder;
  std::vector<int> flat;
  const std::size_t length = c.signals.front().size();
  for (std::size_t f = 0; f < length; ++f)
    for (const auto& signal : c.signals) flat.push_back(signal[f]);
  folder.Write("r.dat", std::string(static_cast<std::size_t>(c.byteOffset), '\x55') + Encode(flat, c.format));
  std::string header = "r " + std::to_string(c.signals.size()) + " 250 " + std::to_string(length) + "\n";
  for (std::size_t s = 0; s < c.signals.size(); ++s)
    header += "r.dat " + std::to_string(c.format) + (c.byteOffset ? "+" + std::to_string(c.byteOffset) : "") +
              " 100(5)/uV 12 0 0 " + std::to_string(Checksum(c.signals[s])) + " 0 lead " + std::to_string(s) + "\n";
  const WfdbRecord record = ReadWfdbRecord(folder.Write("r.hea", "# written by the test\n" + header));
  EXPECT_EQ(record.frequency, 250);
  ASSERT_EQ(record.signals.size(), c.signals.size());
  for (std::size_t s = 0; s < c.signals.size(); ++s) {
    EXPECT_EQ(record.signals[s].samples, c.signals[s]) << "signal " << s;
    EXPECT_EQ(record.signals[s].name, "lead " + std::to_string(s));  // spaces kept
    EXPECT_EQ(record.signals[s].baseline, 5);
    EXPECT_EQ(record.signals[s].units, "uV");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WfdbSignalFile,
    ::testing::Values(FileCase{"Packed_TwoSignals_Extremes", 212, {{-2048, 2047, 0, -1}, {1, -2, 2047, -2048}}, 0},
                      // Three signals: the sample pairs straddle frames, the last sample stands alone.
                      FileCase{"Packed_ThreeSignals_OddCount", 212, {{10, -20, 30}, {-40, 50, -60}, {70, -80, 90}}, 0},
                      FileCase{"Packed_AfterByteOffset", 212, {{1, 2, 3, 4}}, 6},
                      FileCase{"Words_OneSignal_Extremes", 16, {{-32768, 32767, 0, -1, 1024}}, 0},
                      FileCase{"Words_TwoSignals", 16, {{100, 200}, {-100, -200}}, 0}),
    [](const auto& row) { return std::string(row.param.name); });

// ---- Files that must be refused ------------------------------------------------

struct BadRecord {
  const char* name;
  std::string header;
  std::string data;    // written as r.dat unless empty
  const char* reason;  // a part of the message
};

void PrintTo(const BadRecord& c, std::ostream* out) { *out << c.name; }

class WfdbBadRecord : public ::testing::TestWithParam<BadRecord> {};

TEST_P(WfdbBadRecord, IsRefusedSayingWhy) {
  const BadRecord& c = GetParam();
  ScratchFolder folder;
  if (!c.data.empty()) folder.Write("r.dat", c.data);
  const std::string header = folder.Write("r.hea", c.header);
  try {
    ReadWfdbRecord(header);
    FAIL() << "read without complaint";
  } catch (const EWfdbFormat& e) {
    EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("r."), std::string::npos) << "names the file: " << e.what();
  }
}

const std::string kFourSamples = Encode({1, 2, 3, 4}, 212);

INSTANTIATE_TEST_SUITE_P(
    Files, WfdbBadRecord,
    ::testing::Values(BadRecord{"Empty", "# nothing\n", kFourSamples, "no record line"},
                      BadRecord{"FormatNotRead", "r 1 360 4\nr.dat 80 200 8 0\n", kFourSamples, "format 80"},
                      BadRecord{"DataShorterThanHeader", "r 1 360 5\nr.dat 212\n", kFourSamples, "holds 4 samples"},
                      BadRecord{"ChecksumWrong", "r 1 360 4\nr.dat 212 200 12 0 1 11 0 MLII\n", kFourSamples,
                                "checksum is 11"},
                      BadRecord{"DataFileMissing", "r 1 360 4\nr.dat 212\n", "", "cannot be opened"},
                      BadRecord{"GainNotANumber", "r 1 360\nr.dat 212 2x0\n", kFourSamples, "gain \"2x0\""},
                      BadRecord{"SignalLinesMissing", "r 2 360\nr.dat 212\n", kFourSamples, "names 1 of its 2"},
                      BadRecord{"SeveralSamplesPerFrame", "r 1 360\nr.dat 212x4\n", kFourSamples, "samples per frame"},
                      BadRecord{"MultiSegment", "r/2 1 360\n", kFourSamples, "multi-segment"},
                      BadRecord{"ZeroFrequency", "r 1 0\nr.dat 212\n", kFourSamples, "frequency"}),
    [](const auto& row) { return std::string(row.param.name); });

// ---- Annotation files written here ---------------------------------------------

std::string Words(const std::vector<int>& words) {
  std::string bytes;
  for (int w : words) bytes.push_back(static_cast<char>(w & 0xFF)), bytes.push_back(static_cast<char>(w >> 8));
  return bytes;
}
int Word(int code, int field) { return (code << 10) | field; }

TEST(WfdbAnnotationFile, SkipsModifiersAndTextAttachToTheirAnnotation) {
  ScratchFolder folder;
  const std::string bytes =
      Words({Word(28, 5)}) + Words({Word(63, 3)}) + "(N" + std::string(1, '\0') + '\0' +
      Words({Word(1, 100), Word(60, 7), Word(62, 1), Word(59, 0), 0x0001, 0x0000, Word(5, 10), Word(14, 1), 0});
  const auto annotations = ReadWfdbAnnotations(folder.Write("a.atr", bytes));
  ASSERT_EQ(annotations.size(), 4u);
  EXPECT_EQ(annotations[0].sample, 5);
  EXPECT_EQ(annotations[0].aux, "(N");  // without its terminating zero
  EXPECT_EQ(annotations[1].sample, 105);
  EXPECT_EQ(annotations[2].sample, 105 + 65536 + 10);  // the skip's high word first
  EXPECT_EQ(annotations[2].code, 5);
  EXPECT_TRUE(IsBeat(annotations[2].code));
  EXPECT_FALSE(IsBeat(annotations[0].code));  // rhythm change
  EXPECT_FALSE(IsBeat(annotations[3].code));  // noise
}

struct BadAnnotations {
  const char* name;
  std::string bytes;
  const char* reason;
};

void PrintTo(const BadAnnotations& c, std::ostream* out) { *out << c.name; }

class WfdbBadAnnotations : public ::testing::TestWithParam<BadAnnotations> {};

TEST_P(WfdbBadAnnotations, AreRefusedSayingWhy) {
  ScratchFolder folder;
  const std::string path = folder.Write("a.atr", GetParam().bytes);
  try {
    ReadWfdbAnnotations(path);
    FAIL() << "read without complaint";
  } catch (const EWfdbFormat& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().reason), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Files, WfdbBadAnnotations,
                         ::testing::Values(BadAnnotations{"NoEndMark", Words({Word(1, 10)}), "cut short"},
                                           BadAnnotations{"CutInsideSkip", Words({Word(59, 0), 1}), "skip"},
                                           BadAnnotations{"CutInsideText", Words({Word(1, 1), Word(63, 9)}) + "ab",
                                                          "text"},
                                           BadAnnotations{"Missing", "", "cut short"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(WfdbAnnotationFile, MissingFileIsRefused) {
  EXPECT_THROW(ReadWfdbAnnotations("/nonexistent/100.atr"), EWfdbFormat);
}

}  // namespace
