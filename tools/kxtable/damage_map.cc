#include "tools/kxtable/damage_map.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "core/stamp.h"
#include "tools/kxtable/csv_codec.h"

namespace kxtable {

namespace {

using kxcheck::RecordClass;
using JsonValue = nlohmann::ordered_json;

constexpr std::array<const char*, kDamageKinds> kKindNames = {
    "order",  "year",       "month", "day",     "hour",      "minute",
    "second", "separators", "null",  "deleted", "duplicate", "corrupted"};

static_assert(kxcheck::kAllStampTests.size() == kNullKind);

constexpr int64_t kSecondsADay = 86400;

// A run is longer than another, or as long and earlier.
template <class Run>
bool Longer(const Run& a, const Run& b) {
  if (a.Length() != b.Length()) return a.Length() > b.Length();
  return a.first < b.first;
}

// Keeps `run` in `longest`, a heap whose front is the shortest kept, when it
// is among the `limit` longest.
template <class Run>
void KeepLongest(std::vector<Run>& longest, const Run& run, size_t limit) {
  if (limit == 0) return;
  auto shorter_first = [](const Run& a, const Run& b) { return Longer(a, b); };
  if (longest.size() < limit) {
    longest.push_back(run);
  } else if (Longer(run, longest.front())) {
    std::pop_heap(longest.begin(), longest.end(), shorter_first);
    longest.back() = run;
  } else {
    return;
  }
  std::push_heap(longest.begin(), longest.end(), shorter_first);
}

using damage_map_internal::Byte;
using damage_map_internal::Pairs;
using damage_map_internal::StampWords;
using damage_map_internal::TimeKey;
using damage_map_internal::WordsOf;

// A stamp's date, "YYYY-MM-" and "DD", as the number YYYYMMDD; 0 when it
// names no day of the calendar.
uint64_t DateKey(uint64_t year_month, uint64_t day_word) {
  uint64_t date, day_pairs;
  if (!Pairs(year_month, 0x00FFFF00FFFFFFFFu, date) ||
      !Pairs(day_word, 0xFFFFu, day_pairs)) {
    return 0;
  }
  const unsigned year = Byte(date, 0) * 100 + Byte(date, 2);
  const unsigned month = Byte(date, 5);
  const unsigned day = Byte(day_pairs, 0);
  if ((month - 1 > 11) | (day - 1 > 30)) return 0;
  if (day > 28) {
    const std::chrono::year_month_day_last last{
        std::chrono::year{static_cast<int>(year)},
        std::chrono::month_day_last{std::chrono::month{month}}};
    if (day > static_cast<unsigned>(last.day())) return 0;
  }
  return (uint64_t{year} * 100 + month) * 100 + day;
}

}  // namespace

uint64_t CalendarKey(std::string_view stamp) {
  if (stamp.size() != 19) return 0;
  const StampWords words = WordsOf(stamp);
  return TimeKey(DateKey(words.year_month, words.day), words.time);
}

int64_t KeySeconds(uint64_t key) {
  const auto date = static_cast<unsigned>(key / 1000000);
  const auto time = static_cast<int64_t>(key % 1000000);
  const std::chrono::year_month_day day{
      std::chrono::year{static_cast<int>(date / 10000)},
      std::chrono::month{date / 100 % 100}, std::chrono::day{date % 100}};
  const int64_t days = std::chrono::sys_days{day}.time_since_epoch().count();
  return days * kSecondsADay + time / 10000 * 3600 + time / 100 % 100 * 60 +
         time % 100;
}

std::optional<int64_t> CalendarSeconds(std::string_view stamp) {
  const uint64_t key = CalendarKey(stamp);
  if (key == 0) return std::nullopt;
  return KeySeconds(key);
}

std::string KeyStamp(uint64_t key) {
  const auto date = static_cast<unsigned>(key / 1000000);
  const auto time = static_cast<unsigned>(key % 1000000);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u",
                date / 10000, date / 100 % 100, date % 100, time / 10000,
                time / 100 % 100, time % 100);
  return text;
}

