#include "core/stamp.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/packed_stamp.h"
#include "core/record_bytes.h"

namespace {

using kxcheck::StampTest;

struct StampCase {
  StampTest test;
  std::string stamp;
  bool fails;
  std::string previous = std::string(kxcheck::kStartStamp);
};

// Each test on both sides of both of its limits, plus the odd cases that
// plain character comparison gives; the order test compares character
// codes.
TEST(StampTest, TestsOnTheirBoundaries) {
  const std::vector<StampCase> cases = {
      {StampTest::kYear, "1989-06-15 12:00:00", true},
      {StampTest::kYear, "1990-06-15 12:00:00", false},
      {StampTest::kYear, "2026-06-15 12:00:00", false},
      {StampTest::kYear, "2027-06-15 12:00:00", true},
      {StampTest::kYear, "199", true},  // shorter sorts first
      {StampTest::kYear, "", true},
      {StampTest::kYear, "\xC0\x30\x30\x30-06-15 12:00:00", true},
      {StampTest::kMonth, "2020-00-15 12:00:00", true},
      {StampTest::kMonth, "2020-01-15 12:00:00", false},
      {StampTest::kMonth, "2020-12-15 12:00:00", false},
      {StampTest::kMonth, "2020-13-15 12:00:00", true},
      {StampTest::kMonth, "2020-0:-15 12:00:00", false},  // ":" after "1"
      {StampTest::kMonth, "2020-1", false},  // "1" lies between "01", "12"
      {StampTest::kMonth, "2020-", true},
      {StampTest::kDay, "2020-06-00 12:00:00", true},
      {StampTest::kDay, "2020-06-01 12:00:00", false},
      {StampTest::kDay, "2020-02-31 12:00:00", false},  // any month
      {StampTest::kDay, "2020-06-32 12:00:00", true},
      {StampTest::kHour, "2020-06-15 00:00:00", false},
      {StampTest::kHour, "2020-06-15 23:00:00", false},
      {StampTest::kHour, "2020-06-15 24:00:00", true},
      {StampTest::kHour, "2020-06-15 -1:00:00", true},
      {StampTest::kMinute, "2020-06-15 12:00:00", false},
      {StampTest::kMinute, "2020-06-15 12:59:00", false},
      {StampTest::kMinute, "2020-06-15 12:60:00", true},
      {StampTest::kSecond, "2020-06-15 12:00:00", false},
      {StampTest::kSecond, "2020-06-15 12:00:59", false},
      {StampTest::kSecond, "2020-06-15 12:00:60", true},
      {StampTest::kSecond, "2020-06-15 12:00:5", false},  // "5" < "59"
      {StampTest::kSecond, "2020-06-15 12:00:", true},
      {StampTest::kSeparators, "2020-06-15 12:00:00", false},
      {StampTest::kSeparators, "2020-06-15T12:00:00", false},  // 11 free
      {StampTest::kSeparators, "2020/06-15 12:00:00", true},
      {StampTest::kSeparators, "2020-06/15 12:00:00", true},
      {StampTest::kSeparators, "2020-06-15 12-00:00", true},
      {StampTest::kSeparators, "2020-06-15 12:00-00", true},
      {StampTest::kSeparators, "2020-06-15 12:00", true},  // no 17th char
      {StampTest::kOrder, "2020-01-01 00:00:00", false},
      {StampTest::kOrder, "0000-00-00 00-00-00", false},
      {StampTest::kOrder, "0000-00-00 00:00:00", false},
      {StampTest::kOrder, "0000-00-00 00-00-0", true},
      {StampTest::kOrder, "0000-00-00 00 00 00", true},
      {StampTest::kOrder, "2020-01-01 00:00:00", false,
       "2020-01-01 00:00:00"},  // equal
      {StampTest::kOrder, "2020-01-01 00:00:00", true, "2020-01-01 00:00:01"},
      {StampTest::kOrder, "2020-01-01 00:00:02", false, "2020-01-01 00:00:01"},
      {StampTest::kOrder, "2020-01-01", true,
       "2020-01-01 00:00:00"},  // proper beginning
      {StampTest::kOrder, "2020-01-01 00:00:00", false, "2020-01-01"},
      // Codes above 127 sort after the digits, not before them.
      {StampTest::kOrder,
       "\xC0"
       "020-01-01 00:00:00",
       false, "2020-01-01 00:00:00"},
      {StampTest::kOrder, "2020-01-01 00:00:00", true,
       "\xC0"
       "020-01-01 00:00:00"},
  };
  for (const StampCase& c : cases) {
    EXPECT_EQ(kxcheck::StampTestFails(c.test, c.stamp, c.previous, "2026"),
              c.fails)
        << kxcheck::StampTestName(c.test) << " test on \"" << c.stamp
        << "\" after \"" << c.previous << "\"";
  }
}

TEST(StampTest, StampOfTwoEmptyFieldsFailsEveryTest) {
  std::string stamp = kxcheck::MakeStamp("", "");
  ASSERT_EQ(stamp, " ");
  for (StampTest test : kxcheck::kAllStampTests) {
    EXPECT_TRUE(
        kxcheck::StampTestFails(test, stamp, kxcheck::kStartStamp, "2026"))
        << kxcheck::StampTestName(test);
  }
}

TEST(StampTest, FindingLinesAsTheLogShowsThem) {
  struct LineCase {
    StampTest test;
    std::string previous;
    std::string suffix;  // after "Rec: 17 - <stamp>"
  };
  const std::string stamp = "2020-02-30 10:00:00";
  const std::vector<LineCase> cases = {
      {StampTest::kOrder, "2021-01-01 00:00:00",
       " Date is out of sequence with 2021-01-01 00:00:00"},
      {StampTest::kYear, "", " --> Year is invalid!"},
      {StampTest::kMonth, "", " --> Month is invalid!"},
      {StampTest::kDay, "", " --> Day is invalid!"},
      {StampTest::kHour, "", " --> Hour is invalid!"},
      {StampTest::kMinute, "", " --> Minute is invalid!"},
      {StampTest::kSecond, "", " --> Second is invalid!"},
      {StampTest::kSeparators, "", " --> Separator(s) is invalid!"},
  };
  for (const LineCase& c : cases) {
    EXPECT_EQ(kxcheck::FindingLine(17, stamp,
                                   kxcheck::FindingSuffix(c.test, c.previous)),
              "Rec: 17 - " + stamp + c.suffix);
  }
  // Record bytes above 127 become one character each, in UTF-8.
  EXPECT_EQ(
      kxcheck::FindingLine(2147483647, "2020-\xE9\x31-01 00:00:00",
                           kxcheck::FindingSuffix(StampTest::kOrder, "\xFF")),
      "Rec: 2147483647 - 2020-\xC3\xA9"
      "1-01 00:00:00 Date is out of "
      "sequence with \xC3\xBF");
}

// The field tests that fail for a stamp, one named test at a time: bit i for
// kAllStampTests[i].
uint32_t FailedOneByOne(std::string_view stamp, std::string_view year) {
  const bool fails[] = {false,
                        kxcheck::YearFails(stamp, year),
                        kxcheck::MonthFails(stamp),
                        kxcheck::DayFails(stamp),
                        kxcheck::HourFails(stamp),
                        kxcheck::MinuteFails(stamp),
                        kxcheck::SecondFails(stamp),
                        kxcheck::SeparatorsFail(stamp)};
  uint32_t failed = 0;
  for (size_t i = 0; i < std::size(fails); ++i) {
    if (fails[i]) failed |= 1u << i;
  }
  return failed;
}

// The packed form answers as the named tests do, for stamps made of the
// characters around every limit at every place, seen one after the other
// (so that runs of stamps share their first 16 characters) while the year
// changes; it orders and spells stamps as their texts do; and it keeps the
// bytes of records of every size.
TEST(StampTest, PackedStampAnswersAsTheNamedTests) {
  const std::string alphabet = std::string("\0 -/0123569:?\x7F\x80\xFF", 16);
  const std::string base = "2020-06-15 12:34:56";
  std::vector<std::string> stamps;
  for (size_t at = 0; at < base.size(); ++at) {
    for (char c : alphabet) {
      for (char d : alphabet) {
        std::string s = base;
        s[at] = c;
        if (at + 1 < s.size()) s[at + 1] = d;
        stamps.push_back(s);
      }
    }
  }
  // Every stamp under one year, then every year for one stamp.
  const std::vector<std::string> years = {"2026", "1990", "2019"};
  std::vector<std::pair<std::string, std::string>> runs;
  for (const std::string& year : years) {
    for (const std::string& s : stamps) runs.emplace_back(s, year);
  }
  for (const std::string& s : stamps) {
    for (const std::string& year : years) runs.emplace_back(s, year);
  }
  kxcheck::PackedStamp records[2];
  size_t previous_at = 0;
  for (const auto& [s, year] : runs) {
    kxcheck::PackedStamp& current = records[1 - previous_at];
    current.SetStamp(s);
    ASSERT_EQ(current.FailedFieldTests(year, records[previous_at]),
              FailedOneByOne(s, year))
        << testing::PrintToString(s) << " year " << year;
    previous_at = 1 - previous_at;
  }

  kxcheck::PackedStamp a;
  kxcheck::PackedStamp b;
  for (const std::string& s : stamps) {
    a.SetStamp(s);
    b.SetStamp(s.data(), s.data() + 11);
    char a_room[19];
    char b_room[19];
    ASSERT_EQ(a.StampText(a_room), s);
    ASSERT_EQ(b.StampText(b_room), s.substr(0, 10) + " " + s.substr(11));
  }
  for (size_t i = 0; i < stamps.size(); i += 7) {
    for (size_t j = 0; j < stamps.size(); j += 5) {
      a.SetStamp(stamps[i]);
      b.SetStamp(stamps[j]);
      ASSERT_EQ(a.OrderFails(b), kxcheck::OrderFails(stamps[i], stamps[j]))
          << testing::PrintToString(stamps[i]) << " after "
          << testing::PrintToString(stamps[j]);
    }
  }

  for (size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 41u, 63u, 64u, 65u}) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>('a' + i % 26);
    kxcheck::RecordBytes kept;
    kept.KeepBytes(std::string(n, '-'));
    kept.KeepBytes(bytes);
    EXPECT_TRUE(kept.HasBytes(bytes)) << n;
    for (size_t i = 0; i < n; ++i) {
      std::string other = bytes;
      other[i] = '\x80';
      ASSERT_FALSE(kept.HasBytes(other)) << n << " differs at " << i;
    }
  }
}

