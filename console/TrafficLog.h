// Every exchange of the run, for the traffic window: a ring of the latest
// records with running counters. Exchanges are recorded from whichever
// thread runs them (the window's, the search worker's); the window reads
// from its own. Nothing here knows of the window: with no notifier set a
// record costs one copy under a lock.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "exchange.h"

// The record is shared, never changed, between the log and the window: the
// window holding the same 10,000 rows costs no second copy of them.
struct TrafficEntry {
  uint64_t sequence;  // from 1, never reused in a run
  std::shared_ptr<const TraceRecord> record;
};

struct TrafficCounters {
  std::array<uint64_t, kExchangeOutcomes> byOutcome{};  // indexed by ExchangeOutcome
  uint64_t timed = 0;  // exchanges that brought a reply: the round trips below
  double minMs = 0, maxMs = 0, sumMs = 0;
  uint64_t Count(ExchangeOutcome outcome) const { return byOutcome[static_cast<size_t>(outcome)]; }
  double MeanMs() const { return timed ? sumMs / static_cast<double>(timed) : 0; }
};

class CTrafficLog {
 public:
  static constexpr size_t kCapacity = 10000;

  explicit CTrafficLog(size_t capacity = kCapacity) : m_capacity(capacity) {}
  CTrafficLog(const CTrafficLog&) = delete;
  CTrafficLog& operator=(const CTrafficLog&) = delete;

  // The run's log, which the exchange hook feeds.
  static CTrafficLog& Process();

  // Any thread. The oldest record drops off once the ring is full.
  void Record(const TraceRecord& record);
  // The records kept from sequence number `from` on, oldest first; re-arms
  // the notifier.
  std::vector<TrafficEntry> Since(uint64_t from);
  // Forgets every record and counter (sequence numbers go on).
  void Clear();
  TrafficCounters Counters() const;
  size_t Size() const;

  // `notify` is called on the recording thread after a record, once until
  // the next Since(); empty removes it. It must only post, never block.
  void SetNotifier(std::function<void()> notify);

 private:
  const size_t m_capacity;
  mutable std::mutex m_mutex;
  std::deque<TrafficEntry> m_ring;
  uint64_t m_nextSequence = 1;
  TrafficCounters m_counters;
  std::function<void()> m_notify;
  bool m_notified = false;  // a notification is on its way and not yet read
};
