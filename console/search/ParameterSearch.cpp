#include "search/ParameterSearch.h"

#include <algorithm>
#include <iterator>

#include "window/Globals.h"
#include "adapter_latency.h"
#include "exchange.h"
#include "frame_codec.h"
#include "registers.h"
#include "remote_line.h"

namespace {

int RateIndexOf(int baud) {
  const auto* at = std::find(std::begin(kSearchRates), std::end(kSearchRates), baud);
  return at == std::end(kSearchRates) ? -1 : static_cast<int>(at - std::begin(kSearchRates));
}

}  // namespace

CParameterSearch::CParameterSearch(QObject* parent) : QObject(parent) {
  connect(this, &CParameterSearch::Reported, this, &CParameterSearch::Deliver,
          Qt::QueuedConnection);
}

CParameterSearch::~CParameterSearch() { End(); }

void CParameterSearch::Start(int port, const std::array<bool, kSearchRateCount>& ticked,
                             const std::vector<Probe>& first) {
  Job job;
  job.port = port;
  job.ticked = ticked;
  job.survey = m_bSurvey;
  KeepOneRateOnRawLine(port, job.ticked);
  // A raw line stays at its one rate: no first probe at another.
  const bool setsBaud = LineSetsBaud(PortPath(port));
  // With no rate ticked nothing is probed, as always.
  const bool anyTicked = std::find(job.ticked.begin(), job.ticked.end(), true) != job.ticked.end();
  for (const Probe& probe : anyTicked && !job.survey ? first : std::vector<Probe>{}) {
    const int i = RateIndexOf(probe.first);
    if (i < 0 || (!setsBaud && !job.ticked[i])) continue;
    if (std::find(job.first.begin(), job.first.end(), probe) == job.first.end()) job.first.push_back(probe);
  }
  job.generation = ++m_nGeneration;
  g_bSearching = 1;
  job.plan = m_plan = MakePlan(job);
  std::thread previous = std::move(m_worker);
  m_worker = std::thread([this, job, previous = std::move(previous)]() mutable {
    if (previous.joinable()) previous.join();
    Run(job);
    job.plan->Finished();
    emit Reported(job.generation, kProgress, 0, 0);
  });
}

void CParameterSearch::Stop() { g_bSearching = 0; }

void CParameterSearch::End() {
  g_bSearching = 0;
  ++m_nGeneration;
  if (m_worker.joinable()) m_worker.join();
}

void CParameterSearch::KeepOneRateOnRawLine(int port, std::array<bool, kSearchRateCount>& ticked) {
  m_nOneRate = 0;
  if (LineSetsBaud(PortPath(port))) return;
  const auto first = std::find(ticked.begin(), ticked.end(), true);
  if (first == ticked.end() || std::count(first, ticked.end(), true) == 1) return;
  std::fill(first + 1, ticked.end(), false);
  m_nOneRate = kSearchRates[first - ticked.begin()];
}

std::shared_ptr<CSearchPlan> CParameterSearch::MakePlan(const Job& job) const {
  CSearchPlan::Settings settings;
  settings.ticked = job.ticked;
  settings.quick = m_bQuick;
  settings.turnaroundMs = m_nTurnaroundMs;
  settings.extraProbes = static_cast<int>(std::count_if(
      job.first.begin(), job.first.end(), [&](const Probe& p) { return !job.ticked[RateIndexOf(p.first)]; }));
  if (m_bQuick) settings.adapterLatencyMs = AdapterLatencyMs(PortPath(job.port));
  return std::make_shared<CSearchPlan>(settings);
}

CSearchPlan::Progress CParameterSearch::Progress() const {
  if (m_plan) return m_plan->Now();
  CSearchPlan::Progress none;
  none.finished = true;
  return none;
}

bool CParameterSearch::Wanted(unsigned generation) const {
  return g_bSearching == 1 && m_nGeneration == generation;
}

// --- The worker ------------------------------------------------------------------------

// The worker's handle. A remote line keeps its one connection across the
// probes and takes each rate on it (a connection per probe would leave the
// server hundreds of sockets to close); a device is opened afresh for
// each probe.
class ProbePort {
 public:
  explicit ProbePort(int portNumber) : m_nPort(portNumber) {}
  ~ProbePort() { CloseDevice(m_port); }
  ProbePort(const ProbePort&) = delete;
  ProbePort& operator=(const ProbePort&) = delete;
  HPORT At(int baud) {
    const bool kept = m_port != nullptr && IsRemotePath(PortDevice(m_port));
    if (kept && (PortBaud(m_port) == baud || SetPortBaud(m_port, baud))) return m_port;
    CloseDevice(m_port);
    m_port = OpenDevice(PortPath(m_nPort), baud);
    return m_port;
  }
  void ProbeOver() {
    if (m_port == nullptr || IsRemotePath(PortDevice(m_port))) return;
    CloseDevice(m_port);
    m_port = nullptr;
  }

