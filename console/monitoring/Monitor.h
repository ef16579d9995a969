// Live monitoring's own state, owned by the window: the exchange worker that
// runs each poll off the window's thread, the port and rate monitoring
// started with, the poll under way and a tick that came meanwhile.
//
// The window begins and ends a run and starts each poll; the outcome comes
// back on the window's thread through PollDone. Each run and each poll takes
// the next generation number, so the wake-up of a poll that a stop called
// off, come late, is known as stale and hands nothing back.
#pragma once

#include <QObject>

#include <cstdint>
#include <memory>

#include "exchange_worker.h"

class CMonitor : public QObject {
  Q_OBJECT

 public:
  explicit CMonitor(QObject* parent = nullptr);
  ~CMonitor() override;

  // A run begins: `port` and `baud` are what a vanished adapter is reopened
  // with.
  void Begin(int port, int baud);
  // The run ends: the poll under way is called off at once (its pause and
  // reply wait end) and whatever it would have handed back is dropped; only
  // then may the port close under it.
  void End();
  bool Running() const { return m_bRunning; }
  int Port() const { return m_nPort; }
  int Baud() const { return m_nBaud; }

  // A tick of the run: true when a poll may start now. Never two at once on
  // the line: while one is under way the tick is kept, and TakeTick says so
  // once its outcome has been handed back.
  bool Tick();
  bool TakeTick();
  // Sends one read of the measurement block (or of the factory block) to
  // `address` on `port`, which stays the caller's; false when the worker
  // refused it.
  bool StartPoll(HPORT port, uint8_t address, bool factory);

 signals:
  // A poll's outcome, on the window's thread; `factory` as it was started.
  void PollDone(bool factory, const WorkerReply& outcome);
  // From the worker's thread: a poll of `generation` is over. Queued, so
  // that the outcome is taken on the window's thread.
  void Woken(unsigned generation);

 private:
  void OnWoken(unsigned generation);

  std::unique_ptr<ExchangeWorker> m_pPoller;  // made at the first run
  unsigned m_nGeneration = 0;
  bool m_bRunning = false;
  bool m_bPolling = false;      // a poll is under way
  bool m_bPollFactory = false;  // it reads the factory block
  bool m_bTickPending = false;  // a tick came meanwhile
  int m_nPort = 0;
  int m_nBaud = 0;
};
