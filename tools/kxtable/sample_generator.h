// The sample series of `kxtable sample`: a process log with a reading every
// few seconds from eight instruments, where a chosen fraction of the records
// carries damage of every kind the checker looks for.
//
// The generator fills one reused record buffer per call, so that tens of
// millions of records cost no allocation. The random numbers come from
// splitmix64 with our own reductions, so a seed gives the same bytes with any
// compiler and standard library.
#ifndef KXCHECK_TOOLS_KXTABLE_SAMPLE_GENERATOR_H_
#define KXCHECK_TOOLS_KXTABLE_SAMPLE_GENERATOR_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/record_table.h"

namespace kxtable {

enum class SampleDamage : uint8_t {
  kNone,
  kNull,             // every byte zero
  kDeleted,          // a sound record with the deletion mark
  kCorrupted,        // a separator byte (3, 6, 11 or 14) overwritten
  kDuplicate,        // the same bytes as the last record the checker examines
  kOutOfOrder,       // a valid stamp earlier than the previous record's
  kBadYear,          // year before 1990
  kBadMonth,         // month 00 or above 12
  kBadDay,           // day 00 or above 31
  kBadHour,          // hour above 23
  kBadMinute,        // minute above 59
  kBadSecond,        // second above 59
  kWrongSeparators,  // a valid stamp written with other separator characters
  kFutureYear,       // year 2040 or later
  kNulInStamp,       // one to three digits of the stamp replaced by NUL,
                     // one of them a leading digit of month .. second
};
inline constexpr int kSampleDamageKinds = 14;  // the kinds after kNone

std::string_view SampleDamageName(SampleDamage damage);

struct SampleOptions {
  int64_t records = 0;  // 0 .. 2^31-1; spreads the series over the years
  uint64_t seed = 1;
  double damage = 0.0;  // fraction of damaged records, 0 .. 1
};

// Payload fields: sensor (6), value (9), unit (4), status (4); 40 bytes a
// record.
kalvex::TableLayout SampleLayout();

// Year range of the undamaged stamps.
inline constexpr int kSampleFirstYear = 1990;
inline constexpr int kSampleLastYear = 2025;

class SampleGenerator {
 public:
  explicit SampleGenerator(const SampleOptions& options);

  // Makes the next record; record() and damage() describe it until the next
  // call.
  void Next();
  std::string_view record() const { return record_; }
  SampleDamage damage() const { return damage_; }
  bool deleted() const { return damage_ == SampleDamage::kDeleted; }

 private:
  struct Sensor {
    int64_t value;
    char payload[23];  // sensor and unit filled in, value and status zero
  };

  uint64_t NextRandom();
  uint32_t Below(uint32_t n);  // 0 .. n-1
  bool Chance(double p);

  void WriteStamp(int64_t seconds);
  void WriteDate(int year, int month, int day);
  void WriteTwoDigits(int offset, int value);
  void WritePayload();
  void Damage(SampleDamage kind);

  SampleOptions options_;
  uint64_t state_;
  int64_t index_ = 0;  // records made so far
  int64_t clock_ = 0;  // seconds since 1970 of the current reading
  int64_t previous_clock_ = 0;
  int64_t span_ = 0;         // for series too long for a few seconds a step
  int64_t cached_day_ = -1;  // day number whose date text is in date_text_
  char date_text_[9] = {};   // record bytes 0..8 for cached_day_
  Sensor sensors_[8];
  std::string record_;
  std::string examined_;  // last record the checker would examine
  bool have_examined_ = false;
  SampleDamage damage_ = SampleDamage::kNone;
};

// Creates the table at `kxt_path` and fills it with options.records records.
// An existing table is refused unless `force`.
void WriteSampleTable(const std::string& kxt_path, const SampleOptions& options,
                      bool force);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_SAMPLE_GENERATOR_H_
