#include "alarm_log.h"

#include <cstring>

#include "frame_codec.h"
#include "registers.h"

namespace sim {
namespace {

void EncodeEntry(const LogEntry& e, uint8_t out[kLogEntryBytes]) {
  std::memcpy(out, e.clock, sizeof e.clock);
  PutU16(out + 6, e.type);
  PutU16(out + 8, e.lengthHundredths);
}

}  // namespace

void AlarmLog::Append(const LogEntry& entry) {
  entries_.push_back(entry);
  while (entries_.size() > capacity_) entries_.pop_front();
}

std::vector<LogEntry> AlarmLog::Entries() const {
  return {entries_.begin(), entries_.end()};
}

bool AlarmLog::ReadRecords(uint16_t record, uint16_t length,
                           std::vector<uint8_t>& out) const {
  const size_t end = static_cast<size_t>(record) + length;
  if (end > entries_.size() * kLogEntryRegisters) return false;
  uint8_t image[kLogEntryBytes];
  for (size_t reg = record; reg < end; ++reg) {
    EncodeEntry(entries_[reg / kLogEntryRegisters], image);
    const size_t at = (reg % kLogEntryRegisters) * 2;
    out.push_back(image[at]);
    out.push_back(image[at + 1]);
  }
  return true;
}

}  // namespace sim
