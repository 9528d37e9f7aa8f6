// The recording loader fed arbitrary data files: the input is written to a
// scratch .dat file, loaded by the loader's rules and drawn as the window's
// load draws it, on a Wide chart in the mode the records show (so every
// record is plotted in full, its time label too).
//
// Invariants: no sanitizer report and no exception; count is at most 100000;
// a file whose first 24 bytes carry the marker 5 loads exactly its whole
// records (at most 100000, the rest reported), any other file none and is
// reported as no recording; every record is counted once; the header slot
// holds the bytes the file began with; slots 1..count hold the file's
// records byte for byte.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "OffscreenGui.h"
#include "chart/ChartLayout.h"
#include "chart/ChartSweep.h"
#include "chart/ImageCanvas.h"
#include "recording/RecordingLoader.h"
#include "recording/RecordingShape.h"
#include "store/SampleStore.h"

namespace {

constexpr std::size_t kRecordSize = sizeof(SampleRecord);

struct Shared {
  SampleStore store;
  ChartLayout layout;
  std::unique_ptr<ImageCanvas> chart;
  std::string path;
};

Shared& TheShared() {
  static Shared* const shared = [] {
    EnsureGuiApplication();
    auto* s = new Shared;
    SelectScreenLayout(s->layout, 1280);
    s->chart = std::make_unique<ImageCanvas>(s->layout.ChartWidth, s->layout.ChartHeight);
    PrepareChart(s->layout, *s->chart);
    LayoutBands(s->layout, {true, true, true, true, true, true, true, true});
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ecg-loader-fuzz-XXXXXX.dat";
    const int fd = mkstemps(pattern.data(), 4);
    FUZZ_CHECK(fd >= 0, "cannot create a scratch file from %s", pattern.c_str());
    ::close(fd);
    s->path = pattern;
    static const std::string toRemove = s->path;
    std::atexit([] { ::unlink(toRemove.c_str()); });
    return s;
  }();
  return *shared;
}

void WriteScratch(const std::string& path, const std::uint8_t* data, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
  FUZZ_CHECK(fd >= 0, "cannot open the scratch file %s", path.c_str());
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    FUZZ_CHECK(n > 0, "cannot write the scratch file %s", path.c_str());
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Shared& shared = TheShared();
  WriteScratch(shared.path, data, size);

  // What the previous input left behind must not pass for this one's records.
  shared.store.SetCount(0);
  std::memset(&shared.store.At(0), 0xA5, kRecordSize);
  int counted = 0;
  TLoadResult result;
  try {
    result = LoadRecordingFile(shared.path, shared.store, [&](int count) {
      FUZZ_CHECK(count == counted + 1, "record %d counted after %d", count, counted);
      counted = count;
    });
  } catch (const std::exception& e) {
    FUZZ_CHECK(false, "loading a readable file threw: %s", e.what());
  }

  const SampleStore& store = shared.store;
  const int count = store.Count();
  FUZZ_CHECK(count >= 0 && count <= SampleStore::kLastSlot, "count %d after a load", count);
  FUZZ_CHECK(counted == count, "%d records counted, %d loaded", counted, count);

  const bool headerValid = size >= kRecordSize && data[8] == 5;
  const std::size_t wholeRecords = size >= kRecordSize ? (size - kRecordSize) / kRecordSize : 0;
  const int expected = headerValid ? static_cast<int>(std::min<std::size_t>(wholeRecords, SampleStore::kLastSlot)) : 0;
  FUZZ_CHECK(count == expected, "%d records loaded from %zu bytes, expected %d", count, size, expected);
  FUZZ_CHECK(result.headerValid == headerValid, "header judged %s", result.headerValid ? "valid" : "invalid");
  FUZZ_CHECK(
      result.moreThanStoreHolds == (headerValid && wholeRecords > static_cast<std::size_t>(SampleStore::kLastSlot)),
      "records left in the file reported wrongly");
  FUZZ_CHECK(!result.readError, "a read error from a readable file: %s", result.readError->c_str());

  // Drawn as the window's load draws it.
  if (count > 0) {
    const RecordingShape shape = DetectRecordingShape(store);
    ChartLayout layout = shared.layout;
    ChartSweep sweep(layout, *shared.chart, LocaleTimeFormatter());
    sweep.Restart(shape.mode == RecordingMode::TwelveChannel, EightChannelBoxes(shape));
    for (int slot = 1; slot <= count; ++slot) sweep.Plot(store, slot);
  }

  const std::size_t headerBytes = std::min(size, kRecordSize);
  FUZZ_CHECK(std::memcmp(&store.At(0), data, headerBytes) == 0,
             "the header slot differs from the file's first %zu bytes", headerBytes);
  for (int slot = 1; slot <= count; ++slot) {
    FUZZ_CHECK(std::memcmp(&store.At(slot), data + static_cast<std::size_t>(slot) * kRecordSize, kRecordSize) == 0,
               "slot %d differs from the file's record %d", slot, slot);
  }
  return 0;
}
