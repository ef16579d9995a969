#include "traffic/TrafficLog.h"

#include <algorithm>
#include <cstring>

namespace {

// Copies `bytes` into a record's array and returns how many it kept.
template <size_t N>
uint16_t Keep(const std::vector<uint8_t>& bytes, std::array<uint8_t, N>& into) {
  const size_t n = std::min(bytes.size(), N);
  if (n > 0) std::memcpy(into.data(), bytes.data(), n);
  return static_cast<uint16_t>(n);
}

}  // namespace

CTrafficLog::CTrafficLog(size_t capacity) : m_ring(std::max<size_t>(capacity, 1)) {}

CTrafficLog& CTrafficLog::Process() {
  static CTrafficLog log;
  return log;
}

uint16_t CTrafficLog::DeviceIndex(const std::string& device) {
  // The latest device is nearly always the one asked for.
  for (size_t i = m_devices.size(); i-- > 0;)
    if (m_devices[i] == device) return static_cast<uint16_t>(i);
  if (m_devices.size() > UINT16_MAX) return UINT16_MAX;  // not in a run of a console
  m_devices.push_back(device);
  return static_cast<uint16_t>(m_devices.size() - 1);
}

void CTrafficLog::Record(const TraceRecord& record) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_range.Size() >= m_ring.size()) ++m_range.first;
  TrafficRecord& kept = m_ring[(m_range.next++ - 1) % m_ring.size()];
  kept.when = record.when;
  kept.roundTripMs = record.roundTripMs;
  kept.baud = record.baud;
  kept.device = DeviceIndex(record.device);
  kept.requestSize = Keep(record.request, kept.request);
  kept.replySize = Keep(record.reply, kept.reply);
  kept.outcome = record.outcome;
  kept.echoed = record.echoed;
  kept.exceptionCode = record.exceptionCode;

  TrafficCounters& c = m_counters;
  ++c.byOutcome[static_cast<size_t>(record.outcome)];
  if (record.echoed) ++c.echoes;
  if (!record.reply.empty()) {
    const double ms = record.roundTripMs;
    c.minMs = c.timed ? std::min(c.minMs, ms) : ms;
    c.maxMs = c.timed ? std::max(c.maxMs, ms) : ms;
    c.sumMs += ms;
    ++c.timed;
  }
  if (m_notify && !m_notified) {
    m_notified = true;
    m_notify();
  }
}

TrafficRange CTrafficLog::Range() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_notified = false;
  return m_range;
}

bool CTrafficLog::Get(uint64_t sequence, TrafficRecord& record) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (sequence < m_range.first || sequence >= m_range.next) return false;
  record = m_ring[(sequence - 1) % m_ring.size()];
  return true;
}

std::string CTrafficLog::DeviceName(uint16_t device) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return device < m_devices.size() ? m_devices[device] : std::string();
}

void CTrafficLog::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_range.first = m_range.next;
  m_counters = {};
}

TrafficCounters CTrafficLog::Counters() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_counters;
}

size_t CTrafficLog::Size() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_range.Size();
}

void CTrafficLog::SetNotifier(std::function<void()> notify) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_notify = std::move(notify);
  m_notified = false;
}
