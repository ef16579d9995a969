// The controller's alarm log: entries in the order they happened, the oldest
// dropped when the store is full, read by masters as the records of file
// 0x2010 (five registers an entry).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "device_types.h"

namespace sim {

class AlarmLog {
 public:
  // At most kMaxLogEntries, whatever is asked: the count register is 16 bits.
  explicit AlarmLog(size_t capacity)
      : capacity_(capacity < kMaxLogEntries ? capacity : kMaxLogEntries) {}

  void Append(const LogEntry& entry);
  void Clear() { entries_.clear(); }
  size_t Count() const { return entries_.size(); }
  std::vector<LogEntry> Entries() const;

  // Appends the bytes of registers record .. record+length-1 of the log file
  // to `out`. False when any of them lies beyond the stored entries.
  bool ReadRecords(uint16_t record, uint16_t length, std::vector<uint8_t>& out) const;

 private:
  size_t capacity_;
  std::deque<LogEntry> entries_;
};

}  // namespace sim
