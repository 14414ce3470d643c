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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// Whole-buffer equality of two byte strings. Sizes of 16 to 64 bytes, as
// records have, are compared inline in blocks of 16 (the last blocks
// overlapping the ones before).
inline bool SameBytes(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 16 || n > 64) {
    return n == 0 || std::memcmp(a.data(), b.data(), n) == 0;
  }
#if defined(__SSE2__)
  auto equal = [&](size_t at) {
    return _mm_cmpeq_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.data() + at)),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data() + at)));
  };
  __m128i same = _mm_and_si128(equal(0), equal(n - 16));
  if (n > 32) {
    same = _mm_and_si128(same, _mm_and_si128(equal(16), equal(n - 32)));
  }
  return _mm_movemask_epi8(same) == 0xFFFF;
#else
  return std::memcmp(a.data(), b.data(), n) == 0;
#endif
}

// to = from, reusing to's storage. When the sizes already match, as they do
// from record to record, the bytes are copied without any check, inline for
// 16 to 64 bytes. `from` must not lie within `to`.
inline void AssignBytes(std::string& to, std::string_view from) {
  const size_t n = from.size();
  if (to.size() != n || n == 0) {
    to.assign(from.data(), n);
    return;
  }
  char* out = to.data();
  if (n < 16 || n > 64) {
    std::memcpy(out, from.data(), n);
    return;
  }
  // All loads before the stores: the blocks overlap.
  char head[32];
  char tail[32];
  std::memcpy(head, from.data(), 16);
  std::memcpy(tail + 16, from.data() + n - 16, 16);
  if (n > 32) {
    std::memcpy(head + 16, from.data() + 16, 16);
    std::memcpy(tail, from.data() + n - 32, 16);
    std::memcpy(out, head, 32);
    std::memcpy(out + n - 32, tail, 32);
  } else {
    std::memcpy(out, head, 16);
    std::memcpy(out + n - 16, tail + 16, 16);
  }
}

// Null for the repair pass: at least 34 bytes, bytes 2..33 all zero.
inline bool IsRepairNull(std::string_view buffer) {
  if (buffer.size() < 34) return false;
  uint64_t words[4];
  std::memcpy(words, buffer.data() + 2, 32);
  return (words[0] | words[1] | words[2] | words[3]) == 0;
}
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

// CompareText for stamps held in strings. Two stamps of the usual 19
// characters are compared as three big-endian numbers: characters 1-8, 9-16
// and 17-19 with the string's terminating zero, read in the pieces that
// BuildStamp writes them in.
inline int CompareStamps(const std::string& a, const std::string& b) {
  if constexpr (std::endian::native == std::endian::little) {
    if (a.size() == 19 && b.size() == 19) {
      auto order = [](auto x, auto y) {
        if constexpr (sizeof x == 8) {
          x = __builtin_bswap64(x);
          y = __builtin_bswap64(y);
        } else {
          x = __builtin_bswap32(x);
          y = __builtin_bswap32(y);
        }
        return x < y ? -1 : 1;
      };
      uint64_t x;
      uint64_t y;
      std::memcpy(&x, a.data(), 8);
      std::memcpy(&y, b.data(), 8);
      if (x != y) return order(x, y);
      std::memcpy(&x, a.data() + 8, 8);
      std::memcpy(&y, b.data() + 8, 8);
      if (x != y) return order(x, y);
      uint32_t u;
      uint32_t v;
      std::memcpy(&u, a.c_str() + 16, 4);
      std::memcpy(&v, b.c_str() + 16, 4);
      if (u != v) return order(u, v);
      return 0;
    }
  }
  return CompareText(a, b);
}

// to = from for stamps. Stamps of the usual 19 characters are copied in the
// pieces that BuildStamp writes and CompareStamps reads: characters 1-8,
// 9-16, and 17-19 with the terminating zero.
inline void AssignStamp(std::string& to, const std::string& from) {
  if (to.size() == 19 && from.size() == 19) {
    std::memcpy(to.data(), from.data(), 8);
    std::memcpy(to.data() + 8, from.data() + 8, 8);
    std::memcpy(to.data() + 16, from.c_str() + 16, 4);
  } else {
    to = from;
  }
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

// The stamp of a table's current record into `stamp`: FieldGet(1), a space
// and FieldGet(2), the first call first. A table class may come with an
// overload of its own, found beside it by argument-dependent lookup, that
// gives the same text and fails in the same cases without making the two
// field texts.
template <class Table>
void ReadStamp(Table& table, std::string& stamp) {
  const std::string date = table.FieldGet(1);
  const std::string time = table.FieldGet(2);
  BuildStamp(date, time, stamp);
}

// Field 1, a space, field 2, as a new text.
std::string MakeStamp(std::string_view date, std::string_view time);

// Characters i..j of a stamp, counted from 1; shorter or empty when the stamp
// is shorter.
inline std::string_view StampPart(std::string_view stamp, int i, int j) {
  const auto from = static_cast<size_t>(i - 1);
  if (from >= stamp.size()) return {};
  return stamp.substr(from, static_cast<size_t>(j - i + 1));
}

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
// Answers exactly as StampTestFails does, faster for stamps of full length.
inline uint32_t FailedFieldTests(std::string_view stamp, std::string_view year);
// The same, test by test, for stamps of any length.
uint32_t FailedFieldTestsOneByOne(std::string_view stamp,
                                  std::string_view year);

// For two characters as they lie in memory (read as one native 16-bit
// number): bit 2 set when they fail the month test, 3 the day test, 4 the
// hour test, 5 and 6 the minute and second tests; the bits of
// FailedFieldTests.
extern const std::array<uint8_t, 65536> kTwoCharFailures;

inline uint32_t FailedFieldTests(std::string_view stamp,
                                 std::string_view year) {
  if (stamp.size() < 19 || year.size() != 4) [[unlikely]] {
    return FailedFieldTestsOneByOne(stamp, year);
  }
  // Every part is complete, so each test compares characters on fixed
  // positions of equal length: as big-endian numbers they order as the
  // texts do.
  const auto* p = reinterpret_cast<const unsigned char*>(stamp.data());
  const auto* y = reinterpret_cast<const unsigned char*>(year.data());
  auto four = [](const unsigned char* q) {
    return (uint32_t{q[0]} << 24) | (uint32_t{q[1]} << 16) |
           (uint32_t{q[2]} << 8) | uint32_t{q[3]};
  };
  // The failures of the two-character part at `at`, looked up.
  auto two = [p](int at) -> uint32_t {
    uint16_t pair;
    std::memcpy(&pair, p + at, 2);
    return kTwoCharFailures[pair];
  };
  const uint32_t stamp_year = four(p);
  uint32_t failed =
      static_cast<uint32_t>(
          (stamp_year < (uint32_t{'1'} << 24 | uint32_t{'9'} << 16 |
                         uint32_t{'9'} << 8 | '0')) |
          (stamp_year > four(y)))
      << 1;
  failed |= two(5) & (1u << 2);   // month
  failed |= two(8) & (1u << 3);   // day
  failed |= two(11) & (1u << 4);  // hour
  failed |= two(14) & (1u << 5);  // minute
  failed |= two(17) & (1u << 6);  // second
  failed |= static_cast<uint32_t>((p[4] != '-') | (p[7] != '-') |
                                  (p[13] != ':') | (p[16] != ':'))
            << 7;
  return failed;
}

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