DamageMap::DamageMap(int64_t records, const DamageMapLimits& limits)
    : records_(std::max<int64_t>(records, 0)),
      limits_(limits),
      keep_previous_(limits.first_findings > 0) {
  RememberPrevious(kxcheck::kStartStamp);
  limits_.bins = std::max<int64_t>(limits_.bins, 1);
  bins_.resize(static_cast<size_t>(std::min(records_, limits_.bins)));
  longest_.reserve(limits_.runs);
}

int64_t DamageMap::BinStart(int64_t bin) const {
  return bin * records_ / static_cast<int64_t>(bins_.size()) + 1;
}

int64_t DamageMap::BinOf(int64_t record) const {
  if (record < 1 || record > records_) {
    throw std::out_of_range("record " + std::to_string(record) +
                            " is not among records 1 to " +
                            std::to_string(records_));
  }
  const auto count = static_cast<int64_t>(bins_.size());
  // The bin whose start is the last at or before the record.
  int64_t bin = ((record - 1) * count) / records_;
  while (bin + 1 < count && BinStart(bin + 1) <= record) ++bin;
  while (BinStart(bin) > record) --bin;
  return bin;
}

void DamageMap::SeekBin(int64_t record, size_t& bin, int64_t& first,
                        int64_t& end) const {
  const int64_t found = BinOf(record);
  bin = static_cast<size_t>(found);
  first = BinStart(found);
  end = BinStart(found + 1);
}

void DamageMap::AddNote(const kxcheck::RecordNote& note) {
  const int64_t n = note.record;
  if (n >= bin_end_ || n < bin_first_) SeekBin(n, bin_, bin_first_, bin_end_);
  Bin& bin = bins_[bin_];
  if (note.kind != RecordClass::kExamined) {
    const int kind = note.kind == RecordClass::kNull        ? kNullKind
                     : note.kind == RecordClass::kDeleted   ? kDeletedKind
                     : note.kind == RecordClass::kCorrupted ? kCorruptedKind
                                                            : kDuplicateKind;
    ++bin.findings[kind];
    ++totals_[kind];
    KeepFirst(kind, note);
    // A deleted record is normal: no part of a run, and no end of one either.
    if (kind != kDeletedKind) Damaged(n, 1u << kind);
    return;
  }

  ++examined_;
  const uint32_t failed = note.failed_tests & ((1u << kNullKind) - 1);
  // Most stamps share their date with the stamp before, whose date is then
  // not read again.
  uint64_t key = 0;
  if (note.stamp.size() == 19) {
    const StampWords words = WordsOf(note.stamp);
    if (words.year_month != date_words_[0] || words.day != date_words_[1]) {
      date_words_ = {words.year_month, words.day};
      date_key_ = DateKey(words.year_month, words.day);
    }
    key = TimeKey(date_key_, words.time);
  }
  if (key == 0) {
    ++bin.not_calendar;
    ++not_calendar_;
  }
  if (failed == 0) {
    if (in_run_) {
      KeepLongest(longest_, run_, limits_.runs);
      in_run_ = false;
    }
    if (key != 0) {
      bin.passed_min = std::min(bin.passed_min, key);
      bin.passed_max = std::max(bin.passed_max, key);
      if (first_passed_record_ == 0) {
        first_passed_record_ = n;
        first_passed_ = key;
      }
      last_passed_record_ = n;
      last_passed_ = key;
    }
  } else {
    ++failed_;
    if (key != 0) {
      bin.failed_min = std::min(bin.failed_min, key);
      bin.failed_max = std::max(bin.failed_max, key);
    }
    for (uint32_t bits = failed; bits != 0; bits &= bits - 1) {
      const int kind = __builtin_ctz(bits);
      ++bin.findings[kind];
      ++totals_[kind];
      KeepFirst(kind, note);
    }
    Damaged(n, failed);
  }
  // The order test of the next examined record compares with this stamp.
  if (keep_previous_) {
    if (note.stamp.size() == 19) {
      // The usual stamp: a copy of known size, made without a call.
      std::memcpy(previous_short_.data(), note.stamp.data(), 19);
      previous_size_ = 19;
    } else {
      RememberPrevious(note.stamp);
    }
  }
}

void DamageMap::RememberPrevious(std::string_view stamp) {
  previous_size_ = stamp.size();
  if (stamp.size() <= previous_short_.size()) {
    std::memcpy(previous_short_.data(), stamp.data(), stamp.size());
  } else {
    previous_long_.assign(stamp);
  }
}