 private:
  const int m_nPort;
  HPORT m_port = nullptr;
};

void CParameterSearch::Run(const Job& job) {
  ProbePort probePort(job.port);
  // What is likely first: a controller that kept its settings answers the
  // first probe.
  for (const auto& [baud, address] : job.first)
    if (ProbeOne(job, probePort, baud, address) == Outcome::kEnded) return;
  for (int address = kSearchFirstAddress; address <= kSearchLastAddress; ++address) {
    for (size_t i = 0; i < kSearchRateCount; ++i) {
      if (!job.ticked[i]) continue;
      const Probe probe{kSearchRates[i], address};
      if (std::find(job.first.begin(), job.first.end(), probe) != job.first.end()) continue;
      if (ProbeOne(job, probePort, probe.first, address) == Outcome::kEnded) return;
    }
  }
  emit Reported(job.generation, job.survey ? kSurveyEnded : kNotFound, 0, 0);
}

CParameterSearch::Outcome CParameterSearch::ProbeOne(const Job& job, ProbePort& probePort, int baud,
                                                     int address) {
  if (!Wanted(job.generation)) return Outcome::kEnded;
  job.plan->ProbeStarted(baud, address);
  emit Reported(job.generation, kProgress, baud, address);
  HPORT port = probePort.At(baud);
  if (!port) {
    // The window keeps its searching look until the operator presses
    // "停止搜索".
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failure = LastOpenFailure();
    emit Reported(job.generation, kPortRefused, baud, address);
    return Outcome::kEnded;
  }
  const Outcome outcome = Judge(job, port, baud, address);
  probePort.ProbeOver();
  job.plan->ProbeEnded();
  return outcome;
}

CParameterSearch::Outcome CParameterSearch::Judge(const Job& job, HPORT port, int baud, int address) {
  ProbeReply heard = ProbeLine(port, address, *job.plan);
  // A reply spoilt once may be noise: asked again, two controllers at one
  // address spoil it again, noise does not.
  if (job.survey && heard.heard == ProbeReply::kGarbled) heard = ProbeLine(port, address, *job.plan);
  if (heard.heard == ProbeReply::kAnswer && !job.survey) {
    emit Reported(job.generation, kFound, baud, address);
    return Outcome::kEnded;
  }
  g_nSearchAddress = address;
  if (job.survey && heard.heard == ProbeReply::kAnswer)
    emit Reported(job.generation, kListed, baud, address, heard.value, heard.exception);
  else if (job.survey && heard.heard == ProbeReply::kGarbled)
    emit Reported(job.generation, kGarbled, baud, address);
  emit Reported(job.generation, kProbeFailed, baud, address);
  return Outcome::kMissed;
}

// One read of the A1 range register. Only a reply that names the probed
// station proves a controller there: a reply of another station, or one
// that comes too late and lands in a later probe's wait, must not put a
// wrong address into the window. The line is emptied before the request
// goes out, and a refused probe returns only once the line is quiet.
bool CParameterSearch::ProbeAddress(HPORT port, int address, const CSearchPlan& plan) {
  return ProbeLine(port, address, plan).heard == ProbeReply::kAnswer;
}

ProbeReply CParameterSearch::ProbeLine(HPORT port, int address, const CSearchPlan& plan) {
  uint8_t reply[ReadReplyLength(1)];
  const int baud = PortBaud(port);
  const ExchangeCounts got =
      ExchangeWaiting(port, BuildReadRequest(static_cast<uint8_t>(address), REG_A1_RANGE, 1),
                      reply, sizeof reply, plan.WaitMs(baud), plan.QuietMs());
  return ClassifyProbeReply(address, reply, got.read, got.waited);
}

// --- What the worker reports, on the window's thread ------------------------------

void CParameterSearch::Deliver(unsigned generation, int what, int baud, int address, int value,
                               int exception) {
  if (what == kPortRefused) {
    OpenFailure failure;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      failure = m_failure;
    }
    emit PortRefused(failure);
    return;
  }
  // A stopped worker's report that arrives after a new start is dropped.
  if (generation != m_nGeneration) return;
  if (what == kProgress) emit ProgressChanged();
  if (what == kProbeFailed) emit ProbeFailed(baud, address);
  if (what == kFound) emit Found(baud, address);
  if (what == kNotFound) emit NotFound();
  if (what == kListed) emit Listed(baud, address, value, exception);
  if (what == kGarbled) emit Garbled(baud, address);
  if (what == kSurveyEnded) emit SurveyEnded();
}
