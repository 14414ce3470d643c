// Record classification and the stamp tests, shared by the check scan and the
// repair pass.
//
// A stamp is field 1, one space and field 2 of a record: 19 characters
// "YYYY-MM-DD HH:MM:SS" when well formed. Stamps are byte strings (one byte,
// one character) and every test is a plain comparison of characters on fixed
// positions; a stamp is never turned into a calendar date.
#ifndef KXCHECK_CORE_STAMP_H_
#define KXCHECK_CORE_STAMP_H_

#include <array>
#include <bit>
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

// Null for the check scan: at least 17 bytes, bytes 1..16 all zero.
inline bool IsCheckNull(std::string_view buffer) {
  if (buffer.size() < 17) return false;
  // Read as words at offsets 0 and 8 and the byte at 16: a record just
  // copied into the buffer is still in the store queue, and loads that line
  // up with its stores are forwarded instead of stalling.
  uint64_t first;
  uint64_t second;
  std::memcpy(&first, buffer.data(), 8);
  std::memcpy(&second, buffer.data() + 8, 8);
  if constexpr (std::endian::native == std::endian::little) {
    first >>= 8;  // drop byte 0
  } else {
    first &= ~uint64_t{0} >> 8;
  }
  return (first | second) == 0 && buffer[16] == '\0';
}
// Null for the repair pass: at least 34 bytes, bytes 2..33 all zero.
bool IsRepairNull(std::string_view buffer);
// "-" at offsets 3 and 6 and ":" at 11 and 14. A buffer too short fails.
inline bool HasSeparatorBytes(std::string_view buffer) {
  return buffer.size() > 14 && buffer[3] == '-' && buffer[6] == '-' &&
         buffer[11] == ':' && buffer[14] == ':';
}

// Three-way comparison of two texts by character code (bytes taken as
// unsigned), a proper beginning sorting first: negative, 0 or positive.
inline int CompareText(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  size_t i = 0;
  // Eight characters at a time: read as big-endian numbers they order as
  // the texts do.
  for (; i + 8 <= n; i += 8) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little) {
        x = __builtin_bswap64(x);
        y = __builtin_bswap64(y);
      }
      return x < y ? -1 : 1;
    }
  }
  for (; i < n; ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Field 1, a space and field 2 into `stamp`, reusing its storage. The usual 10
// + 8 characters are read as the words the engine has just stored them with and
// written as whole words, so that neither these loads nor the tests' loads of
// the stamp have to wait for a store to finish.
inline void BuildStamp(std::string_view date, std::string_view time,
                       std::string& stamp) {
  if constexpr (std::endian::native == std::endian::little) {
    if (date.size() == 10 && time.size() == 8) {
      uint64_t head;
      uint16_t date_tail;
      uint64_t clock;
      std::memcpy(&head, date.data(), 8);
      std::memcpy(&date_tail, date.data() + 8, 2);
      std::memcpy(&clock, time.data(), 8);
      const uint64_t middle = date_tail | (uint64_t{' '} << 16) | (clock << 24);
      // Characters 17..19 and the terminating zero.
      const auto tail = static_cast<uint32_t>(clock >> 40);
      if (stamp.size() != 19) stamp.resize(19);
      std::memcpy(stamp.data(), &head, 8);
      std::memcpy(stamp.data() + 8, &middle, 8);
      std::memcpy(stamp.data() + 16, &tail, 4);
      return;
    }
  }
  stamp.assign(date);
  stamp += ' ';
  stamp.append(time);
}

// Field 1, a space, field 2, as a new text.
std::string MakeStamp(std::string_view date, std::string_view time);

// Characters i..j of a stamp, counted from 1; shorter or empty when the stamp
// is shorter.
std::string_view StampPart(std::string_view stamp, int i, int j);

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

// Whether the test fails for the stamp. `previous` is used by the order test,
// `year` (four digits) by the year test.
bool StampTestFails(StampTest test, std::string_view stamp,
                    std::string_view previous, std::string_view year);

// The seven field tests (year to separators) of a stamp at once: bit i is
// set when kAllStampTests[i] fails; bit 0, the order test, is never set.
// Answers exactly as StampTestFails does, faster for well-formed stamps.
uint32_t FailedFieldTests(std::string_view stamp, std::string_view year);

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
