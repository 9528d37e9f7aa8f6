#pragma once
// The records of a recording as the exports read them: front to back, as
// often as they ask, from the store or streamed from a data file
// (recording/DataFileReader.h), so an export is not bound to the store's
// slots.
#include <functional>

#include "store/SampleStore.h"

class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Calls `visit` for every record in order (the header not included).
  // Each call goes through all of them again. Throws ERecordingFile when
  // they cannot be read.
  virtual void ForEach(const std::function<void(const SampleRecord&)>& visit) const = 0;
};

// Slots 1..Count() of a store, which must not change while it is read.
class StoreRecords final : public RecordSource {
 public:
  explicit StoreRecords(const SampleStore& store) : store_(store) {}
  void ForEach(const std::function<void(const SampleRecord&)>& visit) const override {
    const int count = store_.Count();
    for (int slot = 1; slot <= count; ++slot) visit(store_.At(slot));
  }

 private:
  const SampleStore& store_;
};
