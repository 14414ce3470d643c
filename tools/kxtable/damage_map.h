// The data of the damage map page: where in a table the damage lies and what
// shape it has, gathered while the check scan walks the table.
//
// The builder is told the record count first, which fixes its bins: at most
// DamageMapLimits::bins runs of consecutive records, as equal as whole
// records allow (one record a bin for small tables). It is then fed one note
// per record in table order, and keeps, however long the table:
//  - per bin, the least and greatest stamp of the records that passed every
//    test and of those that failed one, as seconds; the number of stamps that
//    name no calendar time (the page marks them, it cannot place them); and
//    the findings of each kind;
//  - the longest runs of damaged records;
//  - the first findings of each kind with their record numbers;
//  - the first and last stamp that passed every test, and the totals.
//
// A record is damaged when it is null, corrupted or a duplicate, or when its
// stamp fails a test. Deleted records are normal: they neither start nor end
// a run, so two damaged records with only deleted ones between them belong to
// one run, whose length counts the deleted ones too.
//
// Json() gives the data as one JSON object (every text escaped as export
// escapes cells, so it always parses). Seconds count from 1970-01-01
// 00:00:00 with the stamps taken as they are, no time zone. For example, a
// table of three records, the second with month 13:
//
//   {"version": 1,
//    "table": {"path": "t.kxt", "layout": "...", "records": 3,
//              "problems": [], "warnings": [], "exit_status": 1,
//              "status": "damaged", "complete": true},
//    "totals": {"order": 0, "year": 0, "month": 1, ..., "corrupted": 0,
//               "examined": 3, "failed": 1, "not_calendar": 1, "noted": 3},
//    "stamps": {"first_passed": {"record": 1, "stamp": "2020-01-01 10:00:00",
//                                "seconds": 1577872800},
//               "last_passed": {...}, "span_seconds": 2},
//    "runs": [{"first": 2, "last": 2, "records": 1, "damaged": 1,
//              "kinds": ["month"]}],
//    "first_findings": {"month": [{"record": 2,
//                                  "stamp": "2020-13-01 10:00:01"}], ...,
//                       "order": [{"record": .., "stamp": .., "previous": ..}],
//                       "null": [{"record": ..}], ...},
//    "limits": {"bins": 4000, "runs": 20, "first_findings": 10},
//    "bins": {"count": 3, "first": [1, 2, 3],
//             "passed_min": [1577872800, null, 1577872802],
//             "passed_max": [...], "failed_min": [null, null, null],
//             "failed_max": [...], "not_calendar": [0, 1, 0],
//             "findings": {"order": [0, 0, 0], "month": [0, 1, 0], ...}}}
//
// Bin i holds records first[i] to first[i + 1] - 1 (the last bin up to the
// record count).
//
// A repair adds a member "repair", which the page draws when it is there:
// the stamps it replaced (old) and wrote (new) per bin, as seconds or null,
// the number replaced per bin, and the runs of records that were all given
// one written stamp, longer than spread_limit (the longest `runs` of them,
// longest first; spread_count counts them all). A stamp counts as replaced
// when the one written differs from the one read in more than the
// separators; a stamp whose separators alone were put right is counted in
// "separators". "written" counts the records compared, "dry_run" says the
// stamps are what a rule would write (no output was read), and "warning"
// says why the comparison stopped early (null when it did not):
//
//   "repair": {"output": "t_REPAIRED.kxt", "dry_run": false, "written": 11,
//              "replaced": 1, "separators": 0, "warning": null,
//              "spread_limit": 100, "spread_count": 1,
//              "bins": {"old_min": [...], "old_max": [...], "new_min": [...],
//                       "new_max": [...], "replaced": [0, 1, 0]},
//              "spread_runs": [{"first": 2, "last": 900, "records": 899,
//                               "source": 1,
//                               "stamp": "2020-01-01 10:00:00",
//                               "seconds": 1577872800}]}
//
// A spread run's records all took the stamp first written for record
// "source" ("seconds" is null when it names no calendar time); records left
// out between them do not end it, a record written with a stamp of its own
// does.
#ifndef KXCHECK_TOOLS_KXTABLE_DAMAGE_MAP_H_
#define KXCHECK_TOOLS_KXTABLE_DAMAGE_MAP_H_

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/host.h"

