// How the alarm log is fetched and shown: the requests of one read (a
// single request for up to 24 entries, pages of 24 beyond that) and the
// cells of a row. Plain functions of the count and of the record bytes,
// apart from the window and the line.
#pragma once

#include <QStringList>

#include <cstdint>
#include <vector>

#include "registers.h"

// One Read File Record request of file 0x2010.
struct LogPage {
  uint16_t record;   // record number: 5 x the first entry of the request
  uint16_t entries;  // entries asked for, 0..24 (record length 5 x entries)
  int firstRow;      // list row of its first entry
};

struct LogReadPlan {
  // More than one request's worth: pages, each written after a pause, with
  // their own time format and failure message.
  bool paged = false;
  std::vector<LogPage> pages;
};

// Record numbers are 16 bits, so page 546 (record 65520) is the last one a
// request can name: 547 pages of 24, 13128 entries.
constexpr int kLastLogPage = 546;
constexpr int kAddressableLogEntries =
    (kLastLogPage + 1) * static_cast<int>(kLogEntriesPerRequest);

// The requests for a log of `count` entries. Up to 24: one request, sent
// even for 0. Beyond: pages of 24 and a last one with the rest, never past
// the addressable entries (a page number must not wrap round to record 0).
LogReadPlan PlanLogRead(int count);

// The "时间", "告警类型" and "告警长度" cells of the 10-byte entry at
// `entry`; the time as "YYYY/MM/DD HH:MM" from the BCD fields, whatever
// way the entry was read.
QStringList LogEntryCells(const uint8_t* entry);
