// A worker's question to the thread a gate lives on (a window's), and the
// worker's wait on its own side for the typed answer. The question runs
// there as a queued call; a gate that is closed (its window is ending)
// releases every waiter at once without an answer and runs no question any
// more, so that a window that waits for its worker and a worker that waits
// for its window never wait for each other.
//
// The questions travel in the gate's own queue under its own lock, and the
// queued call only wakes the gate's thread: the hand-over is plain
// standard-library synchronisation that a thread checker can follow.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class CReplyGate : public QObject {
  Q_OBJECT

 public:
  explicit CReplyGate(QObject* parent = nullptr);
  // Closes the gate.
  ~CReplyGate() override;

  // Runs `question` on the gate's thread and returns its answer; on that
  // thread itself at once. From another thread it waits until the question
  // has run (a message box it shows included); none once the gate is closed.
  template <class T>
  std::optional<T> Ask(std::function<T()> question) {
    // The answer outlives a waiter that was released while its question ran.
    auto answer = std::make_shared<std::optional<T>>();
    if (!Wait([answer, question = std::move(question)] { *answer = question(); }))
      return std::nullopt;
    return std::move(*answer);
  }
  // From now on no question runs: a waiter returns without an answer at
  // once, and a later question is not asked.
  void Close();

 signals:
  // A question waits: emitted by the asking thread, queued to RunQuestions.
  void Posted();

 private:
  struct Question;
  struct State;
  // True once `run` has run on the gate's thread.
  bool Wait(std::function<void()> run);
  void RunQuestions();

  std::shared_ptr<State> m_state;  // shared with the waiters
};
