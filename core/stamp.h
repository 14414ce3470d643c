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
  if (buffer.size() < 16) {
    return buffer.size() > 14 && buffer[3] == '-' && buffer[6] == '-' &&
           buffer[11] == ':' && buffer[14] == ':';
  }
  // Bytes 3 and 6 of the words at offsets 0 and 8.
  uint64_t first;
  uint64_t second;
  std::memcpy(&first, buffer.data(), 8);
  std::memcpy(&second, buffer.data() + 8, 8);
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kMask = uint64_t{0xFF} << 24 | uint64_t{0xFF} << 48;
    return (first & kMask) == (uint64_t{'-'} << 24 | uint64_t{'-'} << 48) &&
           (second & kMask) == (uint64_t{':'} << 24 | uint64_t{':'} << 48);
  } else {
    return buffer[3] == '-' && buffer[6] == '-' && buffer[11] == ':' &&
           buffer[14] == ':';
  }
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

// A stamp of the usual 19 characters as three numbers whose bytes, lowest
// first, are its characters: 1-8, 9-16, and 17-19 followed by a zero. The
// check scan builds, compares, tests and keeps stamps in this form, which
// stays in registers; the pieces are the ones BuildStamp writes a text in.
struct StampWords {
  uint64_t head = 0;
  uint64_t middle = 0;
  uint32_t tail = 0;

  // The first 19 characters of `text`.
  static StampWords Of(const char* text) {
    StampWords w;
    w.head = Little(text, 8);
    w.middle = Little(text + 8, 8);
    w.tail = static_cast<uint32_t>(Little(text + 16, 3));
    return w;
  }
  // A date of 10 characters, a space and a time of 8.
  static StampWords Join(std::string_view date, std::string_view time) {
    const uint64_t clock = Little(time.data(), 8);
    StampWords w;
    w.head = Little(date.data(), 8);
    w.middle =
        Little(date.data() + 8, 2) | (uint64_t{' '} << 16) | (clock << 24);
    w.tail = static_cast<uint32_t>(clock >> 40);
    return w;
  }
  // `n` (at most 8) characters as a number, the first one lowest. Fewer
  // than 8 are put together from single bytes: copied into a zeroed number
  // they would be stored in pieces and loaded whole, which stalls the load.
  static uint64_t Little(const char* p, size_t n) {
    uint64_t v = 0;
    if (std::endian::native == std::endian::little && n == 8) {
      std::memcpy(&v, p, 8);
      return v;
    }
    for (size_t i = 0; i < n; ++i) {
      v |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    }
    return v;
  }
  // The 19 characters and a zero byte into `out`.
  void Store(char* out) const {
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out, &head, 8);
      std::memcpy(out + 8, &middle, 8);
      std::memcpy(out + 16, &tail, 4);
    } else {
      for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<char>(head >> (8 * i));
        out[8 + i] = static_cast<char>(middle >> (8 * i));
      }
      for (int i = 0; i < 4; ++i)
        out[16 + i] = static_cast<char>(tail >> (8 * i));
    }
  }
  // The two characters from character `at` (counted from 0) of a number,
  // the first one lowest.
  static uint32_t Pair(uint64_t word, int at) {
    return static_cast<uint32_t>(word >> (8 * at)) & 0xFFFF;
  }
};

// CompareText for two stamps of 19 characters: negative, 0 or positive.
// Byte-reversed, each number orders as its characters do.
inline int CompareStampWords(const StampWords& a, const StampWords& b) {
  auto order = [](uint64_t x, uint64_t y) {
    return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
  };
  if (a.head != b.head) return order(a.head, b.head);
  if (a.middle != b.middle) return order(a.middle, b.middle);
  if (a.tail != b.tail) {
    return __builtin_bswap32(a.tail) < __builtin_bswap32(b.tail) ? -1 : 1;
  }
  return 0;
}

// CompareText for stamps held in strings; two of the usual 19 characters are
// compared as StampWords.
inline int CompareStamps(const std::string& a, const std::string& b) {
  if (a.size() == 19 && b.size() == 19) {
    return CompareStampWords(StampWords::Of(a.data()),
                             StampWords::Of(b.data()));
  }
  return CompareText(a, b);
}

