#include "recording/RecordingLoader.h"

#include <cstring>
#include <optional>
#include <span>

#include "chart/ChartFrame.h"
#include "chart/ChartLayout.h"
#include "chart/ChartSweep.h"
#include "recording/FileIO.h"
#include "recording/RecordingFiles.h"
#include "recording/RecordingShape.h"
#include "store/SampleStore.h"

namespace {

std::size_t ReadRecord(TInputFile& file, SampleRecord& record) {
  return file.Read(std::as_writable_bytes(std::span(&record, 1)));
}

std::uint8_t MarkerOf(const SampleRecord& record) { return record.channels[0]; }

// Plots slots 1..Count() as acquisition would have, sweep by sweep.
void DrawRecording(TRecordingContext& context, const RecordingShape& shape) {
  ChartSweep sweep(context.layout, context.chart, context.formatTime);
  sweep.Restart(shape.mode == RecordingMode::TwelveChannel, EightChannelBoxes(shape));
  for (int slot = 1; slot <= context.store.Count(); ++slot) sweep.Plot(context.store, slot);
}

}  // namespace

std::string LoadingStatusText(int count) { return "Status: Loading... " + std::to_string(count) + " packets"; }

void LoadRecordingFile(TRecordingContext& context, const std::string& path) {
  TInputFile file = TInputFile::Open(path);

  SampleStore& store = context.store;
  ChartLayout& layout = context.layout;
  context.currentDataFile = path;
  store.BeginRecording();
  DrawBasic(layout, context.chart);

  bool headerValid = false;
  {
    SampleRecord header{};
    std::size_t got = 0;
    try {
      got = ReadRecord(file, header);
    } catch (const ERecordingFile&) {
      got = 0;  // an unreadable header is reported as a wrong file type
    }
    // The header slot holds whatever was read, even a piece.
    std::memcpy(&store.At(0), &header, got);
    headerValid = got == kDataRecordSize && MarkerOf(header) == kDataFileMarker;
  }

  bool moreThanStoreHolds = false;
  std::optional<std::string> readError;
  if (!headerValid) {
    context.dialogs.ShowMessage("Invalid File Type", " Error reading File");
  } else {
    try {
      SampleRecord record{};
      while (true) {
        // Read into a spare record first: a piece at the end of the file is
        // not a record and must not touch the slot above the recording.
        if (ReadRecord(file, record) < kDataRecordSize) break;
        if (store.Count() == SampleStore::kLastSlot) {
          moreThanStoreHolds = true;
          break;
        }
        store.At(store.Append()) = record;
        context.view.SetStatusPanel(kAcquisitionStatusPanel, LoadingStatusText(store.Count()));
      }
    } catch (const ERecordingFile& error) {
      readError = error.what();
    }
  }
  // Drawn once all is read: the mode and the bands follow from the whole
  // recording, not from the last set-up.
  if (store.Count() > 0) DrawRecording(context, DetectRecordingShape(store));

  context.view.SetStatusPanel(kAcquisitionStatusPanel, kIdleStatusText);
  if (store.Count() > 0) context.view.SetPrintButtonVisible(true);

  if (moreThanStoreHolds) {
    context.dialogs.ShowMessage("The file holds more than " + std::to_string(SampleStore::kLastSlot) +
                                    " records. Only the first " + std::to_string(SampleStore::kLastSlot) +
                                    " records were loaded.",
                                kRecordingMessageCaption);
  }
  if (readError) {
    context.dialogs.ShowMessage(
        *readError + ". Only the first " + std::to_string(store.Count()) + " records were loaded.",
        kRecordingMessageCaption);
  }
}

void ReadRecordingRecords(const std::string& path, SampleStore& store) {
  TInputFile file = TInputFile::Open(path);
  store.BeginRecording();
  SampleRecord header{};
  if (ReadRecord(file, header) < kDataRecordSize || MarkerOf(header) != kDataFileMarker)
    throw ENotARecording("\"" + path + "\" is not an ECG data file (Invalid File Type)");
  store.At(0) = header;
  SampleRecord record{};
  while (store.Count() < SampleStore::kLastSlot && ReadRecord(file, record) == kDataRecordSize)
    store.At(store.Append()) = record;
}
