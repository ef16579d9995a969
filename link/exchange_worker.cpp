#include "exchange_worker.h"

ExchangeWorker::ExchangeWorker() : thread_([this] { Run(); }) {}

ExchangeWorker::~ExchangeWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    if (busy_) cancel_.Cancel();
  }
  changed_.notify_all();
  thread_.join();
}

bool ExchangeWorker::Start(HPORT port, const Frame& request, size_t replyLen,
                           uint32_t timeoutMs, uint32_t pauseMs, Done done) {
  if (replyLen == 0 || replyLen > kMaxFrameBytes) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (busy_ || quit_) return false;
    busy_ = true;
    job_ = Job{port, request, replyLen, timeoutMs, pauseMs, std::move(done)};
  }
  changed_.notify_all();
  return true;
}

void ExchangeWorker::Cancel() {
  std::unique_lock<std::mutex> lock(mutex_);
  outcome_.reset();
  if (!busy_) return;
  cancel_.Cancel();
  changed_.wait(lock, [this] { return !busy_; });
  // Nobody waits on it now; the next exchange runs in full.
  cancel_.Reset();
}

std::optional<WorkerReply> ExchangeWorker::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<WorkerReply> outcome = std::move(outcome_);
  outcome_.reset();
  return outcome;
}

bool ExchangeWorker::Busy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return busy_;
}

void ExchangeWorker::Run() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return quit_ || job_.has_value(); });
      if (quit_) return;
      job = std::move(*job_);
      job_.reset();
    }
    RunJob(job);
  }
}

void ExchangeWorker::RunJob(Job& job) {
  WorkerReply outcome;
  outcome.length = job.replyLen;
  outcome.accepted = ::Exchange(job.port, job.request, outcome.reply.data(), job.replyLen,
                                job.timeoutMs, job.pauseMs, &cancel_);
  outcome.gone = PortGone(job.port);
  bool deliver = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Called off while it ran: nobody wants to hear of it.
    deliver = !cancel_.IsCancelled();
    if (deliver) outcome_ = outcome;
    busy_ = false;
  }
  changed_.notify_all();
  if (deliver && job.done) job.done();
}
