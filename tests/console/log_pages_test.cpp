// The requests of a log read and the cells of a row, apart from the window.
#include <gtest/gtest.h>

#include <vector>

#include "alarmlog/LogPages.h"

namespace {

struct PlanCase {
  int count;
  bool paged;
  size_t pages;
  LogPage first, last;
};

bool operator==(const LogPage& a, const LogPage& b) {
  return a.record == b.record && a.entries == b.entries && a.firstRow == b.firstRow;
}

TEST(LogPages, OneRequestUpTo24ThenPagesOf24) {
  const PlanCase cases[] = {
      {0, false, 1, {0, 0, 0}, {0, 0, 0}},  // the request goes out even for 0
      {-3, false, 1, {0, 0, 0}, {0, 0, 0}},
      {1, false, 1, {0, 1, 0}, {0, 1, 0}},
      {24, false, 1, {0, 24, 0}, {0, 24, 0}},
      {25, true, 2, {0, 24, 0}, {120, 1, 24}},
      {48, true, 2, {0, 24, 0}, {120, 24, 24}},
      {49, true, 3, {0, 24, 0}, {240, 1, 48}},
      {72, true, 3, {0, 24, 0}, {240, 24, 48}},
      {13127, true, 547, {0, 24, 0}, {65520, 23, 13104}},
      {13128, true, 547, {0, 24, 0}, {65520, 24, 13104}},
      // Beyond what 16-bit record numbers name: the addressable entries, and
      // no page that wraps round to record 0 (page 547 would ask for 104).
      {13129, true, 547, {0, 24, 0}, {65520, 24, 13104}},
      {65535, true, 547, {0, 24, 0}, {65520, 24, 13104}},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.count);
    const LogReadPlan plan = PlanLogRead(c.count);
    EXPECT_EQ(plan.paged, c.paged);
    ASSERT_EQ(plan.pages.size(), c.pages);
    EXPECT_TRUE(plan.pages.front() == c.first);
    EXPECT_TRUE(plan.pages.back() == c.last);
  }
}

TEST(LogPages, PagesFollowOneAnotherWithoutGapOrRepeat) {
  const LogReadPlan plan = PlanLogRead(13129);
  int next = 0;
  for (const LogPage& page : plan.pages) {
    EXPECT_EQ(page.firstRow, next);
    EXPECT_EQ(page.record, next * 5);
    next += page.entries;
  }
  EXPECT_EQ(next, 13128);
}

struct CellCase {
  std::vector<uint8_t> entry;
  QStringList cells;
};

// One time format for every row, "YYYY/MM/DD HH:MM", whichever way the log
// was read; a byte that is no BCD shows its hex digits in upper case.
TEST(LogPages, RowCells) {
  const CellCase cases[] = {
      {{0x20, 0x15, 0x09, 0x07, 0x08, 0x05, 0x00, 0x01, 0x04, 0xD2}, {"2015/09/07 08:05", "水浸", "12.34m"}},
      {{0x20, 0x26, 0x12, 0x3A, 0x2B, 0x5C, 0x00, 0x00, 0x00, 0x00}, {"2026/12/3A 2B:5C", "无告警", "0.00m"}},
      {{0x20, 0x26, 0x1A, 0x3A, 0x2B, 0x5C, 0x00, 0x02, 0xFF, 0xFF}, {"2026/1A/3A 2B:5C", "断线", "655.35m"}},
      // A year of 0 keeps its four digits; types beyond 2 leave the cell empty.
      {{0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x00, 0x03, 0x00, 0x07}, {"0000/01/02 03:04", "", "0.07m"}},
      {{0x99, 0x99, 0x01, 0x02, 0x03, 0x04, 0x01, 0x00, 0x00, 0x64}, {"9999/01/02 03:04", "", "1.00m"}},
  };
  for (const CellCase& c : cases) EXPECT_EQ(LogEntryCells(c.entry.data()), c.cells);
}

}  // namespace