void DamageMap::Damaged(int64_t record, uint32_t kinds) {
  if (!in_run_) {
    in_run_ = true;
    run_ = Run{.first = record};
  }
  run_.last = record;
  ++run_.damaged;
  run_.kinds |= kinds;
}

void DamageMap::KeepFirst(int kind, const kxcheck::RecordNote& note) {
  std::vector<FirstFinding>& firsts = firsts_[kind];
  if (firsts.size() >= limits_.first_findings) return;
  FirstFinding& first = firsts.emplace_back();
  first.record = note.record;
  if (kind < kNullKind) first.stamp.assign(note.stamp);
  if (kind == 0) {
    first.previous = previous_size_ <= previous_short_.size()
                         ? std::string(previous_short_.data(), previous_size_)
                         : previous_long_;
    // With the first order findings all kept, no previous stamp is needed.
    keep_previous_ = firsts.size() < limits_.first_findings;
  }
}

DamageMap::Repair& DamageMap::RepairData() {
  if (!repair_) {
    repair_ = std::make_unique<Repair>();
    repair_->bins.resize(bins_.size());
    repair_->longest.reserve(limits_.runs);
  }
  return *repair_;
}

namespace {

// How a stamp written compares with the one read.
struct StampChange {
  bool replaced;  // it differs in more than the characters between fields
  bool changed;   // it differs at all
};

StampChange CompareStamps(std::string_view read, std::string_view written) {
  if (read.size() != written.size()) return {true, true};
  if (read.size() == 19) {
    // Characters 1-8, 9-16 and 12-19 as words (damage_map_internal::Word),
    // and the bytes of the characters between the fields (5, 8, 11, 14 and
    // 17) in them.
    using damage_map_internal::Word;
    const auto* r = reinterpret_cast<const unsigned char*>(read.data());
    const auto* w = reinterpret_cast<const unsigned char*>(written.data());
    const uint64_t d0 = Word(r) ^ Word(w);
    const uint64_t d1 = Word(r + 8) ^ Word(w + 8);
    const uint64_t d2 = Word(r + 11) ^ Word(w + 11);
    constexpr uint64_t kBetween0 = 0xFF00'00FF'0000'0000u;  // 5 and 8
    constexpr uint64_t kBetween1 = 0x0000'FF00'00FF'0000u;  // 11 and 14
    constexpr uint64_t kBetween2 = 0x0000'FF00'00FF'0000u;  // 14 and 17
    return {((d0 & ~kBetween0) | (d1 & ~kBetween1) | (d2 & ~kBetween2)) != 0,
            (d0 | d1 | d2) != 0};
  }
  if (read == written) return {false, false};
  return {true, true};
}

}  // namespace

DamageMap::RepairBin& DamageMap::RepairBinOf(Repair& repair, int64_t record) {
  if (record >= repair.bin_end || record < repair.bin_first) {
    SeekBin(record, repair.bin, repair.bin_first, repair.bin_end);
  }
  return repair.bins[repair.bin];
}

bool DamageMap::SameAsLastWritten(const Repair& repair,
                                  std::string_view written) {
  if (!repair.have_written || written.size() != repair.last_size) return false;
  if (written.size() > repair.last_short.size()) {
    return written == repair.last_long;
  }
  return damage_map_internal::SameBytes(
      written.data(), repair.last_short.data(), written.size());
}

void DamageMap::RememberWritten(Repair& repair, std::string_view written) {
  repair.last_size = written.size();
  if (written.size() == 19) {
    std::memcpy(repair.last_short.data(), written.data(), 19);
  } else if (written.size() <= repair.last_short.size()) {
    std::memcpy(repair.last_short.data(), written.data(), written.size());
  } else {
    repair.last_long.assign(written);
  }
  repair.have_written = true;
}

uint64_t DamageMap::OldKey(Repair& repair, std::string_view read) const {
  if (read.size() != 19) return 0;
  const StampWords words = WordsOf(read);
  if (words.year_month != repair.old_date_words[0] ||
      words.day != repair.old_date_words[1]) {
    repair.old_date_words = {words.year_month, words.day};
    repair.old_date_key = DateKey(words.year_month, words.day);
  }
  return TimeKey(repair.old_date_key, words.time);
}