namespace kxtable {

// The kinds of finding the page counts: the eight stamp tests in their order
// (so that a test's bit is its kind), then the four special records.
inline constexpr int kDamageKinds = 12;
inline constexpr int kNullKind = 8;
inline constexpr int kDeletedKind = 9;
inline constexpr int kDuplicateKind = 10;
inline constexpr int kCorruptedKind = 11;

// A spread is one written stamp given to more than this many records that
// follow each other, as the repair's notice counts them.
using kxcheck::kSpreadWarnAbove;

struct DamageMapLimits {
  int64_t bins = 4000;
  size_t runs = 20;            // longest runs kept
  size_t first_findings = 10;  // kept of each kind
};

// What the page says of the table besides the notes, from whoever ran the
// scan.
struct DamageMapTable {
  std::string path{};
  std::string layout{};
  std::vector<std::string> problems{};  // the engine's, with the table's files
  // What the check told the user: why it stopped, when it did.
  std::vector<std::string> warnings{};
  int exit_status = 0;   // as kxtable check would exit
  std::string status{};  // as kxtable check --json says it
  bool complete = true;  // the scan reached the last record
};

// A 19-character stamp whose characters 1-4, 6-7, 9-10, 12-13, 15-16 and
// 18-19 are digits that name a time of the (proleptic Gregorian) calendar, as
// the number YYYYMMDDhhmmss, which orders as the times do; 0 for any other
// stamp. The characters between the numbers are not looked at: a repair puts
// them right.
uint64_t CalendarKey(std::string_view stamp);
// Seconds from 1970-01-01 00:00:00 of a key that CalendarKey gave, and the
// same for a stamp: nothing when it names no calendar time.
int64_t KeySeconds(uint64_t key);
std::optional<int64_t> CalendarSeconds(std::string_view stamp);
// "YYYY-MM-DD HH:MM:SS" of a key that CalendarKey gave.
std::string KeyStamp(uint64_t key);

// The reading of stamps that DamageMap::Add does at every record, here so
// that its usual case is compiled into the scan that calls it.
namespace damage_map_internal {

// Stamps are read eight characters at a time, each character a byte of a
// 64-bit word, the first in the lowest byte (see Word). A mask has 0xFF in
// the bytes that must be digits, 0 in the separators' places.
constexpr uint64_t EveryByte(uint64_t byte, uint64_t mask) {
  return byte * 0x0101010101010101u & mask;
}

// Eight characters of a stamp from `at` as a word.
inline uint64_t Word(const unsigned char* at) {
  uint64_t word;
  std::memcpy(&word, at, 8);  // one load
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap64(word);
  }
  return word;
}

// The characters of `word` that `mask` keeps, '0' to '9' each, as numbers
// of two digits: the byte of a pair's first digit gets the pair's value.
// False when one of them is no digit. A byte is a digit when its high half
// is 3 and it stays so with 6 added (the added 6 cannot carry into the next
// byte, since every byte is at most 0x3F once the high halves have passed).
inline bool Pairs(uint64_t word, uint64_t mask, uint64_t& pairs) {
  const uint64_t digits = word & mask;
  const uint64_t high = EveryByte(0xF0, mask);
  const uint64_t zeros = EveryByte('0', mask);
  if ((digits & high) != zeros) return false;
  if (((digits + EveryByte(6, mask)) & high) != zeros) return false;
  const uint64_t values = digits - zeros;  // no byte borrows: each >= '0'
  pairs = values * 10 + (values >> 8);     // at most 99 a byte: no carry
  return true;
}

inline unsigned Byte(uint64_t word, int byte) {
  return static_cast<unsigned>(word >> (8 * byte)) & 0xFF;
}

// The key of a stamp of date `date_key` whose "hh:mm:ss" is `time_word`;
// 0 when the date or the time names none.
[[gnu::always_inline]] inline uint64_t TimeKey(uint64_t date_key,
                                               uint64_t time_word) {
  uint64_t time;
  if (date_key == 0 || !Pairs(time_word, 0xFFFF00FFFF00FFFFu, time)) return 0;
  const unsigned hour = Byte(time, 0);
  const unsigned minute = Byte(time, 3);
  const unsigned second = Byte(time, 6);
  if ((hour > 23) | (minute > 59) | (second > 59)) return 0;  // one branch
  return date_key * 1000000 + hour * 10000 + minute * 100 + second;
}

// Characters 1-8 ("YYYY-MM-"), 9-10 ("DD") and 12-19 ("hh:mm:ss") of a
// 19-character stamp as words.
struct StampWords {
  uint64_t year_month;
  uint64_t day;
  uint64_t time;
};
inline StampWords WordsOf(std::string_view stamp) {
  const auto* p = reinterpret_cast<const unsigned char*>(stamp.data());
  // The day's two characters alone, as the word of Word would hold them.
  uint16_t day;
  std::memcpy(&day, p + 8, 2);
  if constexpr (std::endian::native == std::endian::big) {
    day = __builtin_bswap16(day);
  }
  return {Word(p), day, Word(p + 11)};
}

// Whether `size` bytes at `a` and at `b` are the same, compared eight at a
// time without a call.
inline bool SameBytes(const char* a, const char* b, size_t size) {
  auto load = [](const char* at) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    return word;
  };
  if (size < 8) {
    for (size_t i = 0; i < size; ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }
  uint64_t differ = 0;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) differ |= load(a + i) ^ load(b + i);
  // The last eight bytes, overlapping those before.
  if (i < size) differ |= load(a + size - 8) ^ load(b + size - 8);
  return differ == 0;
}
inline bool SameBytes(std::string_view a, std::string_view b) {
  return a.size() == b.size() && SameBytes(a.data(), b.data(), a.size());
}

}  // namespace damage_map_internal

