#pragma once
// Reads a data file back into the store and draws it record by record as it
// would have been drawn while recording: in the mode its contents show
// (DetectRecordingShape), with the bands of the channels that hold data. The
// chart layout's band table is changed for that; the next set-up or Read
// lays out its own bands again.
#include <string>

#include "recording/DataFileReader.h"
#include "recording/FileIO.h"

#include "recording/RecordingActions.h"

// The status texts of panel 5 while loading and afterwards.
std::string LoadingStatusText(int count);
inline constexpr const char* kIdleStatusText = "Status: Idle";
inline constexpr int kAcquisitionStatusPanel = 5;

// Loads `path` (what LoadButtonClick does once the open dialog has named a
// file). Throws ERecordingFile when the file cannot be opened; nothing has
// changed then. From the open on the previous recording is replaced; a bad
// header, a file with more records than the store holds and a read error
// are reported in message boxes here.
void LoadRecordingFile(TRecordingContext& context, const std::string& path);

// The records of a data file read into slots 0..n of `store` (no chart, no
// dialogs): what the loader would load, for the command-line tools. Throws
// ERecordingFile when the file cannot be opened or read (only regular files
// are opened) and ENotARecording for a wrong header; at most
// SampleStore::kLastSlot records are read.
void ReadRecordingRecords(const std::string& path, SampleStore& store);
