#include "search/SearchPlan.h"

#include <algorithm>
#include <cmath>

#include "exchange.h"
#include "frame_codec.h"
#include "registers.h"

namespace {

constexpr uint8_t kReadFunction = 0x03;
constexpr uint8_t kReadException = 0x83;
constexpr size_t kExceptionBytes = 5;

}  // namespace

CSearchPlan::CSearchPlan(const Settings& settings) : m_settings(settings) {
  const auto ticked = std::count(settings.ticked.begin(), settings.ticked.end(), true);
  m_nTotal = static_cast<int>(ticked) * (kSearchLastAddress - kSearchFirstAddress + 1) +
             settings.extraProbes;
}

uint32_t CSearchPlan::WaitMs(int baud) const {
  if (!m_settings.quick)
    return ReplyTimeout(baud, kProbeRequestBytes, kProbeReplyBytes, kNormalProbeTimeoutMs);
  return QuickProbeWait(baud, kProbeRequestBytes, kProbeReplyBytes, m_settings.turnaroundMs,
                        kHostLatencyMs + m_settings.adapterLatencyMs);
}

uint32_t CSearchPlan::QuietMs() const {
  if (!m_settings.quick) return kQuietAfterNothingMs;
  // A quick probe that brought no byte ends with its wait. A reply that
  // comes after it is thrown away by the next probe's purge, or lands in
  // that probe's wait, where it names another station (or, at another rate,
  // is noise) and is refused, and the line is then settled as after any
  // refused reply. Waiting out a frame gap here would protect nothing and
  // cost a tenth of the search (30 ms a probe at 1200 baud).
  return 0;
}

int CSearchPlan::RateIndex(int baud) {
  for (size_t i = 0; i < kSearchRateCount; ++i)
    if (kSearchRates[i] == baud) return static_cast<int>(i);
  return -1;
}

void CSearchPlan::ProbeStarted(int baud, int address) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bStarted = true;
  ++m_nNumber;
  m_nBaud = baud;
  m_nAddress = address;
  m_probeStart = Clock::now();
}

void CSearchPlan::ProbeEnded() {
  std::lock_guard<std::mutex> lock(m_mutex);
  const int i = RateIndex(m_nBaud);
  if (i < 0) return;
  m_spentMs[i] += std::chrono::duration<double, std::milli>(Clock::now() - m_probeStart).count();
  ++m_probes[i];
}

void CSearchPlan::Finished() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bFinished = true;
}

double CSearchPlan::ExpectedMs(size_t i) const {
  if (m_probes[i] > 0) return m_spentMs[i] / m_probes[i];
  // A rate not measured yet: its wait, plus what the measured probes took
  // beyond theirs.
  double overMs = 0;
  int measured = 0;
  for (size_t r = 0; r < kSearchRateCount; ++r) {
    if (m_probes[r] == 0) continue;
    overMs += m_spentMs[r] - m_probes[r] * static_cast<double>(WaitMs(kSearchRates[r]));
    measured += m_probes[r];
  }
  const double over = measured > 0 ? std::max(0.0, overMs / measured) : 0.0;
  return WaitMs(kSearchRates[i]) + over;
}

std::array<int, kSearchRateCount> CSearchPlan::Remaining() const {
  // Address outer, rates inner: every ticked rate is still to come at each
  // later address, and at this address those after the current one.
  std::array<int, kSearchRateCount> left{};
  const int current = RateIndex(m_nBaud);
  for (size_t i = 0; i < kSearchRateCount; ++i) {
    if (!m_settings.ticked[i]) continue;
    left[i] = kSearchLastAddress - m_nAddress + (static_cast<int>(i) > current ? 1 : 0);
  }
  return left;
}

CSearchPlan::Progress CSearchPlan::Now() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  Progress p;
  p.started = m_bStarted;
  p.finished = m_bFinished;
  p.number = m_nNumber;
  p.total = m_nTotal;
  p.baud = m_nBaud;
  p.address = m_nAddress;
  if (!m_bStarted) return p;
  const std::array<int, kSearchRateCount> left = Remaining();
  double ms = 0;
  for (size_t i = 0; i < kSearchRateCount; ++i) ms += left[i] * ExpectedMs(i);
  // The probe under way: what it is expected to take, less what it has.
  const int current = RateIndex(m_nBaud);
  if (current >= 0) {
    const double spent =
        std::chrono::duration<double, std::milli>(Clock::now() - m_probeStart).count();
    ms += std::max(0.0, ExpectedMs(static_cast<size_t>(current)) - spent);
  }
  p.leftMs = static_cast<int64_t>(std::ceil(ms));
  return p;
}

int CSearchPlan::NumberOf(int baud, int address) const {
  const int rate = RateIndex(baud);
  if (rate < 0 || !m_settings.ticked[static_cast<size_t>(rate)] || address < 1) return 0;
  int ticked = 0, before = 0;
  for (size_t i = 0; i < kSearchRateCount; ++i) {
    if (!m_settings.ticked[i]) continue;
    ++ticked;
    if (static_cast<int>(i) < rate) ++before;
  }
  return (address - 1) * ticked + before + 1;
}

QString TimeLeftText(int64_t ms) {
  const int64_t seconds = (std::max<int64_t>(ms, 0) + 999) / 1000;
  if (seconds < 60) return QString::asprintf("%lld 秒", static_cast<long long>(seconds));
  return QString::asprintf("%lld 分 %lld 秒", static_cast<long long>(seconds / 60),
                           static_cast<long long>(seconds % 60));
}

QString SearchProgressText(const CSearchPlan::Progress& progress) {
  QString text = QString::asprintf("第 %d/%d 次", progress.number, progress.total);
  if (progress.leftMs >= 0) text += QStringLiteral("，约剩 ") + TimeLeftText(progress.leftMs);
  return text;
}

bool IsProbeAnswer(int address, const uint8_t* reply, size_t read, uint32_t waited) {
  if (reply == nullptr || read < kExceptionBytes || reply[0] != address) return false;
  // A read's reply is judged against the request by station and function
  // only, so any one-register read of `address` stands for the probe's.
  const Frame request = BuildReadRequest(static_cast<uint8_t>(address), REG_A1_RANGE, 1);
  if (reply[1] == kReadFunction)
    return IsReplyValid(request, reply, kProbeReplyBytes, read, waited);
  // An exception passes everything the acceptance test asks but the function.
  return reply[1] == kReadException &&
         CheckReply(request, reply, kExceptionBytes, read, waited) == ReplyFault::Function;
}

ProbeReply ClassifyProbeReply(int address, const uint8_t* reply, size_t read, uint32_t waited) {
  ProbeReply heard;
  if (IsProbeAnswer(address, reply, read, waited)) {
    heard.heard = ProbeReply::kAnswer;
    if (reply[1] == kReadFunction)
      heard.value = reply[3] << 8 | reply[4];
    else
      heard.exception = reply[2];
  } else if (read >= kExceptionBytes && reply[0] == address &&
             (reply[1] == kReadFunction || reply[1] == kReadException)) {
    heard.heard = ProbeReply::kGarbled;
  }
  return heard;
}
