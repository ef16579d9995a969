#include "controller.h"

#include <algorithm>
#include <iterator>

#include "device_model.h"
#include "frame_codec.h"
#include "register_table.h"
#include "registers.h"

namespace sim {
namespace {

constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalAddress = 2;
constexpr uint8_t kIllegalValue = 3;

// The controller answers a file-record read with at most 24 entries' worth:
// 247 bytes, a response data length of 242.
constexpr size_t kMaxFileRecordReply = 247;

// What one function makes of a request: the reply's bytes after the
// function code, or an exception code.
struct Outcome {
  uint8_t exception = 0;
  std::vector<uint8_t> data;
};
Outcome Fail(uint8_t code) { return {code, {}}; }

// `req` is the whole frame less its check bytes, `len` its length.
using Service = Outcome (*)(DeviceModel&, const uint8_t* req, size_t len);

void PushU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v & 0xFF));
}

// A write's reply repeats the register and the value or count it was given.
Outcome Acknowledge(const uint8_t* req) { return {0, {req + 2, req + 6}}; }

Outcome ReadHolding(DeviceModel& m, const uint8_t* req, size_t len) {
  if (len != 6) return Fail(kIllegalValue);
  const uint16_t first = GetU16(req + 2);
  const uint16_t count = GetU16(req + 4);
  if (count == 0 || count > 125) return Fail(kIllegalValue);
  // The factory status block is asked for with count 15 and always carries
  // sixteen registers, through the clock's last one.
  const bool factoryBlock = first == kFactoryStatusBlock.first &&
                            count == kFactoryStatusBlock.count;
  const size_t carried = factoryBlock ? count + 1u : count;
  if (first + carried > 0x10000 || !AllMapped(first, carried)) {
    return Fail(kIllegalAddress);
  }
  m.Refresh();
  Outcome out;
  out.data.push_back(static_cast<uint8_t>(2 * carried));
  for (size_t i = 0; i < carried; ++i) {
    PushU16(out.data, m.Get(static_cast<uint16_t>(first + i)));
  }
  return out;
}

Outcome WriteSingle(DeviceModel& m, const uint8_t* req, size_t len) {
  if (len != 6) return Fail(kIllegalValue);
  const uint16_t value = GetU16(req + 4);
  if (uint8_t e = m.Write(GetU16(req + 2), &value, 1)) return Fail(e);
  return Acknowledge(req);  // the echo
}

Outcome WriteMultiple(DeviceModel& m, const uint8_t* req, size_t len) {
  if (len < 7) return Fail(kIllegalValue);
  const uint16_t count = GetU16(req + 4);
  const uint8_t bytes = req[6];
  if (count == 0 || count > 123 || bytes != 2 * count || len != 7u + bytes) {
    return Fail(kIllegalValue);
  }
  uint16_t values[123];
  for (uint16_t i = 0; i < count; ++i) values[i] = GetU16(req + 7 + 2 * i);
  if (uint8_t e = m.Write(GetU16(req + 2), values, count)) return Fail(e);
  return Acknowledge(req);
}

Outcome ReadFileRecord(DeviceModel& m, const uint8_t* req, size_t len) {
  constexpr size_t kSubRequest = 7;
  if (len < 3) return Fail(kIllegalValue);
  const size_t bytes = req[2];
  if (bytes < kSubRequest || bytes > 0xF5 || bytes % kSubRequest != 0 ||
      len != 3 + bytes) {
    return Fail(kIllegalValue);
  }
  Outcome out;
  out.data.push_back(0);  // response data length, filled in below
  for (const uint8_t* sub = req + 3; sub < req + len; sub += kSubRequest) {
    const uint16_t file = GetU16(sub + 1);
    const uint16_t record = GetU16(sub + 3);
    const uint16_t length = GetU16(sub + 5);
    if (sub[0] != 6) return Fail(kIllegalValue);
    if (file != kLogFileNumber) return Fail(kIllegalAddress);
    // The whole reply, station to check bytes, within kMaxFileRecordReply.
    if (2 + out.data.size() + 2 + 2 * size_t{length} + 2 > kMaxFileRecordReply) {
      return Fail(kIllegalValue);
    }
    out.data.push_back(static_cast<uint8_t>(1 + 2 * length));
    out.data.push_back(6);
    if (!m.Log().ReadRecords(record, length, out.data)) return Fail(kIllegalAddress);
  }
  out.data[0] = static_cast<uint8_t>(out.data.size() - 1);
  return out;
}

