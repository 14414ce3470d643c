#include "tools/kxtable/sample_generator.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>

#include "core/stamp.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/staged_file.h"

namespace kxtable {

namespace {

constexpr int kSensorOffset = kalvex::kPayloadOffset;
constexpr int kSensorWidth = 6;
constexpr int kValueOffset = kSensorOffset + kSensorWidth;
constexpr int kValueWidth = 9;
constexpr int kUnitOffset = kValueOffset + kValueWidth;
constexpr int kUnitWidth = 4;
constexpr int kStatusOffset = kUnitOffset + kUnitWidth;
constexpr int kStatusWidth = 4;
constexpr int kRecordLength = kStatusOffset + kStatusWidth;
static_assert(kRecordLength - kSensorOffset == 23, "sensor template size");

constexpr int64_t kSecondsPerDay = 86400;
constexpr int kMaxStep = 5;  // seconds between readings: 1 .. 5
constexpr uint32_t kMaxBack =
    259200;  // how far an out-of-order stamp goes back

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
constexpr int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// The series starts no earlier than three days into 1990, so that an
// out-of-order stamp never leaves the valid years, and ends within 2025.
constexpr int64_t kSeriesBegin =
    DaysFromCivil(kSampleFirstYear, 1, 4) * kSecondsPerDay;
constexpr int64_t kSeriesEnd =
    DaysFromCivil(kSampleLastYear + 1, 1, 1) * kSecondsPerDay;  // exclusive

// The instruments read in turn. Values are integers in units of the last
// decimal shown (their text fits the 9-byte field); they wander within [low,
// high] and raise HI/LO beyond the alarm limits.
struct Instrument {
  const char* tag;
  const char* unit;
  int decimals;
  int64_t start, low, high, alarm_low, alarm_high, step;
};

constexpr Instrument kSensors[8] = {
    {"TT-101", "degC", 2, 2150, 1500, 3500, 1700, 3200, 4},
    {"TT-102", "degC", 2, 6420, 5000, 9000, 5500, 8500, 6},
    {"PT-201", "bar", 3, 4250, 3000, 6000, 3300, 5700, 9},
    {"FT-301", "m3/h", 2, 1280, 0, 2500, 200, 2300, 7},
    {"LT-401", "%", 1, 550, 0, 1000, 100, 900, 3},
    {"AT-501", "pH", 2, 702, 600, 800, 640, 770, 1},
    {"PT-202", "kPa", 2, 10132, 9500, 10500, 9650, 10400, 5},
    {"ST-601", "rpm", 0, 1450, 0, 1600, 300, 1550, 4},
};

void PutField(char* record, int offset, int width, std::string_view text) {
  std::memcpy(record + offset, text.data(), text.size());
  std::memset(record + offset + text.size(), 0, width - text.size());
}

// Writes `value` (in units of 10^-decimals) as decimal text; returns length.
int FormatValue(int64_t value, int decimals, char* out) {
  char digits[24];
  int n = 0;
  const bool negative = value < 0;
  uint64_t v = negative ? 0 - static_cast<uint64_t>(value) : value;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 || n <= decimals);
  int len = 0;
  if (negative) out[len++] = '-';
  for (int i = n - 1; i >= 0; --i) {
    out[len++] = digits[i];
    if (i == decimals && decimals > 0) out[len++] = '.';
  }
  return len;
}

// Whether the checker examines the record (rather than counting it null,
// deleted, corrupted or duplicate).
bool IsExamined(SampleDamage damage, std::string_view record) {
  switch (damage) {
    case SampleDamage::kNull:
    case SampleDamage::kDeleted:
    case SampleDamage::kCorrupted:
    case SampleDamage::kDuplicate:
    case SampleDamage::kWrongSeparators:
      return false;
    case SampleDamage::kSmash:
    case SampleDamage::kBlock:
      return kxcheck::HasSeparatorBytes(record);
    default:
      return true;
  }
}

bool IsStorageDamage(SampleDamage damage) {
  return damage >= SampleDamage::kBitFlip;
}

// Record bytes of the 14 digits of a stamp. The first two share byte 0,
// the century's digits, one per nibble.
constexpr int kDigitBytes[14] = {0, 0, 1, 2, 4, 5, 7, 8, 9, 10, 12, 13, 15, 16};
constexpr int kStampBytes = kalvex::kPayloadOffset;

}  // namespace

