// The outcome of an exchange as the traffic view names it. Judged from the
// bytes, not from the acceptance test: a reply the test lets through but that
// came from another station is still shown as such.
#include "exchange.h"

namespace {

constexpr size_t kExceptionLength = 5;  // address, function | 0x80, code, check
constexpr uint8_t kExceptionBit = 0x80;

bool CheckMatches(const std::vector<uint8_t>& frame) {
  const size_t n = frame.size();
  if (n < 3) return false;
  return Crc16(frame.data(), n - 2) == (frame[n - 2] << 8 | frame[n - 1]);
}

ExchangeOutcome Judge(const TraceRecord& r, uint8_t& exceptionCode) {
  const std::vector<uint8_t>& reply = r.reply;
  if (reply.empty()) return ExchangeOutcome::NoReply;
  const bool checked = CheckMatches(reply);
  const bool sameStation = r.request.empty() || reply[0] == r.request[0];
  const uint8_t function = r.request.size() > 1 ? r.request[1] : 0;
  if (checked && !sameStation) return ExchangeOutcome::OtherStation;
  if (checked && reply.size() == kExceptionLength && reply[1] == (function | kExceptionBit)) {
    exceptionCode = reply[2];
    return ExchangeOutcome::Exception;
  }
  if (reply.size() != r.expected || r.waited != r.expected) return ExchangeOutcome::WrongLength;
  if (!checked) return ExchangeOutcome::BadCheck;
  if (reply.size() > 1 && reply[1] != function) return ExchangeOutcome::OtherStation;
  return r.accepted ? ExchangeOutcome::Accepted : ExchangeOutcome::OtherStation;
}

}  // namespace

void ClassifyExchange(TraceRecord& record) {
  record.exceptionCode = 0;
  record.outcome = Judge(record, record.exceptionCode);
}
