#include "TrafficLog.h"

#include <algorithm>

CTrafficLog& CTrafficLog::Process() {
  static CTrafficLog log;
  return log;
}

void CTrafficLog::Record(const TraceRecord& record) {
  auto shared = std::make_shared<const TraceRecord>(record);  // outside the lock
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_ring.size() >= m_capacity) m_ring.pop_front();
  m_ring.push_back({m_nextSequence++, std::move(shared)});

  TrafficCounters& c = m_counters;
  ++c.byOutcome[static_cast<size_t>(record.outcome)];
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

std::vector<TrafficEntry> CTrafficLog::Since(uint64_t from) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_notified = false;
  // Sequence numbers rise along the ring.
  const auto first = std::partition_point(
      m_ring.begin(), m_ring.end(), [from](const TrafficEntry& e) { return e.sequence < from; });
  return {first, m_ring.end()};
}

void CTrafficLog::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_ring.clear();
  m_counters = {};
}

TrafficCounters CTrafficLog::Counters() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_counters;
}

size_t CTrafficLog::Size() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_ring.size();
}

void CTrafficLog::SetNotifier(std::function<void()> notify) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_notify = std::move(notify);
  m_notified = false;
}
