// The sample series of `kxtable sample`: a process log with a reading every
// few seconds from eight instruments, where a chosen fraction of the records
// carries damage of every kind the checker looks for. Optionally the readings
// come at a regular cadence (with or without jitter), the damage is of chosen
// kinds (among them what storage damage looks like: flipped bits, smashed
// bytes, damaged blocks), and the true stamp of every record is kept, so
// that a repair can be measured against the truth.
//
// The generator fills one reused record buffer per call, so that tens of
// millions of records cost no allocation. The random numbers come from
// splitmix64 with our own reductions, so a seed gives the same bytes with any
// compiler and standard library. Without the newer options a seed gives the
// same bytes as before they existed.
#ifndef KXCHECK_TOOLS_KXTABLE_SAMPLE_GENERATOR_H_
#define KXCHECK_TOOLS_KXTABLE_SAMPLE_GENERATOR_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/record_table.h"
#include "os/env.h"

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
  // Storage damage, made only when chosen:
  kBitFlip,   // one bit flipped in one digit of the stamp
  kSmash,     // one byte of the date or time replaced by another
  kBlock,     // the date and time bytes of a run of records are garbage
  kZeroTime,  // the time written as 00:00:00
};
// The kinds a sample has unless others are chosen: kNull .. kNulInStamp.
inline constexpr int kSampleDamageKinds = 14;
// Every kind after kNone.
inline constexpr int kSampleAllDamageKinds = 18;

// The kind's name: "null", "out of order", ..., "bitflip", "block".
std::string_view SampleDamageName(SampleDamage damage);
// The kind named `name`, in any letter case, with "-" or "_" for spaces
// ("out-of-order"). False for kNone and unknown names.
bool SampleDamageNamed(std::string_view name, SampleDamage& damage);

struct SampleOptions {
  int64_t records = 0;  // 0 .. 2^31-1; spreads the series over the years
  uint64_t seed = 1;
  double damage = 0.0;  // fraction of damaged records, 0 .. 1
  // Seconds from one reading to the next; 0 for a step of 1 to 5 seconds.
  int64_t cadence = 0;
  // Each step varies uniformly by up to this many seconds either way
  // (0 .. cadence, so that the series never goes back).
  int64_t jitter = 0;
  // The kinds of damage, each as likely as the others; empty for the first
  // kSampleDamageKinds.
  std::vector<SampleDamage> kinds = {};
  // A damaged block is 2 to this many records long.
  int block_length = 50;
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
  // The damage the record carries. Damage that left the stamp as it was
  // (a time that was 00:00:00 already) counts as none.
  SampleDamage damage() const { return damage_; }
  // The record's stamp before any damage, "YYYY-MM-DD HH:MM:SS", into out.
  void TrueStamp(char* out) const;
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
  void Garbage();
  SampleDamage ChooseKind();

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
  double event_chance_ = 0;   // of damage starting at a record
  int block_left_ = 0;        // records of the current block still to come
  char true_bytes_[17] = {};  // date and time bytes before damage
};

// Creates the table at `kxt_path` and fills it with options.records records;
// it appears only when it is whole (csv_new_table.h). An existing table is
// refused unless `force`. With a `truth_path`, also writes there the true
// stamp of every record, as CSV "record,stamp", one line a record after the
// header; it appears only with the complete table, and is never one of the
// table's files.
void WriteSampleTable(const std::string& kxt_path, const SampleOptions& options,
                      bool force, const std::string& truth_path = "",
                      kxos::Env* env = kxos::Env::Default());

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_SAMPLE_GENERATOR_H_