// to = from for stamps. Stamps of the usual 19 characters are copied in the
// pieces that StampWords::Store writes: characters 1-8, 9-16, and 17-19 with
// the terminating zero.
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
// + 8 characters are written as StampWords.
inline void BuildStamp(std::string_view date, std::string_view time,
                       std::string& stamp) {
  if (date.size() == 10 && time.size() == 8) {
    if (stamp.size() != 19) stamp.resize(19);
    StampWords::Join(date, time).Store(stamp.data());
    return;
  }
  stamp.assign(date);
  stamp += ' ';
  stamp.append(time);
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

// For two characters, the first one in the low byte: bit 2 set when they
// fail the month test, 3 the day test, 4 the hour test, 5 and 6 the minute
// and second tests; the bits of FailedFieldTests.
extern const std::array<uint8_t, 65536> kTwoCharFailures;

// The year test's bound, "YYYY", as a number that orders as the texts do.
inline uint32_t YearBound(std::string_view year) {
  uint32_t bound = 0;
  for (size_t i = 0; i < 4 && i < year.size(); ++i) {
    bound = (bound << 8) | static_cast<unsigned char>(year[i]);
  }
  return bound;
}

// FailedFieldTests for a stamp of 19 characters (or the first 19 of a longer
// one) and a year of 4 characters, given as YearBound(year), in two parts:
// the tests that look at characters 1-16 only (year to minute, and the
// separators at 5, 8 and 14), and those that look at characters 17-19 (the
// second and the separator at 17). Every part is complete, so each test
// compares characters on fixed positions.
inline uint32_t FailedFrontTests(const StampWords& s, uint32_t year_bound) {
  const uint32_t stamp_year = __builtin_bswap32(static_cast<uint32_t>(s.head));
  uint32_t failed =
      static_cast<uint32_t>(
          (stamp_year < (uint32_t{'1'} << 24 | uint32_t{'9'} << 16 |
                         uint32_t{'9'} << 8 | '0')) |
          (stamp_year > year_bound))
      << 1;
  failed |= kTwoCharFailures[StampWords::Pair(s.head, 5)] & (1u << 2);
  failed |= kTwoCharFailures[StampWords::Pair(s.middle, 0)] & (1u << 3);
  failed |= kTwoCharFailures[StampWords::Pair(s.middle, 3)] & (1u << 4);
  failed |= kTwoCharFailures[StampWords::Pair(s.middle, 6)] & (1u << 5);
  // "-" as characters 5 and 8, ":" as 14.
  constexpr uint64_t kHeadMask = uint64_t{0xFF} << 32 | uint64_t{0xFF} << 56;
  constexpr uint64_t kHeadWant = uint64_t{'-'} << 32 | uint64_t{'-'} << 56;
  const bool separators =
      ((s.head & kHeadMask) == kHeadWant) & (((s.middle >> 40) & 0xFF) == ':');
  failed |= static_cast<uint32_t>(!separators) << 7;
  return failed;
}
inline uint32_t FailedTailTests(uint32_t tail) {
  return (kTwoCharFailures[StampWords::Pair(tail, 1)] & (1u << 6)) |
         (static_cast<uint32_t>((tail & 0xFF) != ':') << 7);
}
inline uint32_t FailedFieldTests(const StampWords& s, uint32_t year_bound) {
  return FailedFrontTests(s, year_bound) | FailedTailTests(s.tail);
}

inline uint32_t FailedFieldTests(std::string_view stamp,
                                 std::string_view year) {
  if (stamp.size() < 19 || year.size() != 4) [[unlikely]] {
    return FailedFieldTestsOneByOne(stamp, year);
  }
  return FailedFieldTests(StampWords::Of(stamp.data()), YearBound(year));
}

// A stamp as the check scan carries it from record to record: the usual 19
// characters as StampWords, or a text of any other length in a string that
// the scan owns.
struct HeldStamp {
  StampWords words;
  const std::string* text = nullptr;  // set when not 19 characters

  // The stamp's text; `room` holds it when the stamp is words.
  std::string_view Text(char (&room)[20]) const {
    if (text != nullptr) return *text;
    words.Store(room);
    return {room, 19};
  }
};

// The same as CompareStamps on the texts.
[[gnu::always_inline]] inline int CompareStamps(const HeldStamp& a,
                                                const HeldStamp& b) {
  if (a.text == nullptr && b.text == nullptr) [[likely]] {
    return CompareStampWords(a.words, b.words);
  }
  char a_room[20];
  char b_room[20];
  return CompareText(a.Text(a_room), b.Text(b_room));
}

// FailedFieldTests over the stamps of a scan, in which each one usually
// shares characters 1-16 with the one before, as readings logged within the
// same minute do: the tests of those characters are worked out again only
// when they or the year change.
class FieldTestRun {
 public:
  // `year_bound` is YearBound(year).
  [[gnu::always_inline]] uint32_t Failed(const HeldStamp& stamp,
                                         std::string_view year,
                                         uint32_t year_bound) {
    if (stamp.text != nullptr || year.size() != 4) [[unlikely]] {
      char room[20];
      return FailedFieldTests(stamp.Text(room), year);
    }
    const StampWords& s = stamp.words;
    if (!known_ || s.head != head_ || s.middle != middle_ ||
        year_bound != year_bound_) {
      known_ = true;
      head_ = s.head;
      middle_ = s.middle;
      year_bound_ = year_bound;
      front_ = FailedFrontTests(s, year_bound);
    }
    return front_ | FailedTailTests(s.tail);
  }

 private:
  bool known_ = false;
  uint64_t head_ = 0;
  uint64_t middle_ = 0;
  uint32_t year_bound_ = 0;
  uint32_t front_ = 0;
};

// The stamp of a table's current record: FieldGet(1), a space and
// FieldGet(2), the first call first. A text of another length than 19 goes
// into `room`, which must not hold the text of a stamp still in use. A table
// class may come with an overload of its own, found beside it by
// argument-dependent lookup, that gives the same stamp and fails in the same
// cases without making the two field texts.
template <class Table>
HeldStamp ReadHeldStamp(Table& table, std::string& room) {
  const std::string date = table.FieldGet(1);
  const std::string time = table.FieldGet(2);
  HeldStamp stamp;
  if (date.size() == 10 && time.size() == 8) {
    stamp.words = StampWords::Join(date, time);
  } else {
    BuildStamp(date, time, room);
    stamp.text = &room;
  }
  return stamp;
}

// The same stamp as a text in `stamp`, which is changed only once both fields
// have been read.
template <class Table>
void ReadStamp(Table& table, std::string& stamp) {
  const HeldStamp held = ReadHeldStamp(table, stamp);
  if (held.text == nullptr) {
    if (stamp.size() != 19) stamp.resize(19);
    held.words.Store(stamp.data());
  }
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
