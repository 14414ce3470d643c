// Record classification and the stamp tests, shared by the check scan and the
// repair pass.
//
// A stamp is field 1, one space and field 2 of a record: 19 characters
// "YYYY-MM-DD HH:MM:SS" when well formed. Stamps are byte strings (one byte,
// one character) and every test is a plain comparison of characters on fixed
// positions; a stamp is never turned into a calendar date.
//
// The check scan runs the same tests on stamps in another form, kept by
// PackedStamp (packed_stamp.h), which answers exactly as the tests here do.
#ifndef KXCHECK_CORE_STAMP_H_
#define KXCHECK_CORE_STAMP_H_

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kxcheck {

// The previous stamp before any record has been examined.
inline constexpr std::string_view kStartStamp = "0000-00-00 00-00-00";
// The replacement for a bad stamp when no good one has been written yet.
inline constexpr std::string_view kFirstReplacementStamp =
    "2000-01-01 00:00:00";

// Null for the check scan: at least 17 bytes, bytes 1 to 16 all zero.
inline bool IsCheckNull(std::string_view buffer) {
  return buffer.size() >= 17 &&
         buffer.substr(1, 16).find_first_not_of('\0') == std::string_view::npos;
}

// Null for the repair pass: at least 34 bytes, bytes 2 to 33 all zero.
inline bool IsRepairNull(std::string_view buffer) {
  return buffer.size() >= 34 &&
         buffer.substr(2, 32).find_first_not_of('\0') == std::string_view::npos;
}

// "-" at offsets 3 and 6 and ":" at 11 and 14. A buffer too short fails.
inline bool HasSeparatorBytes(std::string_view buffer) {
  return buffer.size() > 14 && buffer[3] == '-' && buffer[6] == '-' &&
         buffer[11] == ':' && buffer[14] == ':';
}

// Field 1, a space, field 2, as a new text.
std::string MakeStamp(std::string_view date, std::string_view time);

// The stamp of a table's current record, FieldGet(1) first, into `stamp`,
// which is changed only once both fields have been read.
template <class Table>
inline void ReadStamp(Table& table, std::string& stamp) {
  char date_and_time[18];
  if (table.DateAndTimeText(date_and_time)) {
    stamp.resize(19);
    std::memcpy(stamp.data(), date_and_time, 10);
    stamp[10] = ' ';
    std::memcpy(stamp.data() + 11, date_and_time + 10, 8);
    return;
  }
  const std::string date = table.FieldGet(1);
  const std::string time = table.FieldGet(2);
  stamp.assign(date);
  stamp += ' ';
  stamp += time;
}

// Characters i to j of a stamp, counted from 1; shorter or empty when the
// stamp is shorter.
inline std::string_view StampPart(std::string_view stamp, int i, int j) {
  const auto from = static_cast<size_t>(i - 1);
  if (from >= stamp.size()) return {};
  return stamp.substr(from, static_cast<size_t>(j - i + 1));
}

// Compares two texts character code by character code, a proper beginning
// sorting first: negative, 0 or positive.
inline int CompareText(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Whether a part of a stamp lies below `low` or above `high`.
inline bool OutOfRange(std::string_view part, std::string_view low,
                       std::string_view high) {
  return CompareText(part, low) < 0 || CompareText(part, high) > 0;
}

// The stamp tests, each true when the test fails. `previous` is the stamp of
// the record examined before, `year` the current year as four digits.
inline bool OrderFails(std::string_view stamp, std::string_view previous) {
  return CompareText(stamp, previous) < 0;
}
inline bool YearFails(std::string_view stamp, std::string_view year) {
  return OutOfRange(StampPart(stamp, 1, 4), "1990", year);
}
inline bool MonthFails(std::string_view stamp) {
  return OutOfRange(StampPart(stamp, 6, 7), "01", "12");
}
inline bool DayFails(std::string_view stamp) {
  return OutOfRange(StampPart(stamp, 9, 10), "01", "31");
}
inline bool HourFails(std::string_view stamp) {
  return OutOfRange(StampPart(stamp, 12, 13), "00", "23");
}
inline bool MinuteFails(std::string_view stamp) {
  return OutOfRange(StampPart(stamp, 15, 16), "00", "59");
}
inline bool SecondFails(std::string_view stamp) {
  return OutOfRange(StampPart(stamp, 18, 19), "00", "59");
}
inline bool SeparatorsFail(std::string_view stamp) {
  return StampPart(stamp, 5, 5) != "-" || StampPart(stamp, 8, 8) != "-" ||
         StampPart(stamp, 14, 14) != ":" || StampPart(stamp, 17, 17) != ":";
}

// The tests in the order they run and their finding lines appear.
enum class StampTest {
  kOrder,
  kYear,
  kMonth,
  kDay,
  kHour,
  kMinute,
  kSecond,
  kSeparators,
};

inline constexpr std::array<StampTest, 8> kAllStampTests = {
    StampTest::kOrder,  StampTest::kYear,      StampTest::kMonth,
    StampTest::kDay,    StampTest::kHour,      StampTest::kMinute,
    StampTest::kSecond, StampTest::kSeparators};

// A test's bit in a set of failed tests: bit i for kAllStampTests[i].
inline constexpr uint32_t Bit(StampTest test) {
  return 1u << static_cast<int>(test);
}

// The test's name in lower case: "order", "year", ..., "separators".
const char* StampTestName(StampTest test);

// Whether the test fails for the stamp: the matching function above.
bool StampTestFails(StampTest test, std::string_view stamp,
                    std::string_view previous, std::string_view year);

// The suffix of the finding line for a failed test (bytes, not yet UTF-8).
std::string FindingSuffix(StampTest test, std::string_view previous);

// "Rec: " n " - " stamp suffix, as UTF-8 text for the results log.
std::string FindingLine(int64_t n, std::string_view stamp,
                        std::string_view suffix);

// The current year as four digits, for the year test.
std::string YearText(int year);

// "n / total" for ShowProgress.
std::string ProgressText(int64_t n, int64_t total);

}  // namespace kxcheck

#endif  // KXCHECK_CORE_STAMP_H_