class DamageMap {
 public:
  // `records` is the table's record count; notes are for records 1 to it.
  explicit DamageMap(int64_t records, const DamageMapLimits& limits = {});

  // The note of the next record, as the check scan hands it over. Notes come
  // in table order; a note for a record outside 1..records throws
  // std::out_of_range.
  inline void Add(const kxcheck::RecordNote& note);

  // The data, as of the notes so far.
  std::string Json(const DamageMapTable& table) const;
  // The same text handed to `put` in parts (of some tens of kilobytes), so
  // that it need not be held whole.
  void WriteJson(const DamageMapTable& table,
                 const std::function<void(std::string_view)>& put) const;

  // Record `record` of the table (in table order, each once) went to the
  // output with the stamp `written`; `read` is its stamp in the table. Adds
  // the "repair" member.
  void AddWritten(int64_t record, std::string_view read,
                  std::string_view written);
  // The same for a record written with its stamp as read.
  void AddUnchanged(int64_t record, std::string_view stamp);
  // What the "repair" member says of the output (and adds it when no record
  // was written): its name, whether its stamps are only what a rule would
  // write, and why the comparison stopped early ("" when it did not).
  void DescribeRepair(const std::string& output, bool dry_run,
                      const std::string& warning);
  // The spreads so far (none before a repair's notes).
  int64_t SpreadCount() const;

 private:
  // Stamps are kept as CalendarKey gives them; seconds are worked out only
  // for the stamps the data names.
  struct Bin {
    uint64_t passed_min = UINT64_MAX;  // UINT64_MAX and 0: none
    uint64_t passed_max = 0;
    uint64_t failed_min = UINT64_MAX;
    uint64_t failed_max = 0;
    uint32_t not_calendar = 0;
    std::array<uint32_t, kDamageKinds> findings{};
  };

  struct Run {
    int64_t first = 0;
    int64_t last = 0;
    int64_t damaged = 0;  // damaged records in it; the others are deleted
    uint32_t kinds = 0;   // bit k for kind k
    int64_t Length() const { return last - first + 1; }
  };

  struct FirstFinding {
    int64_t record = 0;
    std::string stamp;     // stamp-test kinds
    std::string previous;  // the order test
  };

  struct RepairBin {
    uint64_t old_min = UINT64_MAX;  // UINT64_MAX and 0: none
    uint64_t old_max = 0;
    uint64_t new_min = UINT64_MAX;
    uint64_t new_max = 0;
    uint32_t replaced = 0;
  };

  struct Spread {
    int64_t first = 0;
    int64_t last = 0;
    int64_t records = 0;
    int64_t source = 0;
    std::string stamp;
    int64_t Length() const { return records; }
  };

  struct Repair {
    std::string output;
    bool dry_run = false;
    std::string warning;
    std::vector<RepairBin> bins;
    size_t bin = 0;  // of the last record written, and its records
    int64_t bin_first = 1;
    int64_t bin_end = 1;
    int64_t written = 0;
    int64_t replaced = 0;
    int64_t separators = 0;
    // The stamp written last (in last_short when it fits, else in
    // last_long), and the record it was first written for.
    std::array<char, 32> last_short{};
    size_t last_size = 0;
    std::string last_long;
    int64_t last_source = 0;
    bool have_written = false;
    // The date of the last stamp replaced, as Add keeps the date of the last
    // stamp examined.
    std::array<uint64_t, 2> old_date_words{};
    uint64_t old_date_key = 0;
    uint64_t last_key = 0;  // CalendarKey of it, when last_key_known
    bool last_key_known = false;
    Spread open;                  // records == 0 while none
    std::vector<Spread> longest;  // a heap whose front is the shortest kept
    int64_t spread_count = 0;
  };