struct Function {
  uint8_t code;
  bool writes;  // a write: carried out when sent to station 0 as well
  Service serve;
};

constexpr Function kFunctions[] = {
    {0x03, false, &ReadHolding},
    {0x06, true, &WriteSingle},
    {0x10, true, &WriteMultiple},
    {0x14, false, &ReadFileRecord},
};

const Function* FindFunction(uint8_t code) {
  const auto it = std::find_if(std::begin(kFunctions), std::end(kFunctions),
                               [code](const Function& f) { return f.code == code; });
  return it == std::end(kFunctions) ? nullptr : it;
}

void AppendCheck(std::vector<uint8_t>& frame) {
  PushU16(frame, Crc16(frame.data(), frame.size()));
}

}  // namespace

Controller::Controller(const ControllerOptions& options)
    : model_(std::make_unique<DeviceModel>(options)) {}

Controller::~Controller() = default;

std::vector<uint8_t> Controller::ExceptionReply(uint8_t address, uint8_t function,
                                                uint8_t code) {
  std::vector<uint8_t> frame{address, static_cast<uint8_t>(function | 0x80), code};
  AppendCheck(frame);
  return frame;
}

std::vector<uint8_t> Controller::Handle(const uint8_t* request, size_t len) {
  return Serve(request, len, false);
}

std::vector<uint8_t> Controller::AnswerAsAnyStation(const uint8_t* request, size_t len) {
  return Serve(request, len, true);
}

std::vector<uint8_t> Controller::Serve(const uint8_t* request, size_t len,
                                       bool anyStation) {
  // Shorter than station, function and check: line noise.
  if (request == nullptr || len < 4) return {};
  if (Crc16(request, len - 2) != GetU16(request + len - 2)) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  const uint8_t station = request[0];
  const uint8_t code = request[1];
  const bool broadcast = station == 0;
  const bool own = station == model_->Address();
  if (!broadcast && !own && !anyStation) return {};
  const Function* function = FindFunction(code);
  if (broadcast) {
    if (function != nullptr && function->writes) {
      function->serve(*model_, request, len - 2);
      model_->ApplyLineSettings();
    }
    return {};
  }
  if (function == nullptr) return ExceptionReply(station, code, kIllegalFunction);
  // Another station's write is not ours to carry out.
  const Outcome outcome = own || !function->writes
                              ? function->serve(*model_, request, len - 2)
                              : Acknowledge(request);
  if (outcome.exception != 0) return ExceptionReply(station, code, outcome.exception);
  std::vector<uint8_t> reply{station, code};
  reply.insert(reply.end(), outcome.data.begin(), outcome.data.end());
  AppendCheck(reply);
  if (own) model_->ApplyLineSettings();  // the reply above still carries the old ones
  return reply;
}

uint8_t Controller::Address() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_->Address();
}

int Controller::Baud() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_->Baud();
}

void Controller::SetScenario(Scenario scenario, double leakPositionM) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_->SetScenario(scenario, leakPositionM);
}

Scenario Controller::CurrentScenario() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_->CurrentScenario();
}

void Controller::FillLog(size_t entries) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_->FillLog(entries);
}

void Controller::AppendLogEntry(const LogEntry& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_->AppendLogEntry(entry);
}

size_t Controller::LogCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_->Log().Count();
}

std::vector<LogEntry> Controller::Log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_->Log().Entries();
}

uint16_t Controller::Register(uint16_t reg) const {
  std::lock_guard<std::mutex> lock(mutex_);
  model_->Refresh();
  return model_->Get(reg);
}

void Controller::SetRegister(uint16_t reg, uint16_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_->Pin(reg, value);
}

float Controller::FloatRegister(uint16_t reg) const {
  std::lock_guard<std::mutex> lock(mutex_);
  model_->Refresh();
  return model_->GetFloat(reg);
}

void Controller::SetFloatRegister(uint16_t reg, float value) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_->PinFloat(reg, value);
}

}  // namespace sim
