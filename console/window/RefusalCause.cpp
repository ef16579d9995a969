#include "window/RefusalCause.h"

#include <algorithm>
#include <mutex>

namespace {

// No trace hook, or nothing sent since the last ForgetLastExchange().
thread_local std::optional<RefusalFacts> t_last;
std::mutex g_lastMutex;
std::optional<RefusalFacts> g_last;  // under g_lastMutex

QString Seconds(double ms) { return QString::number(ms / 1000.0, 'f', 1); }

QString Hex2(int value) { return QString::asprintf("%02X", value & 0xFF); }

QString WrongLengthText(const RefusalFacts& f) {
  if (f.received < f.expected)
    return QString::fromUtf8("应答不完整：只收到 %1 字节，应为 %2 字节（接线松动或波特率不对）。")
        .arg(f.received)
        .arg(f.expected);
  return QString::fromUtf8("应答过长：收到 %1 字节，应为 %2 字节（线路上可能还有其他设备在发送）。")
      .arg(f.received)
      .arg(f.expected);
}

QString OtherStationText(const RefusalFacts& f) {
  if (f.answered != f.asked)
    return QString::fromUtf8("应答来自站号 %1，不是 %2。").arg(f.answered).arg(f.asked);
  return QString::fromUtf8("应答的功能码是 %1，不是请求的 %2。")
      .arg(Hex2(f.answeredFunction), Hex2(f.function));
}

}  // namespace

RefusalFacts FactsOf(const TraceRecord& record) {
  RefusalFacts facts;
  facts.outcome = record.outcome;
  facts.exceptionCode = record.exceptionCode;
  facts.asked = record.request.empty() ? 0 : record.request[0];
  facts.function = record.request.size() > 1 ? record.request[1] : 0;
  facts.answered = record.reply.empty() ? 0 : record.reply[0];
  facts.answeredFunction = record.reply.size() > 1 ? record.reply[1] : 0;
  facts.expected = record.expected;
  // The read stops at the length awaited; the wait's count tells a long one.
  facts.received = std::max<size_t>(record.reply.size(), record.waited);
  facts.waitedMs = record.roundTripMs;
  return facts;
}

QString ExceptionMeaning(uint8_t code) {
  switch (code) {
    case 0x01: return QString::fromUtf8("非法功能");
    case 0x02: return QString::fromUtf8("非法数据地址");
    case 0x03: return QString::fromUtf8("非法数据值");
    case 0x04: return QString::fromUtf8("从站设备故障");
    case 0x05: return QString::fromUtf8("已确认，正在处理");
    case 0x06: return QString::fromUtf8("从站设备忙");
    case 0x08: return QString::fromUtf8("存储奇偶校验错");
    case 0x0A: return QString::fromUtf8("网关路径不可用");
    case 0x0B: return QString::fromUtf8("网关目标设备无应答");
    default: return QString::fromUtf8("未知异常");
  }
}

QString RefusalCause(const RefusalFacts& f) {
  if (f.portGone) return QString::fromUtf8("串口设备已断开（适配器被拔出？）：请重新接好后再试。");
  switch (f.outcome) {
    case ExchangeOutcome::Accepted: return {};
    case ExchangeOutcome::NoReply:
      return QString::fromUtf8(
                 "控制器在 %1 秒内没有应答：请检查地址、波特率和接线，或用“搜索参数”找到它。")
          .arg(Seconds(f.waitedMs));
    case ExchangeOutcome::BadCheck: return QString::fromUtf8("应答校验错：线路有干扰，或波特率不对。");
    case ExchangeOutcome::WrongLength: return WrongLengthText(f);
    case ExchangeOutcome::Exception:
      return QString::fromUtf8("控制器拒绝了请求（异常码 %1：%2）。")
          .arg(Hex2(f.exceptionCode), ExceptionMeaning(f.exceptionCode));
    case ExchangeOutcome::OtherStation: return OtherStationText(f);
  }
  return {};
}

void NoteExchange(const TraceRecord& record) {
  const RefusalFacts facts = FactsOf(record);
  t_last = facts;
  std::lock_guard<std::mutex> lock(g_lastMutex);
  g_last = facts;
}

std::optional<RefusalFacts> LastExchangeOnThisThread() { return t_last; }

std::optional<RefusalFacts> LastExchangeOfAnyThread() {
  std::lock_guard<std::mutex> lock(g_lastMutex);
  return g_last;
}

void ForgetLastExchange() { t_last.reset(); }

namespace {

QString CauseOf(const std::optional<RefusalFacts>& facts, bool gone) {
  if (!facts && !gone) return {};
  RefusalFacts shown = facts.value_or(RefusalFacts{});
  shown.portGone = gone;
  return RefusalCause(shown);
}

}  // namespace

QString LastRefusalCause(HPORT port) {
  return CauseOf(LastExchangeOnThisThread(), port && PortGone(port));
}

QString LastPollCause(bool gone) { return CauseOf(LastExchangeOfAnyThread(), gone); }
