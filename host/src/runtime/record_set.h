// De-duplication of fixed-size byte records: an open-addressing table that
// gives equal records one index, the first one's, in order of first insert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace host {

class RecordSet {
 public:
  // `expected`: about how many records will be inserted (sizes the table).
  RecordSet(std::size_t recordBytes, std::size_t expected) : bytes_(recordBytes) {
    std::size_t cap = 16;
    while (cap < expected * 2) cap <<= 1;
    table_.assign(cap, kEmpty);
    records_.reserve(expected * recordBytes);
  }

  // The index of the record equal to `record` (recordBytes bytes), added
  // when new.
  std::uint32_t Insert(const unsigned char* record) {
    if ((Count() + 1) * 2 > table_.size()) Grow();
    const std::size_t mask = table_.size() - 1;
    for (std::size_t slot = Hash(record) & mask;; slot = (slot + 1) & mask) {
      const std::uint32_t at = table_[slot];
      if (at == kEmpty) {
        const std::uint32_t index = static_cast<std::uint32_t>(Count());
        records_.insert(records_.end(), record, record + bytes_);
        table_[slot] = index;
        return index;
      }
      if (std::memcmp(records_.data() + std::size_t(at) * bytes_, record, bytes_) == 0) return at;
    }
  }

  std::vector<unsigned char>& Records() { return records_; }
  const unsigned char* Record(std::size_t i) const { return records_.data() + i * bytes_; }
  std::size_t Count() const { return records_.size() / bytes_; }

 private:
  static constexpr std::uint32_t kEmpty = std::numeric_limits<std::uint32_t>::max();

  std::uint64_t Hash(const unsigned char* r) const {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (std::size_t i = 0; i < bytes_; ++i) h = (h ^ r[i]) * 1099511628211ull;
    return h ^ (h >> 29);
  }

  void Grow() {
    std::vector<std::uint32_t> old(table_.size() * 2, kEmpty);
    table_.swap(old);
    const std::size_t mask = table_.size() - 1;
    for (std::size_t i = 0; i < Count(); ++i) {
      std::size_t slot = Hash(Record(i)) & mask;
      while (table_[slot] != kEmpty) slot = (slot + 1) & mask;
      table_[slot] = static_cast<std::uint32_t>(i);
    }
  }

  std::size_t bytes_;
  std::vector<std::uint32_t> table_;
  std::vector<unsigned char> records_;
};

}  // namespace host
