#include "dialog/ReplyGate.h"

#include <QThread>

#include <condition_variable>
#include <deque>
#include <mutex>

struct CReplyGate::Question {
  std::function<void()> run;
  bool answered = false;
};

struct CReplyGate::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::shared_ptr<Question>> queue;
  bool closed = false;
};

CReplyGate::CReplyGate(QObject* parent) : QObject(parent), m_state(std::make_shared<State>()) {
  connect(this, &CReplyGate::Posted, this, &CReplyGate::RunQuestions, Qt::QueuedConnection);
}

CReplyGate::~CReplyGate() { Close(); }

bool CReplyGate::Wait(std::function<void()> run) {
  if (QThread::currentThread() == thread()) {
    run();
    return true;
  }
  const std::shared_ptr<State> state = m_state;
  const auto question = std::make_shared<Question>();
  question->run = std::move(run);
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    if (state->closed) return false;
    state->queue.push_back(question);
  }
  emit Posted();
  std::unique_lock<std::mutex> lock(state->mutex);
  state->changed.wait(lock, [&] { return question->answered || state->closed; });
  return question->answered;
}

void CReplyGate::RunQuestions() {
  const std::shared_ptr<State> state = m_state;
  for (;;) {
    std::shared_ptr<Question> question;
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      if (state->closed || state->queue.empty()) return;
      question = state->queue.front();
      state->queue.pop_front();
    }
    question->run();  // may open a message box
    std::lock_guard<std::mutex> lock(state->mutex);
    // Closed while it ran: its waiter has been released without the answer,
    // whether or not it has woken up yet.
    if (!state->closed) question->answered = true;
    state->changed.notify_all();
  }
}

void CReplyGate::Close() {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  m_state->closed = true;
  m_state->queue.clear();  // their waiters return without an answer
  m_state->changed.notify_all();
}