void DamageMap::AddWritten(int64_t record, std::string_view read,
                           std::string_view written) {
  Repair& repair = repair_ ? *repair_ : RepairData();
  RepairBin& bin = RepairBinOf(repair, record);
  ++repair.written;
  const StampChange change = CompareStamps(read, written);
  const bool same_as_before = SameAsLastWritten(repair, written);
  if (change.replaced) {
    ++bin.replaced;
    ++repair.replaced;
    if (const uint64_t key = OldKey(repair, read)) {
      bin.old_min = std::min(bin.old_min, key);
      bin.old_max = std::max(bin.old_max, key);
    }
    // A spread writes one stamp many times: its key is worked out once.
    if (!same_as_before || !repair.last_key_known) {
      repair.last_key = CalendarKey(written);
      repair.last_key_known = true;
    }
    if (const uint64_t key = repair.last_key) {
      bin.new_min = std::min(bin.new_min, key);
      bin.new_max = std::max(bin.new_max, key);
    }
  } else if (change.changed) {
    ++repair.separators;
  }
  // A spread: replaced stamps that all took the stamp written before them.
  if (change.replaced && same_as_before) {
    Spread& open = repair.open;
    if (open.records == 0) {
      open.first = record;
      open.source = repair.last_source;
      open.stamp.assign(written);
    }
    open.last = record;
    ++open.records;
  } else if (repair.open.records != 0) {
    EndSpread(repair);
  }
  if (!same_as_before) {
    repair.last_key_known = change.replaced;
    RememberWritten(repair, written);
    repair.last_source = record;
  }
}

void DamageMap::AddUnchanged(int64_t record, std::string_view stamp) {
  // As AddWritten with the stamp read and written alike: nothing replaced,
  // and any spread ends here.
  Repair& repair = repair_ ? *repair_ : RepairData();
  RepairBinOf(repair, record);
  ++repair.written;
  if (repair.open.records != 0) EndSpread(repair);
  if (!SameAsLastWritten(repair, stamp)) {
    repair.last_key_known = false;
    RememberWritten(repair, stamp);
    repair.last_source = record;
  }
}

void DamageMap::EndSpread(Repair& repair) {
  Spread& open = repair.open;
  if (open.records > kSpreadWarnAbove) {
    ++repair.spread_count;
    KeepLongest(repair.longest, open, limits_.runs);
  }
  open.records = 0;
}

void DamageMap::DescribeRepair(const std::string& output, bool dry_run,
                               const std::string& warning) {
  Repair& repair = RepairData();
  repair.output = output;
  repair.dry_run = dry_run;
  repair.warning = warning;
}

int64_t DamageMap::SpreadCount() const {
  if (!repair_) return 0;
  return repair_->spread_count +
         (repair_->open.records > kSpreadWarnAbove ? 1 : 0);
}

std::string DamageMap::Json(const DamageMapTable& table) const {
  std::string text;
  WriteJson(table, [&text](std::string_view part) { text += part; });
  return text;
}

