#pragma once
// The in-memory recording: a fixed array of 24-byte sample records, the count
// of the current recording, and the settings chosen at the last set-up.
//
// The record layout is also the record of the binary .dat file, so it is
// checked at compile time below and must never change.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>

struct SampleRecord {
  double time;                           // local time of day, fraction of a day
  std::array<std::uint8_t, 8> channels;  // I, II, III, aVR, aVL, aVF, C1, Resp
  std::array<std::uint8_t, 5> chest;     // C2..C6
  // Byte 0: RecordFlags, byte 1: the user marker's number (0: none), byte 2:
  // unused. Files written before the marks existed hold zeros here, which
  // reads as "whole, unmarked".
  std::array<std::uint8_t, 3> reserved;
};

// What went wrong around a record, kept in its first reserved byte.
enum RecordFlag : std::uint8_t {
  kChestMissing = 0x01,    // twelve-channel record whose chest frame never came
  kDataLostBefore = 0x02,  // input lost or frames rejected just before this record
};
inline std::uint8_t& RecordFlags(SampleRecord& record) { return record.reserved[0]; }
inline std::uint8_t RecordFlags(const SampleRecord& record) { return record.reserved[0]; }
inline std::uint8_t& RecordMarker(SampleRecord& record) { return record.reserved[1]; }
inline std::uint8_t RecordMarker(const SampleRecord& record) { return record.reserved[1]; }

static_assert(sizeof(SampleRecord) == 24, "a sample record is 24 bytes on disk");
static_assert(offsetof(SampleRecord, time) == 0);
static_assert(offsetof(SampleRecord, channels) == 8);
static_assert(offsetof(SampleRecord, chest) == 16);
static_assert(offsetof(SampleRecord, reserved) == 21);
static_assert(std::endian::native == std::endian::little, "records are stored little-endian as they lie in memory");
static_assert(std::numeric_limits<double>::is_iec559, "time is an IEEE-754 double");

// Index of each channel in SampleRecord::channels.
enum ChannelIndex : int { chI = 0, chII, chIII, chAVR, chAVL, chAVF, chC1, chResp };

enum class AcquisitionState : std::uint8_t { Idle = 0, Receiving = 3 };

struct AcquisitionSettings {
  std::uint8_t transmission = 0;
  std::uint8_t amplification = 0;
  std::uint8_t filter = 0;
  std::uint8_t mode = 0;
  std::uint8_t pacer = 0;
  std::uint8_t simulation = 0;
  AcquisitionState state = AcquisitionState::Idle;
};

// Raised when a writer would pass the last slot; the store refuses rather
// than trusting its callers to respect the run limit.
class EStoreFull : public std::runtime_error {
 public:
  EStoreFull() : std::runtime_error("Recording store is full") {}
};

class SampleStore {
 public:
  static constexpr int kLastSlot = 100000;  // slots 0..100000, slot 0 is the file header
  static constexpr int kSlotCount = kLastSlot + 1;
  static constexpr int kRunLimit = 80000;  // records per recording during acquisition

  SampleStore();  // one zero-filled allocation for the whole run

  // Start of a recording (and of a load): count 0, slot contents kept.
  void BeginRecording() { count_ = 0; }
  // Creates slot count+1 and returns its index; throws EStoreFull past kLastSlot.
  int Append();
  // Sets the count directly (the loader); 0..kLastSlot or std::out_of_range.
  void SetCount(int count);
  int Count() const { return count_; }

  SampleRecord& Newest() { return records_[static_cast<std::size_t>(count_)]; }
  const SampleRecord& Newest() const { return records_[static_cast<std::size_t>(count_)]; }
  // Access by index 0..kLastSlot; std::out_of_range outside.
  SampleRecord& At(int index);
  const SampleRecord& At(int index) const;

  AcquisitionSettings& Settings() { return settings_; }
  const AcquisitionSettings& Settings() const { return settings_; }

 private:
  std::unique_ptr<SampleRecord[]> records_;
  int count_ = 0;
  AcquisitionSettings settings_;
};
