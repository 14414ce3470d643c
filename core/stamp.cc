#include "core/stamp.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "core/results_log.h"

namespace kxcheck {

namespace {

bool OutOfRange(std::string_view part, std::string_view low,
                std::string_view high) {
  return CompareText(part, low) < 0 || CompareText(part, high) > 0;
}

// The tests of two-character parts: where the part starts in the stamp
// (counted from 1) and the texts it must lie between. Its bit in
// FailedFieldTests is the test's own number.
struct TwoCharTest {
  StampTest test;
  int first;
  char low[3];
  char high[3];
};
static_assert(static_cast<int>(StampTest::kMonth) == 2 &&
              static_cast<int>(StampTest::kSecond) == 6 &&
              kAllStampTests[2] == StampTest::kMonth &&
              kAllStampTests[6] == StampTest::kSecond);
constexpr TwoCharTest kTwoCharTests[] = {
    {StampTest::kMonth, 6, "01", "12"},   {StampTest::kDay, 9, "01", "31"},
    {StampTest::kHour, 12, "00", "23"},   {StampTest::kMinute, 15, "00", "59"},
    {StampTest::kSecond, 18, "00", "59"},
};

}  // namespace

std::string MakeStamp(std::string_view date, std::string_view time) {
  std::string stamp;
  BuildStamp(date, time, stamp);
  return stamp;
}

bool StampTestFails(StampTest test, std::string_view stamp,
                    std::string_view previous, std::string_view year) {
  switch (test) {
    case StampTest::kOrder:
      return CompareText(stamp, previous) < 0;
    case StampTest::kYear:
      return OutOfRange(StampPart(stamp, 1, 4), "1990", year);
    case StampTest::kMonth:
    case StampTest::kDay:
    case StampTest::kHour:
    case StampTest::kMinute:
    case StampTest::kSecond:
      for (const TwoCharTest& t : kTwoCharTests) {
        if (t.test == test) {
          return OutOfRange(StampPart(stamp, t.first, t.first + 1), t.low,
                            t.high);
        }
      }
      return false;
    case StampTest::kSeparators:
      return StampPart(stamp, 5, 5) != "-" || StampPart(stamp, 8, 8) != "-" ||
             StampPart(stamp, 14, 14) != ":" || StampPart(stamp, 17, 17) != ":";
  }
  return false;
}

namespace {

constexpr std::array<uint8_t, 65536> MakeTwoCharFailures() {
  // Each test's bounds as big-endian numbers, which order as the texts do.
  constexpr size_t kTests = std::size(kTwoCharTests);
  uint32_t low[kTests] = {};
  uint32_t high[kTests] = {};
  uint8_t bit[kTests] = {};
  for (size_t t = 0; t < kTests; ++t) {
    auto number = [](const char* text) {
      return (static_cast<uint32_t>(static_cast<unsigned char>(text[0])) << 8) |
             static_cast<unsigned char>(text[1]);
    };
    low[t] = number(kTwoCharTests[t].low);
    high[t] = number(kTwoCharTests[t].high);
    bit[t] =
        static_cast<uint8_t>(1u << static_cast<int>(kTwoCharTests[t].test));
  }
  std::array<uint8_t, 65536> table{};
  for (uint32_t i = 0; i < table.size(); ++i) {
    // The first character is the low byte; as a big-endian number the two
    // order as the texts do.
    const uint32_t v = ((i & 0xFF) << 8) | (i >> 8);
    uint8_t failures = 0;
    for (size_t t = 0; t < kTests; ++t) {
      if (v < low[t] || v > high[t]) failures |= bit[t];
    }
    table[i] = failures;
  }
  return table;
}

}  // namespace

// Worked out by the compiler.
constexpr std::array<uint8_t, 65536> kTwoCharFailures = MakeTwoCharFailures();

uint32_t FailedFieldTestsOneByOne(std::string_view stamp,
                                  std::string_view year) {
  uint32_t failed = 0;
  for (size_t i = 1; i < kAllStampTests.size(); ++i) {
    if (StampTestFails(kAllStampTests[i], stamp, {}, year)) failed |= 1u << i;
  }
  return failed;
}

std::string FindingSuffix(StampTest test, std::string_view previous) {
  switch (test) {
    case StampTest::kOrder:
      return " Date is out of sequence with " + std::string(previous);
    case StampTest::kYear:
      return " --> Year is invalid!";
    case StampTest::kMonth:
      return " --> Month is invalid!";
    case StampTest::kDay:
      return " --> Day is invalid!";
    case StampTest::kHour:
      return " --> Hour is invalid!";
    case StampTest::kMinute:
      return " --> Minute is invalid!";
    case StampTest::kSecond:
      return " --> Second is invalid!";
    case StampTest::kSeparators:
      return " --> Separator(s) is invalid!";
  }
  return {};
}

std::string FindingLine(int64_t n, std::string_view stamp,
                        std::string_view suffix) {
  std::string line = "Rec: " + std::to_string(n) + " - ";
  line += BytesToText(stamp);
  line += BytesToText(suffix);
  return line;
}

std::string YearText(int year) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", year);
  return text;
}

std::string ProgressText(int64_t n, int64_t total) {
  return std::to_string(n) + " / " + std::to_string(total);
}

}  // namespace kxcheck
