// The recording loader fed arbitrary data files: the input is written to a
// scratch .dat file and loaded onto a Wide eight-channel chart with every
// channel shown (so every record is plotted in full, its time label too).
//
// Invariants: no sanitizer report and no exception; count is at most 100000;
// a file whose first 24 bytes carry the marker 5 loads exactly its whole
// records (at most 100000), any other file none, with "Invalid File Type";
// the header slot holds the bytes the file began with; slots 1..count hold
// the file's records byte for byte; the status ends "Status: Idle".
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
#include "chart/ImageCanvas.h"
#include "recording/Dialogs.h"
#include "recording/RecordingLoader.h"
#include "store/SampleStore.h"
#include "testsupport/FakeDialogs.h"

namespace {

constexpr std::size_t kRecordSize = sizeof(SampleRecord);

class TextView : public TRecordingView {
 public:
  void SetSaveButtonVisible(bool) override {}
  void SetPrintButtonVisible(bool visible) override { printVisible = visible; }
  void SetStatusPanel(int index, const std::string& text) override {
    FUZZ_CHECK(index == kAcquisitionStatusPanel, "the loader wrote status panel %d", index);
    panel5 = text;
  }
  bool printVisible = false;
  std::string panel5;
};

std::string LastText(const std::vector<ShownMessage>& messages) {
  return messages.empty() ? std::string() : messages.back().text;
}

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
  FakeDialogs dialogs;  // messages answered OK, everything else cancelled
  TextView view;
  std::string currentDataFile;
  TRecordingContext context{shared.store, shared.layout, *shared.chart, dialogs, view, currentDataFile};
  try {
    LoadRecordingFile(context, shared.path);
  } catch (const std::exception& e) {
    FUZZ_CHECK(false, "loading a readable file threw: %s", e.what());
  }

  const SampleStore& store = shared.store;
  const int count = store.Count();
  FUZZ_CHECK(count >= 0 && count <= SampleStore::kLastSlot, "count %d after a load", count);
  FUZZ_CHECK(currentDataFile == shared.path, "CurrentDataFile is \"%s\"", currentDataFile.c_str());
  FUZZ_CHECK(view.panel5 == kIdleStatusText, "panel 5 ends \"%s\"", view.panel5.c_str());

  const bool headerValid = size >= kRecordSize && data[8] == 5;
  const std::size_t wholeRecords = size >= kRecordSize ? (size - kRecordSize) / kRecordSize : 0;
  const int expected = headerValid ? static_cast<int>(std::min<std::size_t>(wholeRecords, SampleStore::kLastSlot)) : 0;
  FUZZ_CHECK(count == expected, "%d records loaded from %zu bytes, expected %d", count, size, expected);
  const std::vector<ShownMessage> messages = dialogs.MessageBoxes();
  if (!headerValid) {
    FUZZ_CHECK(messages.size() == 1 && (messages[0] == ShownMessage{"Invalid File Type", " Error reading File"}),
               "a bad header gave %zu message(s), last \"%s\"", messages.size(), LastText(messages).c_str());
  } else if (wholeRecords <= static_cast<std::size_t>(SampleStore::kLastSlot)) {
    FUZZ_CHECK(messages.empty(), "a good file gave the message \"%s\"", LastText(messages).c_str());
  }
  FUZZ_CHECK(view.printVisible == (count > 0), "Print button %s with %d records",
             view.printVisible ? "shown" : "hidden", count);

  const std::size_t headerBytes = std::min(size, kRecordSize);
  FUZZ_CHECK(std::memcmp(&store.At(0), data, headerBytes) == 0,
             "the header slot differs from the file's first %zu bytes", headerBytes);
  for (int slot = 1; slot <= count; ++slot) {
    FUZZ_CHECK(std::memcmp(&store.At(slot), data + static_cast<std::size_t>(slot) * kRecordSize, kRecordSize) == 0,
               "slot %d differs from the file's record %d", slot, slot);
  }
  return 0;
}
