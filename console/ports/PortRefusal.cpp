#include "ports/PortRefusal.h"

#include "dialog/MessageService.h"
#include "window/Messages.h"
#include "traffic/Trace.h"

namespace {

QString HeldText(const OpenFailure& failure) {
  const char* format = failure.pid <= 0 ? kTextHeldByUnknown
                       : failure.detail.empty() ? kTextHeldByProcess
                                                : kTextHeldByProgram;
  return QString::fromUtf8(format)
      .replace(QStringLiteral("%3"), QString::number(failure.pid));
}

QString Format(OpenCause cause, const OpenFailure& failure) {
  switch (cause) {
    case OpenCause::NoBaudRate: return QString::fromUtf8(kTextNoBaudRate);
    case OpenCause::NoDevice: return QString::fromUtf8(kTextNoDevice);
    case OpenCause::NoPermission: return QString::fromUtf8(kTextNoPermission);
    case OpenCause::InUse: return HeldText(failure);
    case OpenCause::BadLockFile: return QString::fromUtf8(kTextBadLockFile);
    case OpenCause::Other: return QString::fromUtf8(kTextOpenError);
    case OpenCause::Unreachable: return QStringLiteral("%2");  // "无法连接 HOST:PORT：..."
    case OpenCause::None: break;
  }
  return QString();
}

}  // namespace

QString PortRefusalText(const OpenFailure& failure) {
  // %1 and %2 by hand: a device path or a system message may hold a "%".
  QString text = Format(failure.cause, failure);
  text.replace(QStringLiteral("%2"), QString::fromStdString(failure.detail));
  return text.replace(QStringLiteral("%1"), QString::fromStdString(failure.device));
}

void ShowPortRefusal(const OpenFailure& failure) {
  AppMessage(QString::fromUtf8(kTextPortMissing), PortRefusalText(failure));
}

void ShowUnplugged(const std::string& device) {
  const OpenFailure gone{OpenCause::NoDevice, device, "", 0, "unplugged"};
  TraceNote(device + " not opened: " + gone.why);
  ShowPortRefusal(gone);
}