void DamageMap::WriteJson(
    const DamageMapTable& table,
    const std::function<void(std::string_view)>& put) const {
  JsonValue data;
  data["version"] = 1;

  JsonValue about;
  about["path"] = EscapeCell(table.path);
  about["layout"] = EscapeCell(table.layout);
  about["records"] = records_;
  for (const auto& [key, texts] : {std::pair{"problems", &table.problems},
                                   {"warnings", &table.warnings}}) {
    JsonValue& list = about[key] = JsonValue::array();
    for (const std::string& text : *texts) list.push_back(EscapeCell(text));
  }
  about["exit_status"] = table.exit_status;
  about["status"] = table.status;
  about["complete"] = table.complete;
  data["table"] = std::move(about);

  JsonValue totals;
  for (int kind = 0; kind < kDamageKinds; ++kind) {
    totals[kKindNames[kind]] = totals_[kind];
  }
  totals["examined"] = examined_;
  totals["failed"] = failed_;
  totals["not_calendar"] = not_calendar_;
  // Every note is of an examined record or of one of the four special ones.
  totals["noted"] = examined_ + totals_[kNullKind] + totals_[kDeletedKind] +
                    totals_[kDuplicateKind] + totals_[kCorruptedKind];
  data["totals"] = std::move(totals);

  auto stamp = [](int64_t record, uint64_t key) {
    if (record == 0) return JsonValue();
    return JsonValue{{"record", record},
                     {"stamp", KeyStamp(key)},
                     {"seconds", KeySeconds(key)}};
  };
  data["stamps"] = {
      {"first_passed", stamp(first_passed_record_, first_passed_)},
      {"last_passed", stamp(last_passed_record_, last_passed_)},
      {"span_seconds",
       first_passed_record_ == 0
           ? JsonValue()
           : JsonValue(KeySeconds(last_passed_) - KeySeconds(first_passed_))}};

  // The runs kept, and the one still open after the last note.
  std::vector<Run> runs = longest_;
  if (in_run_) runs.push_back(run_);
  std::sort(runs.begin(), runs.end(), Longer<Run>);
  if (runs.size() > limits_.runs) runs.resize(limits_.runs);
  JsonValue run_list = JsonValue::array();
  for (const Run& run : runs) {
    JsonValue kinds = JsonValue::array();
    for (int kind = 0; kind < kDamageKinds; ++kind) {
      if (run.kinds & (1u << kind)) kinds.push_back(kKindNames[kind]);
    }
    run_list.push_back({{"first", run.first},
                        {"last", run.last},
                        {"records", run.Length()},
                        {"damaged", run.damaged},
                        {"kinds", std::move(kinds)}});
  }
  data["runs"] = std::move(run_list);

  JsonValue firsts;
  for (int kind = 0; kind < kDamageKinds; ++kind) {
    JsonValue list = JsonValue::array();
    for (const FirstFinding& f : firsts_[kind]) {
      JsonValue item = {{"record", f.record}};
      if (kind < kNullKind) item["stamp"] = EscapeCell(f.stamp);
      if (kind == 0) item["previous"] = EscapeCell(f.previous);
      list.push_back(std::move(item));
    }
    firsts[kKindNames[kind]] = std::move(list);
  }
  data["first_findings"] = std::move(firsts);
  data["limits"] = {{"bins", limits_.bins},
                    {"runs", limits_.runs},
                    {"first_findings", limits_.first_findings}};

  // The bins, thousands of numbers, are written here directly, as the last
  // member, and handed on in parts as they grow.
  std::string text = data.dump();
  text.pop_back();
  text += ",\"bins\":";
  AppendBins(text, put);
  if (repair_) {
    text += ",\"repair\":";
    AppendRepair(text, put);
  }
  text += '}';
  put(text);
}

namespace {

constexpr size_t kJsonPart = size_t{32} << 10;

// Adds "name":[...] to `text` with `count` values, `value(i)` giving a number
// or nothing (null). The array is written in place into room for its longest
// and then cut to its size: thousands of numbers, each with no call to add
// it.
template <class Value>
void AppendArray(std::string& text, std::string_view name, size_t count,
                 Value value,
                 const std::function<void(std::string_view)>& put) {
  constexpr size_t kNumberRoom = 21;  // "-9223372036854775808" and a comma
  const size_t at = text.size();
  text.resize(at + name.size() + 8 + count * kNumberRoom);
  char* out = text.data() + at;
  auto copy = [&out](std::string_view part) {
    std::memcpy(out, part.data(), part.size());
    out += part.size();
  };
  copy("\"");
  copy(name);
  copy("\":[");
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) *out++ = ',';
    const std::optional<int64_t> v = value(i);
    if (v) {
      out = std::to_chars(out, out + kNumberRoom, *v).ptr;
    } else {
      copy("null");
    }
  }
  *out++ = ']';
  text.resize(static_cast<size_t>(out - text.data()));
  // What is written goes on in parts of some tens of kilobytes, so that the
  // text never holds all the arrays.
  if (text.size() >= kJsonPart) {
    put(text);
    text.clear();
  }
}

}  // namespace

