#include "core/stamp.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>

#include "core/results_log.h"

namespace kxcheck {

namespace {

bool OutOfRange(std::string_view part, std::string_view low,
                std::string_view high) {
  return CompareText(part, low) < 0 || CompareText(part, high) > 0;
}

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
      return OutOfRange(StampPart(stamp, 6, 7), "01", "12");
    case StampTest::kDay:
      return OutOfRange(StampPart(stamp, 9, 10), "01", "31");
    case StampTest::kHour:
      return OutOfRange(StampPart(stamp, 12, 13), "00", "23");
    case StampTest::kMinute:
      return OutOfRange(StampPart(stamp, 15, 16), "00", "59");
    case StampTest::kSecond:
      return OutOfRange(StampPart(stamp, 18, 19), "00", "59");
    case StampTest::kSeparators:
      return StampPart(stamp, 5, 5) != "-" || StampPart(stamp, 8, 8) != "-" ||
             StampPart(stamp, 14, 14) != ":" || StampPart(stamp, 17, 17) != ":";
  }
  return false;
}

namespace {

constexpr std::array<uint8_t, 65536> MakeTwoCharFailures() {
  std::array<uint8_t, 65536> table{};
  for (uint32_t i = 0; i < table.size(); ++i) {
    // The characters in memory order, then as a big-endian number, which
    // orders as the two-character texts do.
    const uint32_t first =
        std::endian::native == std::endian::little ? i & 0xFF : i >> 8;
    const uint32_t second =
        std::endian::native == std::endian::little ? i >> 8 : i & 0xFF;
    const uint32_t v = (first << 8) | second;
    auto outside = [v](char a, char b, char c, char d) {
      const uint32_t low = (static_cast<uint32_t>(a) << 8) | b;
      const uint32_t high = (static_cast<uint32_t>(c) << 8) | d;
      return v < low || v > high;
    };
    uint8_t failures = 0;
    if (outside('0', '1', '1', '2')) failures |= 1u << 2;
    if (outside('0', '1', '3', '1')) failures |= 1u << 3;
    if (outside('0', '0', '2', '3')) failures |= 1u << 4;
    if (outside('0', '0', '5', '9')) failures |= (1u << 5) | (1u << 6);
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