  // Add for every record (the usual one too).
  void AddNote(const kxcheck::RecordNote& note);
  int64_t BinStart(int64_t bin) const;
  // The bin of a record in 1..records; throws std::out_of_range otherwise.
  int64_t BinOf(int64_t record) const;
  Repair& RepairData();
  // The repair's bin of `record`, which is then the current one.
  RepairBin& RepairBinOf(Repair& repair, int64_t record);
  // The stamp written last: whether `written` is it, and that it is.
  static bool SameAsLastWritten(const Repair& repair, std::string_view written);
  static void RememberWritten(Repair& repair, std::string_view written);
  // CalendarKey of a stamp replaced.
  uint64_t OldKey(Repair& repair, std::string_view read) const;
  void EndSpread(Repair& repair);
  void AppendRepair(std::string& text,
                    const std::function<void(std::string_view)>& put) const;
  // The bin of `record` and its records [first, end).
  void SeekBin(int64_t record, size_t& bin, int64_t& first, int64_t& end) const;
  void RememberPrevious(std::string_view stamp);
  // The bins as a JSON object, at the end of `text`, which goes to `put`
  // whenever it has grown to a part.
  void AppendBins(std::string& text,
                  const std::function<void(std::string_view)>& put) const;
  void Damaged(int64_t record, uint32_t kinds);
  void KeepFirst(int kind, const kxcheck::RecordNote& note);

  int64_t records_;
  DamageMapLimits limits_;
  std::vector<Bin> bins_;
  // The bin of the last note and its records [bin_first_, bin_end_).
  size_t bin_ = 0;
  int64_t bin_first_ = 1;
  int64_t bin_end_ = 1;

  std::array<int64_t, kDamageKinds> totals_{};
  int64_t examined_ = 0;
  int64_t failed_ = 0;  // examined records that failed a test
  int64_t not_calendar_ = 0;
  int64_t first_passed_record_ = 0;  // 0 while none
  uint64_t first_passed_ = 0;
  int64_t last_passed_record_ = 0;
  uint64_t last_passed_ = 0;

  // The date of the last examined stamp of 19 characters: its characters
  // "YYYY-MM-" and "DD" as read, and its part of the key.
  std::array<uint64_t, 2> date_words_{};
  uint64_t date_key_ = 0;

  bool in_run_ = false;
  Run run_;
  std::vector<Run> longest_;  // a heap whose front is the shortest kept

  std::array<std::vector<FirstFinding>, kDamageKinds> firsts_;
  // The stamp the next examined record's order test compares with; kept
  // only while the first order findings are still being gathered
  // (keep_previous_). Stamps are short: a copy into the array costs far
  // less than a string's.
  bool keep_previous_;
  std::array<char, 32> previous_short_{};
  size_t previous_size_ = 0;
  std::string previous_long_;  // when longer than the array

  std::unique_ptr<Repair> repair_;
};

// Most records of a long table were examined and passed every test, lie in
// the bin of the record before, and have a stamp of 19 characters whose date
// is that of the stamp before, which passed too: such a record changes no
// more than is done here, and what AddNote would do with it comes to the
// same. Any other record, and the first of each date, takes AddNote.
inline void DamageMap::Add(const kxcheck::RecordNote& note) {
  using namespace damage_map_internal;
  const int64_t n = note.record;
  if (note.kind == kxcheck::RecordClass::kExamined &&
      (note.failed_tests & ((1u << kNullKind) - 1)) == 0 && !in_run_ &&
      first_passed_record_ != 0 && n >= bin_first_ && n < bin_end_ &&
      note.stamp.size() == 19) {
    const StampWords words = WordsOf(note.stamp);
    if (words.year_month == date_words_[0] && words.day == date_words_[1]) {
      if (const uint64_t key = TimeKey(date_key_, words.time)) {
        Bin& bin = bins_[bin_];
        ++examined_;
        bin.passed_min = std::min(bin.passed_min, key);
        bin.passed_max = std::max(bin.passed_max, key);
        last_passed_record_ = n;
        last_passed_ = key;
        if (keep_previous_) {
          std::memcpy(previous_short_.data(), note.stamp.data(), 19);
          previous_size_ = 19;
        }
        return;
      }
    }
  }
  AddNote(note);
}

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_DAMAGE_MAP_H_