void DamageMap::AppendRepair(
    std::string& text, const std::function<void(std::string_view)>& put) const {
  const Repair& repair = *repair_;
  JsonValue about;
  about["output"] = EscapeCell(repair.output);
  about["dry_run"] = repair.dry_run;
  about["written"] = repair.written;
  about["replaced"] = repair.replaced;
  about["separators"] = repair.separators;
  about["warning"] = repair.warning.empty()
                         ? JsonValue()
                         : JsonValue(EscapeCell(repair.warning));
  about["spread_limit"] = kSpreadWarnAbove;
  about["spread_count"] = SpreadCount();
  // The spreads kept, and the one still open after the last record.
  std::vector<Spread> spreads = repair.longest;
  if (repair.open.records > kSpreadWarnAbove && limits_.runs > 0) {
    spreads.push_back(repair.open);
  }
  std::sort(spreads.begin(), spreads.end(), Longer<Spread>);
  if (spreads.size() > limits_.runs) spreads.resize(limits_.runs);
  JsonValue list = JsonValue::array();
  for (const Spread& spread : spreads) {
    list.push_back(
        {{"first", spread.first},
         {"last", spread.last},
         {"records", spread.records},
         {"source", spread.source},
         {"stamp", EscapeCell(spread.stamp)},
         {"seconds", CalendarKey(spread.stamp) == 0
                         ? JsonValue()
                         : JsonValue(*CalendarSeconds(spread.stamp))}});
  }
  about["spread_runs"] = std::move(list);
  std::string head = about.dump();
  head.pop_back();
  text += head;

  auto key_array = [&](std::string_view name, auto value) {
    AppendArray(
        text, name, repair.bins.size(),
        [&](size_t i) -> std::optional<int64_t> {
          const uint64_t key = value(repair.bins[i]);
          if (key == 0 || key == UINT64_MAX) return std::nullopt;
          return KeySeconds(key);
        },
        put);
  };
  text += ",\"bins\":{";
  for (const auto& [name, key] : {std::pair{"old_min", &RepairBin::old_min},
                                  {"old_max", &RepairBin::old_max},
                                  {"new_min", &RepairBin::new_min},
                                  {"new_max", &RepairBin::new_max}}) {
    key_array(name, [key](const RepairBin& b) { return b.*key; });
    text += ',';
  }
  AppendArray(
      text, "replaced", repair.bins.size(),
      [&](size_t i) -> std::optional<int64_t> {
        return repair.bins[i].replaced;
      },
      put);
  text += "}}";
}

void DamageMap::AppendBins(
    std::string& text, const std::function<void(std::string_view)>& put) const {
  // One array of the bins' values, `value(bin)` giving a number or nothing.
  auto array = [&](std::string_view name, auto value) {
    AppendArray(
        text, name, bins_.size(), [&](size_t i) { return value(i, bins_[i]); },
        put);
  };
  auto seconds = [](uint64_t key, uint64_t none) -> std::optional<int64_t> {
    if (key == none) return std::nullopt;
    return KeySeconds(key);
  };
  text += "{\"count\":" + std::to_string(bins_.size()) + ',';
  array("first", [this](size_t i, const Bin&) -> std::optional<int64_t> {
    return BinStart(static_cast<int64_t>(i));
  });
  text += ',';
  // The least stamps are UINT64_MAX where there are none, the greatest 0.
  for (const auto& [name, key, none] :
       {std::tuple{"passed_min", &Bin::passed_min, UINT64_MAX},
        {"passed_max", &Bin::passed_max, uint64_t{0}},
        {"failed_min", &Bin::failed_min, UINT64_MAX},
        {"failed_max", &Bin::failed_max, uint64_t{0}}}) {
    array(name,
          [&](size_t, const Bin& bin) { return seconds(bin.*key, none); });
    text += ',';
  }
  array("not_calendar", [](size_t, const Bin& bin) -> std::optional<int64_t> {
    return bin.not_calendar;
  });
  text += ",\"findings\":{";
  for (int kind = 0; kind < kDamageKinds; ++kind) {
    if (kind > 0) text += ',';
    array(kKindNames[kind],
          [kind](size_t, const Bin& bin) -> std::optional<int64_t> {
            return bin.findings[kind];
          });
  }
  text += "}}";
}

}  // namespace kxtable
