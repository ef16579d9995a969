#include "alarmlog/LogPages.h"

#include <QString>

#include <algorithm>
#include <iterator>

#include "window/Messages.h"
#include "frame_codec.h"

namespace {

constexpr int kPerRequest = static_cast<int>(kLogEntriesPerRequest);

LogPage PageAt(int page, int entries) {
  const int first = page * kPerRequest;
  return {static_cast<uint16_t>(first * kLogEntryRegisters), static_cast<uint16_t>(entries), first};
}

}  // namespace

LogReadPlan PlanLogRead(int count) {
  LogReadPlan plan;
  if (count <= kPerRequest) {
    plan.pages.push_back(PageAt(0, std::max(count, 0)));
    return plan;
  }
  plan.paged = true;
  const int entries = std::min(count, kAddressableLogEntries);
  const int pages = (entries + kPerRequest - 1) / kPerRequest;
  plan.pages.reserve(static_cast<size_t>(pages));
  for (int page = 0; page < pages; ++page)
    plan.pages.push_back(PageAt(page, std::min(kPerRequest, entries - page * kPerRequest)));
  return plan;
}

QStringList LogEntryCells(const uint8_t* entry) {
  const unsigned year = GetU16(entry);
  const unsigned month = entry[2], day = entry[3], hour = entry[4], minute = entry[5];
  // QString::asprintf formats in the C locale, whatever Qt set the process to.
  const QString time = QString::asprintf("%04X/%02X/%02X %02X:%02X", year, month, day, hour, minute);
  const unsigned type = GetU16(entry + 6);
  const QString typeText =
      type < std::size(kTextAlarmStates) ? QString::fromUtf8(kTextAlarmStates[type]) : QString();
  const QString length = QString::asprintf("%.2fm", GetU16(entry + 8) * 0.01);
  return {time, typeText, length};
}
