#include "store/SampleStore.h"

#include <string>

SampleStore::SampleStore() : records_(new SampleRecord[kSlotCount]()) {}

int SampleStore::Append() {
  if (count_ >= kLastSlot) throw EStoreFull();
  return ++count_;
}

void SampleStore::SetCount(int count) {
  if (count < 0 || count > kLastSlot) throw std::out_of_range("record count " + std::to_string(count));
  count_ = count;
}

SampleRecord& SampleStore::At(int index) {
  if (index < 0 || index > kLastSlot) throw std::out_of_range("record index " + std::to_string(index));
  return records_[static_cast<std::size_t>(index)];
}

const SampleRecord& SampleStore::At(int index) const { return const_cast<SampleStore*>(this)->At(index); }
