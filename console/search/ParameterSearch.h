// The communication-parameter search, owned by the window: its worker
// thread, the plan of the latest search and its progress, and which search
// is the current one.
//
// The worker probes every station address (1 to 255) at every ticked rate
// on a port handle of its own, never the window's PortHandle, so it cannot
// close a port the window has opened. What it finds reaches the window's
// thread as queued signals that carry plain numbers only; the search hands
// the current search's on through its own signals and drops those of a
// search that has been replaced. Nothing from the worker waits for the
// window.
#pragma once

#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "search/SearchPlan.h"
#include "open_failure.h"
#include "serial_port.h"

// The worker's handle to the line (ParameterSearch.cpp).
class ProbePort;

class CParameterSearch : public QObject {
  Q_OBJECT

 public:
  explicit CParameterSearch(QObject* parent = nullptr);
  // As End().
  ~CParameterSearch() override;

  // The quick search: taken by the next search that starts.
  void SetQuick(bool on) { m_bQuick = on; }
  bool Quick() const { return m_bQuick; }
  void SetTurnaround(uint32_t ms) { m_nTurnaroundMs = ms; }
  // The survey ("搜索全部"): taken by the next search that starts. It does
  // not end at a find but goes on over every ticked rate and address,
  // reporting each controller (Listed) and each address whose replies
  // collide (Garbled), and ends with SurveyEnded.
  void SetSurvey(bool on) { m_bSurvey = on; }
  bool Survey() const { return m_bSurvey; }

  // Starts a search of `port` at the ticked rates (in the order of
  // kSearchRates), fixed from now on. The previous worker finishes at most
  // the probe it has under way; the new one waits for it on its own thread,
  // so the window never blocks and two workers never share the line.
  // `first` (baud, address) are probed before the sweep, in their order,
  // at any rate; the sweep then leaves them out. A survey probes
  // everything anyway and leaves `first` alone.
  using Probe = std::pair<int, int>;
  void Start(int port, const std::array<bool, kSearchRateCount>& ticked,
             const std::vector<Probe>& first = {});
  // The worker sees it before its next probe; the probe under way still
  // reports.
  void Stop();
  // The window is closing: the worker ends after its probe under way and
  // nothing of it is handed on any more.
  void End();

  // A raw TCP line cannot change its rate: the search then tries the first
  // ticked rate only. That rate when more were ticked, else 0.
  int OneRate() const { return m_nOneRate; }
  // The latest search's plan was a quick one.
  bool WasQuick() const { return m_plan && m_plan->Quick(); }
  // The latest search's progress; finished when none has started.
  CSearchPlan::Progress Progress() const;
  // The number (from 1) of the latest search's probe at `baud` and
  // `address`; 0 when it makes none there.
  int ProbeNumber(int baud, int address) const { return m_plan ? m_plan->NumberOf(baud, address) : 0; }

  // One probe on an open port at the plan's waits: does a controller answer
  // as `address`? ProbeLine says what it heard.
  static bool ProbeAddress(HPORT port, int address, const CSearchPlan& plan);
  static ProbeReply ProbeLine(HPORT port, int address, const CSearchPlan& plan);

 signals:
  // The current search, on the window's thread. A probe of `address` at
  // `baud` got no answer; one did; the scan ended without one.
  void ProbeFailed(int baud, int address);
  void Found(int baud, int address);
  void NotFound();
  // The current survey: a controller answered at `address` with `value`
  // (the register read) or an `exception` code; replies at `address` twice
  // failed their check; the survey has been over every probe.
  void Listed(int baud, int address, int value, int exception);
  void Garbled(int baud, int address);
  void SurveyEnded();
  // The worker could not open the port and has ended.
  void PortRefused(const OpenFailure& failure);
  // The plan's progress has moved (a probe began or ended, the search ended).
  void ProgressChanged();

  // From the worker's thread, queued to Deliver: `what` is a Report.
  void Reported(unsigned generation, int what, int baud, int address, int value = -1,
                int exception = 0);

 private:
  enum Report {
    kProgress, kProbeFailed, kFound, kNotFound, kPortRefused, kListed, kGarbled, kSurveyEnded
  };
  struct Job {
    unsigned generation = 0;
    int port = 0;
    std::array<bool, kSearchRateCount> ticked{};
    std::vector<Probe> first;
    bool survey = false;
    std::shared_ptr<CSearchPlan> plan;
  };
  enum class Outcome { kMissed, kEnded };
  // One probe of the worker, reported; kEnded when the search is over.
  Outcome ProbeOne(const Job& job, ProbePort& probePort, int baud, int address);
  // What the probe on `port` heard means for the job: a find ends a
  // search; a survey lists it and goes on.
  Outcome Judge(const Job& job, HPORT port, int baud, int address);
  // The raw-line rule on `ticked`; sets m_nOneRate.
  void KeepOneRateOnRawLine(int port, std::array<bool, kSearchRateCount>& ticked);
  std::shared_ptr<CSearchPlan> MakePlan(const Job& job) const;
  void Run(const Job& job);
  bool Wanted(unsigned generation) const;
  void Deliver(unsigned generation, int what, int baud, int address, int value, int exception);

  bool m_bQuick = false;
  bool m_bSurvey = false;
  uint32_t m_nTurnaroundMs = kDefaultSearchTurnaroundMs;
  int m_nOneRate = 0;
  std::shared_ptr<CSearchPlan> m_plan;  // the latest search's
  // Each start takes the next number, so a stopped worker can never be
  // revived by a later start, and its reports are known as stale.
  std::atomic<unsigned> m_nGeneration{0};
  std::mutex m_mutex;         // guards m_failure
  OpenFailure m_failure;      // the worker's, until the window takes it
  std::thread m_worker;       // the latest search's, joined at the end
};