std::string_view SampleDamageName(SampleDamage damage) {
  static constexpr const char* kNames[kSampleAllDamageKinds + 1] = {
      "none",
      "null",
      "deleted",
      "corrupted",
      "duplicate",
      "out of order",
      "bad year",
      "bad month",
      "bad day",
      "bad hour",
      "bad minute",
      "bad second",
      "wrong separators",
      "future year",
      "NUL in stamp",
      "bitflip",
      "smash",
      "block",
      "zerotime"};
  return kNames[static_cast<size_t>(damage)];
}

bool SampleDamageNamed(std::string_view name, SampleDamage& damage) {
  std::string wanted(name);
  for (char& c : wanted) {
    if (c == '-' || c == '_') c = ' ';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (int kind = 1; kind <= kSampleAllDamageKinds; ++kind) {
    std::string known(SampleDamageName(static_cast<SampleDamage>(kind)));
    for (char& c : known) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (known == wanted) {
      damage = static_cast<SampleDamage>(kind);
      return true;
    }
  }
  return false;
}

kalvex::TableLayout SampleLayout() {
  kalvex::TableLayout layout;
  layout.payload = {{"sensor", kSensorWidth},
                    {"value", kValueWidth},
                    {"unit", kUnitWidth},
                    {"status", kStatusWidth}};
  return layout;
}

SampleGenerator::SampleGenerator(const SampleOptions& options)
    : options_(options),
      state_(options.seed),
      record_(kRecordLength, '\0'),
      examined_(kRecordLength, '\0') {
  if (options_.records < 0 ||
      options_.records > std::numeric_limits<int32_t>::max()) {
    throw std::invalid_argument("record count must be 0 .. 2147483647");
  }
  if (!(options_.damage >= 0.0 && options_.damage <= 1.0)) {
    throw std::invalid_argument("damage fraction must be 0 .. 1");
  }
  if (options_.cadence < 0 || options_.cadence > kSecondsPerDay) {
    throw std::invalid_argument("the cadence must be 1 .. 86400 seconds");
  }
  if (options_.jitter < 0 || options_.jitter > options_.cadence) {
    throw std::invalid_argument(
        "the jitter must be 0 .. the cadence, and needs a cadence");
  }
  if (options_.block_length < 2 || options_.block_length > 1000000) {
    throw std::invalid_argument("a block must be 2 .. 1000000 records long");
  }
  for (SampleDamage kind : options_.kinds) {
    if (kind == SampleDamage::kNone ||
        static_cast<int>(kind) > kSampleAllDamageKinds) {
      throw std::invalid_argument("unknown kind of damage");
    }
  }
  std::sort(options_.kinds.begin(), options_.kinds.end());
  options_.kinds.erase(
      std::unique(options_.kinds.begin(), options_.kinds.end()),
      options_.kinds.end());
  // The damage fraction counts damaged records; a block damages many.
  event_chance_ = options_.damage;
  if (std::find(options_.kinds.begin(), options_.kinds.end(),
                SampleDamage::kBlock) != options_.kinds.end()) {
    const double kinds = static_cast<double>(options_.kinds.size());
    const double per_event =
        (kinds - 1 + (2 + options_.block_length) / 2.0) / kinds;
    event_chance_ =
        options_.damage / (per_event * (1 - options_.damage) + options_.damage);
  }
  const int64_t room = kSeriesEnd - kSeriesBegin;
  if (options_.cadence > 0) {
    // A reading every `cadence` seconds, starting anywhere the series fits.
    const int64_t needed =
        options_.records * (options_.cadence + options_.jitter);
    if (needed >= room) {
      throw std::invalid_argument(
          "the series does not fit in the years 1990 to 2025 at this "
          "cadence");
    }
    clock_ = kSeriesBegin + Below(static_cast<uint32_t>(room - needed));
  } else if (const int64_t needed = options_.records * kMaxStep;
             needed < room) {
    // A reading every 1..5 seconds while the series fits in the years
    // allowed; longer series are spread evenly over the whole range instead.
    clock_ = kSeriesBegin + Below(static_cast<uint32_t>(room - needed));
  } else {
    clock_ = kSeriesBegin;
    span_ = room - 1;
  }
  for (int i = 0; i < 8; ++i) {
    sensors_[i].value = kSensors[i].start;
    char* payload = sensors_[i].payload;
    std::memset(payload, 0, sizeof sensors_[i].payload);
    PutField(payload, 0, kSensorWidth, kSensors[i].tag);
    PutField(payload, kUnitOffset - kSensorOffset, kUnitWidth,
             kSensors[i].unit);
  }
}

uint64_t SampleGenerator::NextRandom() {
  uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
  return z ^ (z >> 31);
}

uint32_t SampleGenerator::Below(uint32_t n) {
  return static_cast<uint32_t>(((NextRandom() >> 32) * n) >> 32);
}

bool SampleGenerator::Chance(double p) {
  return static_cast<double>(NextRandom() >> 11) * 0x1.0p-53 < p;
}

void SampleGenerator::WriteTwoDigits(int offset, int value) {
  record_[offset] = static_cast<char>('0' + value / 10 % 10);
  record_[offset + 1] = static_cast<char>('0' + value % 10);
}

void SampleGenerator::WriteDate(int year, int month, int day) {
  record_[kalvex::kCenturyOffset] =
      kalvex::PackCentury(static_cast<char>('0' + year / 1000 % 10),
                          static_cast<char>('0' + year / 100 % 10));
  WriteTwoDigits(kalvex::kYearOffset, year % 100);
  record_[kalvex::kYearMonthSeparator] = kalvex::kDateSeparator;
  WriteTwoDigits(kalvex::kMonthOffset, month);
  record_[kalvex::kMonthDaySeparator] = kalvex::kDateSeparator;
  WriteTwoDigits(kalvex::kDayOffset, day);
}

void SampleGenerator::WriteStamp(int64_t seconds) {
  const int64_t day = seconds / kSecondsPerDay;
  if (day != cached_day_) {
    int year, month, d;
    CivilFromDays(day, year, month, d);
    WriteDate(year, month, d);
    std::memcpy(date_text_, record_.data(), sizeof date_text_);
    cached_day_ = day;
  } else {
    std::memcpy(record_.data(), date_text_, sizeof date_text_);
  }
  const int second_of_day = static_cast<int>(seconds % kSecondsPerDay);
  WriteTwoDigits(kalvex::kHourOffset, second_of_day / 3600);
  record_[kalvex::kHourMinuteSeparator] = kalvex::kTimeSeparator;
  WriteTwoDigits(kalvex::kMinuteOffset, second_of_day / 60 % 60);
  record_[kalvex::kMinuteSecondSeparator] = kalvex::kTimeSeparator;
  WriteTwoDigits(kalvex::kSecondOffset, second_of_day % 60);
}

void SampleGenerator::WritePayload() {
  const int which = static_cast<int>((index_ - 1) % 8);
  const Instrument& instrument = kSensors[which];
  int64_t& value = sensors_[which].value;
  value +=
      static_cast<int64_t>(Below(2 * instrument.step + 1)) - instrument.step;
  if (value < instrument.low) value = instrument.low;
  if (value > instrument.high) value = instrument.high;

  // The sensor's fixed fields, then the value and status written over the
  // zeros that the template holds for them.
  char* record = record_.data();
  std::memcpy(record + kSensorOffset, sensors_[which].payload,
              sizeof sensors_[which].payload);
  FormatValue(value, instrument.decimals, record + kValueOffset);
  const char* status = value > instrument.alarm_high  ? "HI"
                       : value < instrument.alarm_low ? "LO"
                                                      : "OK";
  record[kStatusOffset] = status[0];
  record[kStatusOffset + 1] = status[1];
}

void SampleGenerator::Next() {
  if (index_ > 0) {
    previous_clock_ = clock_;
    if (options_.cadence > 0) {
      clock_ += options_.cadence;
      if (options_.jitter > 0) {
        clock_ += static_cast<int64_t>(
                      Below(static_cast<uint32_t>(2 * options_.jitter + 1))) -
                  options_.jitter;
      }
    } else if (span_ == 0) {
      clock_ += 1 + Below(kMaxStep);
    } else {
      // Even spacing: record k sits at begin + k * span / records.
      clock_ = kSeriesBegin + index_ * span_ / options_.records;
    }
  }
  ++index_;
  WriteStamp(clock_);
  WritePayload();
  std::memcpy(true_bytes_, record_.data(), kStampBytes);
  damage_ = SampleDamage::kNone;
  if (block_left_ > 0) {
    --block_left_;
    Garbage();
    damage_ = SampleDamage::kBlock;
  } else if (options_.damage > 0.0 && Chance(event_chance_)) {
    Damage(ChooseKind());
  }
  if (IsStorageDamage(damage_) &&
      std::memcmp(true_bytes_, record_.data(), kStampBytes) == 0) {
    damage_ = SampleDamage::kNone;
  }
  if (IsExamined(damage_, record_)) {
    std::memcpy(examined_.data(), record_.data(), kRecordLength);
    have_examined_ = true;
  }
}

SampleDamage SampleGenerator::ChooseKind() {
  if (options_.kinds.empty()) {
    return static_cast<SampleDamage>(1 + Below(kSampleDamageKinds));
  }
  return options_.kinds[Below(static_cast<uint32_t>(options_.kinds.size()))];
}

void SampleGenerator::Garbage() {
  for (int i = 0; i < kStampBytes; ++i) {
    record_[i] = static_cast<char>(Below(256));
  }
}

void SampleGenerator::TrueStamp(char* out) const {
  out[0] = kalvex::CenturyHigh(true_bytes_[kalvex::kCenturyOffset]);
  out[1] = kalvex::CenturyLow(true_bytes_[kalvex::kCenturyOffset]);
  std::memcpy(out + 2, true_bytes_ + kalvex::kYearOffset, 8);
  out[10] = ' ';
  std::memcpy(out + 11, true_bytes_ + kalvex::kTimeOffset, kalvex::kTimeBytes);
}

void SampleGenerator::Damage(SampleDamage kind) {
  damage_ = kind;
  char* r = record_.data();
  switch (kind) {
    case SampleDamage::kNone:
    case SampleDamage::kDeleted:
      break;
    case SampleDamage::kNull:
      std::memset(r, 0, kRecordLength);
      break;
    case SampleDamage::kCorrupted: {
      // A few stray bytes in the stamp, then one separator surely hit.
      for (uint32_t extra = Below(3); extra > 0; --extra) {
        r[Below(kalvex::kPayloadOffset)] = static_cast<char>(Below(256));
      }
      const int at = kalvex::kSeparatorOffsets[Below(4)];
      const char expected = kalvex::SeparatorAt(at);
      char b = static_cast<char>(Below(256));
      if (b == expected) b = static_cast<char>(b ^ 0x40);
      r[at] = b;
      break;
    }
    case SampleDamage::kDuplicate:
      if (have_examined_) {
        std::memcpy(r, examined_.data(), kRecordLength);
      } else {
        damage_ = SampleDamage::kNone;
      }
      break;
    case SampleDamage::kOutOfOrder:
      if (index_ > 1) {
        WriteStamp(previous_clock_ - 1 - Below(kMaxBack));
      } else {
        damage_ = SampleDamage::kNone;
      }
      break;
    case SampleDamage::kBadYear: {
      const int year = 1900 + static_cast<int>(Below(90));
      r[kalvex::kCenturyOffset] = kalvex::PackCentury('1', '9');
      WriteTwoDigits(kalvex::kYearOffset, year % 100);
      break;
    }
    case SampleDamage::kFutureYear: {
      const int year = 2040 + static_cast<int>(Below(160));
      r[kalvex::kCenturyOffset] =
          kalvex::PackCentury('2', static_cast<char>('0' + year / 100 % 10));
      WriteTwoDigits(kalvex::kYearOffset, year % 100);
      break;
    }
    case SampleDamage::kBadMonth:
      WriteTwoDigits(kalvex::kMonthOffset,
                     Below(2) == 0 ? 0 : 13 + static_cast<int>(Below(87)));
      break;
    case SampleDamage::kBadDay:
      WriteTwoDigits(kalvex::kDayOffset,
                     Below(2) == 0 ? 0 : 32 + static_cast<int>(Below(68)));
      break;
    case SampleDamage::kBadHour:
      WriteTwoDigits(kalvex::kHourOffset, 24 + static_cast<int>(Below(76)));
      break;
    case SampleDamage::kBadMinute:
      WriteTwoDigits(kalvex::kMinuteOffset, 60 + static_cast<int>(Below(40)));
      break;
    case SampleDamage::kBadSecond:
      WriteTwoDigits(kalvex::kSecondOffset, 60 + static_cast<int>(Below(40)));
      break;
    case SampleDamage::kWrongSeparators: {
      // Date only, time only, or both.
      const uint32_t which = Below(3);
      if (which != 1) {
        const char date_sep = "/. "[Below(3)];
        r[kalvex::kYearMonthSeparator] = r[kalvex::kMonthDaySeparator] =
            date_sep;
      }
      if (which != 0) {
        const char time_sep = ".- "[Below(3)];
        r[kalvex::kHourMinuteSeparator] = r[kalvex::kMinuteSecondSeparator] =
            time_sep;
      }
      break;
    }
    case SampleDamage::kNulInStamp: {
      // One NUL where it always fails a test (the first digit of month, day,
      // hour, minute or second), and up to two more on any digit.
      static constexpr int kParts[6] = {
          kalvex::kYearOffset, kalvex::kMonthOffset,  kalvex::kDayOffset,
          kalvex::kHourOffset, kalvex::kMinuteOffset, kalvex::kSecondOffset};
      r[kParts[1 + Below(5)]] = 0;
      for (uint32_t n = Below(3); n > 0; --n) {
        const uint32_t digit = Below(12);
        r[kParts[digit / 2] + static_cast<int>(digit % 2)] = 0;
      }
      break;
    }
    case SampleDamage::kBitFlip: {
      // The century's digits are nibbles: a bit of the digit's own nibble.
      const uint32_t digit = Below(14);
      const int byte = kDigitBytes[digit];
      const uint32_t bit = digit == 0   ? 4 + Below(4)
                           : digit == 1 ? Below(4)
                                        : Below(8);
      r[byte] = static_cast<char>(r[byte] ^ (1 << bit));
      break;
    }
    case SampleDamage::kSmash: {
      const uint32_t at = Below(kStampBytes);
      uint32_t b = Below(255);
      if (b >= static_cast<unsigned char>(r[at])) ++b;  // never the same
      r[at] = static_cast<char>(b);
      break;
    }
    case SampleDamage::kBlock:
      block_left_ = static_cast<int>(
          1 + Below(static_cast<uint32_t>(options_.block_length - 1)));
      Garbage();
      break;
    case SampleDamage::kZeroTime:
      std::memcpy(r + kalvex::kTimeOffset, "00:00:00", kalvex::kTimeBytes);
      break;
  }
}

void WriteSampleTable(const std::string& kxt_path, const SampleOptions& options,
                      bool force, const std::string& truth_path,
                      kxos::Env* env) {
  SampleGenerator generator(options);
  std::unique_ptr<StagedFile> truth;
  if (!truth_path.empty()) {
    // The truth would replace a file of the table itself, or the table it:
    // by the same name, or by another name of the same file.
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path truth_file = fs::weakly_canonical(truth_path, ec);
    kxos::FileInfo truth_info;
    const bool truth_exists = env->Stat(truth_path, truth_info) == 0;
    for (const std::string& file : TableFiles(kxt_path)) {
      std::error_code file_ec;
      kxos::FileInfo info;
      const bool same_name =
          !ec && fs::weakly_canonical(file, file_ec) == truth_file && !file_ec;
      const bool same_file = truth_exists && env->Stat(file, info) == 0 &&
                             info.SameFileAs(truth_info);
      if (same_name || same_file) {
        throw std::runtime_error(truth_path +
                                 ": the truth cannot be one of the table's "
                                 "files");
      }
    }
    RefuseExistingTable(kxt_path, force, env);
    truth = std::make_unique<StagedFile>(truth_path, force,
                                         std::vector<std::string>{}, env);
  }
  NewTable output(kxt_path, SampleLayout(), force, {}, env);
  kalvex::RecordTable& table = output.table();
  std::string lines;
  if (truth) lines = "record,stamp\n";
  for (int64_t n = 0; n < options.records; ++n) {
    generator.Next();
    table.SetRecordBuffer(generator.record());
    output.Append(generator.deleted());
    if (truth) {
      char line[48];
      char* end = std::to_chars(line, line + 20, n + 1).ptr;
      *end++ = ',';
      generator.TrueStamp(end);
      end += 19;
      *end++ = '\n';
      lines.append(line, end);
      if (lines.size() >= (1u << 20)) {
        truth->Write(lines);
        lines.clear();
      }
    }
  }
  if (truth) truth->Write(lines);
  // The table first: the truth belongs to it, and appears only with it.
  output.Commit();
  if (truth) truth->Place();
}

}  // namespace kxtable
