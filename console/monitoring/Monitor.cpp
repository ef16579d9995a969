#include "monitoring/Monitor.h"

#include <utility>

#include "window/CommandPort.h"
#include "frame_codec.h"
#include "registers.h"

namespace {

constexpr uint32_t kPollPauseMs = 50;  // before each request, as the controller expects

}  // namespace

CMonitor::CMonitor(QObject* parent) : QObject(parent) {
  // The worker only wakes the window's thread; the outcome itself passes
  // under the worker's lock (Take), where a thread checker can follow it.
  connect(this, &CMonitor::Woken, this, &CMonitor::OnWoken, Qt::QueuedConnection);
}

// The worker ends first: no wake-up comes from it after this.
CMonitor::~CMonitor() { m_pPoller.reset(); }

void CMonitor::Begin(int port, int baud) {
  if (!m_pPoller) m_pPoller = std::make_unique<ExchangeWorker>();
  ++m_nGeneration;
  m_bRunning = true;
  m_nPort = port;
  m_nBaud = baud;
}

void CMonitor::End() {
  ++m_nGeneration;
  if (m_pPoller) m_pPoller->Cancel();
  m_bRunning = false;
  m_bPolling = false;
  m_bTickPending = false;
}

bool CMonitor::Tick() {
  if (!m_bRunning) return false;
  if (m_bPolling) m_bTickPending = true;
  return !m_bPolling;
}

bool CMonitor::TakeTick() { return std::exchange(m_bTickPending, false); }

bool CMonitor::StartPoll(HPORT port, uint8_t address, bool factory) {
  if (!m_bRunning) return false;
  const BlockRead& block = factory ? kFactoryStatusBlock : kMeasurementStatusBlock;
  m_bPollFactory = factory;
  const unsigned generation = ++m_nGeneration;
  m_bPolling = m_pPoller->Start(port, BuildReadRequest(address, block.first, block.count),
                                block.replyLength, kCommandTimeoutMs, kPollPauseMs,
                                [this, generation] { emit Woken(generation); });
  return m_bPolling;
}

void CMonitor::OnWoken(unsigned generation) {
  // A stop calls the poll under way off and drops its outcome; a wake-up of
  // a poll before the last start changes nothing.
  if (!m_bRunning || generation != m_nGeneration) return;
  const std::optional<WorkerReply> taken = m_pPoller->Take();
  if (!taken) return;
  m_bPolling = false;
  emit PollDone(m_bPollFactory, *taken);
}