TEST(StampTest, CompareTextOrdersByCharacterCode) {
  struct Case {
    std::string a, b;
    int sign;
  };
  const std::vector<Case> cases = {
      {"", "", 0},
      {"", "a", -1},
      {"2020-01-01 00:00:00", "2020-01-01 00:00:00", 0},
      {"2020-01-01 00:00:00", "2020-01-01 00:00:01", -1},
      {"2020-01-01 00:00:00x", "2020-01-01 00:00:00", 1},
      {"2020-01-0", "2020-01-01", -1},
      {"2020-01-0\xFF", "2020-01-01", 1},
      {std::string("2020-01-\0", 9), "2020-01-0", -1},
      {"\x80", "\x7F", 1},
      {"2020-01-01 00:00:0\x80", "2020-01-01 00:00:0\x7F", 1},
  };
  for (const Case& c : cases) {
    int got = kxcheck::CompareText(c.a, c.b);
    EXPECT_EQ((got > 0) - (got < 0), c.sign) << c.a << " vs " << c.b;
    int back = kxcheck::CompareText(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " vs " << c.a;
  }
}

TEST(StampTest, ClassificationBytes) {
  std::string null17(17, '\0');
  std::string null_with_head = null17;
  null_with_head[0] = '\x20';  // byte 0 is not looked at
  std::string null_with_tail = null17 + "payload";
  std::string byte16 = null17;
  byte16[16] = 'x';
  EXPECT_TRUE(kxcheck::IsCheckNull(null17));
  EXPECT_TRUE(kxcheck::IsCheckNull(null_with_head));
  EXPECT_TRUE(kxcheck::IsCheckNull(null_with_tail));
  EXPECT_FALSE(kxcheck::IsCheckNull(std::string(16, '\0')));
  EXPECT_FALSE(kxcheck::IsCheckNull(byte16));
  EXPECT_FALSE(kxcheck::IsCheckNull(""));

  const std::string good =
      "\x20"
      "20-01-0112:00:00xyz";
  ASSERT_EQ(good[3], '-');
  ASSERT_EQ(good[14], ':');
  EXPECT_TRUE(kxcheck::HasSeparatorBytes(good));
  EXPECT_TRUE(kxcheck::HasSeparatorBytes(good.substr(0, 15)));
  EXPECT_FALSE(kxcheck::HasSeparatorBytes(good.substr(0, 14)));
  for (size_t at : {3u, 6u, 11u, 14u}) {
    std::string bad = good;
    bad[at] = '/';
    EXPECT_FALSE(kxcheck::HasSeparatorBytes(bad)) << "offset " << at;
  }
}

TEST(StampTest, PartsYearAndProgressTexts) {
  EXPECT_EQ(kxcheck::StampPart("2020-06-15 12:34:56", 18, 19), "56");
  EXPECT_EQ(kxcheck::StampPart("2020-0", 6, 7), "0");
  EXPECT_EQ(kxcheck::StampPart("2020", 6, 7), "");
  EXPECT_EQ(kxcheck::StampPart("20200", 5, 5), "0");
  EXPECT_EQ(kxcheck::YearText(2026), "2026");
  EXPECT_EQ(kxcheck::YearText(999), "0999");
  EXPECT_EQ(kxcheck::ProgressText(0, 2500), "0 / 2500");
  EXPECT_EQ(kxcheck::ProgressText(2147483647, 2147483647),
            "2147483647 / 2147483647");
}

}  // namespace
