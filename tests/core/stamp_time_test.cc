#include "core/stamp_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr int kYear = 2026;

// Which stamps are real calendar times, and that those read back as
// written.
TEST(StampTimeTest, RealCalendarTimes) {
  struct Case {
    std::string stamp;
    bool real;
  };
  const std::vector<Case> cases = {
      {"1990-01-01 00:00:00", true},  // the first moment allowed
      {"1989-12-31 23:59:59", false},
      {"2026-12-31 23:59:59", true},  // the current year
      {"2027-01-01 00:00:00", false},
      {"2024-02-29 12:00:00", true},  // leap year
      {"2023-02-29 12:00:00", false},
      {"2000-02-29 12:00:00", true},  // divisible by 400
      {"2024-04-30 12:00:00", true},
      {"2024-04-31 12:00:00", false},  // the day test alone passes it
      {"2024-00-10 12:00:00", false},
      {"2024-13-10 12:00:00", false},
      {"2024-0:-10 12:00:00", false},  // passes the month test
      {"2024-03-00 12:00:00", false},
      {"2024-03-10 24:00:00", false},
      {"2024-03-10 23:60:00", false},
      {"2024-03-10 23:59:60", false},
      {"200\xfc-12-30 16:02:08", false},
      {std::string("2024-03-10 12:0\0:00", 19), false},
      {"2024-03-10 12:00:0", false},
      {"2024-03-10 12:00:000", false},
      {"", false},
      {"2024/03/10T12.00.00", true},  // separators are not looked at
  };
  for (const Case& c : cases) {
    int64_t seconds = -1;
    EXPECT_EQ(kxcheck::ReadStampTime(c.stamp, kYear, seconds), c.real)
        << c.stamp;
    if (c.real && kxcheck::HasStampSeparators(c.stamp)) {
      char written[19];
      kxcheck::WriteStampTime(seconds, written);
      EXPECT_EQ(std::string(written, 19), c.stamp);
    }
  }
  int64_t seconds = 0;
  ASSERT_TRUE(kxcheck::ReadStampTime("2000-03-01 00:00:01", kYear, seconds));
  EXPECT_EQ(seconds, 11017 * 86400 + 1);
}

TEST(StampTimeTest, DaysAndDatesAgreeOverTheYears) {
  const int64_t first = kxcheck::DaysFromCivil(1989, 12, 31);
  const int64_t last = kxcheck::DaysFromCivil(2031, 1, 1);
  EXPECT_EQ(kxcheck::DaysFromCivil(1970, 1, 1), 0);
  int year = 1989, month = 12, day = 31;
  for (int64_t days = first; days <= last; ++days) {
    int y, m, d;
    kxcheck::CivilFromDays(days, y, m, d);
    ASSERT_EQ(y * 10000 + m * 100 + d, year * 10000 + month * 100 + day)
        << days;
    ASSERT_EQ(kxcheck::DaysFromCivil(y, m, d), days);
    if (++day > kxcheck::DaysInMonth(year, month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
}

// The reader that keeps the last date answers as ReadStampTime does, also
// when the date stays and the time goes bad, and across dates.
TEST(StampTimeTest, ReaderAnswersAsReadStampTime) {
  const std::vector<std::string> stamps = {
      "2024-03-10 23:59:58", "2024-03-10 23:59:59", "2024-03-10 24:00:00",
      "2024-03-10 2x:00:00", "2024-03-10 12:00",    "2024-03-11 00:00:00",
      "2024-02-30 00:00:00", "2024-03-11 00:00:01", "2027-03-11 00:00:01",
      "2024-03-11 00:00:02",
  };
  kxcheck::StampTimeReader reader(kYear);
  for (const std::string& stamp : stamps) {
    int64_t expected = 0, seconds = 0;
    const bool real = kxcheck::ReadStampTime(stamp, kYear, expected);
    EXPECT_EQ(reader.Read(stamp, seconds), real) << stamp;
    if (real) {
      EXPECT_EQ(seconds, expected) << stamp;
    }
  }
}

}  // namespace
