#include "tools/kxtable/damage_map.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "core/stamp.h"
#include "tools/kxtable/csv_codec.h"

namespace kxtable {

namespace {

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

JsonValue Seconds(int64_t value, int64_t none) {
  return value == none ? JsonValue() : JsonValue(value);
}

}  // namespace

const char* DamageKindName(int kind) {
  return kind >= 0 && kind < kDamageKinds ? kKindNames[kind] : "unknown";
}

std::optional<int64_t> CalendarSeconds(std::string_view stamp) {
  if (stamp.size() != 19) return std::nullopt;
  auto digit = [&](size_t i) {
    return static_cast<unsigned>(static_cast<unsigned char>(stamp[i])) - '0';
  };
  const unsigned d[14] = {digit(0),  digit(1),  digit(2),  digit(3),  digit(5),
                          digit(6),  digit(8),  digit(9),  digit(11), digit(12),
                          digit(14), digit(15), digit(17), digit(18)};
  bool digits = true;
  for (unsigned v : d) digits &= v <= 9;
  if (!digits) return std::nullopt;
  const int year =
      static_cast<int>(d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3]);
  const unsigned month = d[4] * 10 + d[5];
  const unsigned day = d[6] * 10 + d[7];
  const unsigned hour = d[8] * 10 + d[9];
  const unsigned minute = d[10] * 10 + d[11];
  const unsigned second = d[12] * 10 + d[13];
  const std::chrono::year_month_day date{std::chrono::year{year},
                                         std::chrono::month{month},
                                         std::chrono::day{day}};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  const int64_t days = std::chrono::sys_days{date}.time_since_epoch().count();
  return days * kSecondsADay + hour * 3600 + minute * 60 + second;
}

std::string CalendarStamp(int64_t seconds) {
  int64_t days = seconds / kSecondsADay;
  int64_t rest = seconds % kSecondsADay;
  if (rest < 0) {
    rest += kSecondsADay;
    --days;
  }
  const std::chrono::year_month_day date{
      std::chrono::sys_days{std::chrono::days{days}}};
  char text[64];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d",
      static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
      static_cast<unsigned>(date.day()), static_cast<int>(rest / 3600),
      static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

DamageMap::DamageMap(int64_t records, const DamageMapLimits& limits)
    : records_(std::max<int64_t>(records, 0)),
      limits_(limits),
      previous_stamp_(kxcheck::kStartStamp) {
  limits_.bins = std::max<int64_t>(limits_.bins, 1);
  bins_.resize(static_cast<size_t>(std::min(records_, limits_.bins)));
  longest_.reserve(limits_.runs);
}

int64_t DamageMap::BinStart(int64_t bin) const {
  return bin * records_ / static_cast<int64_t>(bins_.size()) + 1;
}

void DamageMap::SeekBin(int64_t record) {
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
  bin_ = static_cast<size_t>(bin);
  bin_first_ = BinStart(bin);
  bin_end_ = BinStart(bin + 1);
}

void DamageMap::Add(const RecordNote& note) {
  const int64_t n = note.record;
  if (n >= bin_end_ || n < bin_first_) SeekBin(n);
  Bin& bin = bins_[bin_];
  ++noted_;
  switch (note.kind) {
    case RecordClass::kNull:
      ++bin.findings[kNullKind];
      ++totals_[kNullKind];
      KeepFirst(kNullKind, note);
      Damaged(n, 1u << kNullKind);
      return;
    case RecordClass::kDeleted:
      // Normal: no part of a run, and no end of one either.
      ++bin.findings[kDeletedKind];
      ++totals_[kDeletedKind];
      KeepFirst(kDeletedKind, note);
      return;
    case RecordClass::kCorrupted:
      ++bin.findings[kCorruptedKind];
      ++totals_[kCorruptedKind];
      KeepFirst(kCorruptedKind, note);
      Damaged(n, 1u << kCorruptedKind);
      return;
    case RecordClass::kDuplicate:
      ++bin.findings[kDuplicateKind];
      ++totals_[kDuplicateKind];
      KeepFirst(kDuplicateKind, note);
      Damaged(n, 1u << kDuplicateKind);
      return;
    case RecordClass::kExamined:
      break;
  }

  ++examined_;
  const uint32_t failed = note.failed & ((1u << kNullKind) - 1);
  AddStamp(bin, note.record, note.stamp, failed == 0);
  if (failed == 0) {
    if (in_run_) {
      KeepRun(run_);
      in_run_ = false;
    }
  } else {
    ++failed_;
    for (uint32_t bits = failed; bits != 0; bits &= bits - 1) {
      const int kind = __builtin_ctz(bits);
      ++bin.findings[kind];
      ++totals_[kind];
      KeepFirst(kind, note);
    }
    Damaged(n, failed);
  }
  // The order test of the next examined record compares with this stamp.
  if (firsts_[0].size() < limits_.first_findings) {
    previous_stamp_.assign(note.stamp);
  }
}

void DamageMap::AddStamp(Bin& bin, int64_t record, std::string_view stamp,
                         bool passed) {
  const std::optional<int64_t> seconds = CalendarSeconds(stamp);
  if (!seconds) {
    ++bin.not_calendar;
    ++not_calendar_;
    return;
  }
  const int64_t s = *seconds;
  if (passed) {
    bin.passed_min = std::min(bin.passed_min, s);
    bin.passed_max = std::max(bin.passed_max, s);
    if (first_passed_record_ == 0) {
      first_passed_record_ = record;
      first_passed_ = s;
    }
    last_passed_record_ = record;
    last_passed_ = s;
  } else {
    bin.failed_min = std::min(bin.failed_min, s);
    bin.failed_max = std::max(bin.failed_max, s);
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

void DamageMap::KeepRun(const Run& run) {
  if (limits_.runs == 0) return;
  auto shorter_first = [](const Run& a, const Run& b) { return Longer(a, b); };
  if (longest_.size() < limits_.runs) {
    longest_.push_back(run);
    std::push_heap(longest_.begin(), longest_.end(), shorter_first);
  } else if (Longer(run, longest_.front())) {
    std::pop_heap(longest_.begin(), longest_.end(), shorter_first);
    longest_.back() = run;
    std::push_heap(longest_.begin(), longest_.end(), shorter_first);
  }
}

void DamageMap::KeepFirst(int kind, const RecordNote& note) {
  std::vector<FirstFinding>& firsts = firsts_[kind];
  if (firsts.size() >= limits_.first_findings) return;
  FirstFinding& first = firsts.emplace_back();
  first.record = note.record;
  if (kind < kNullKind) first.stamp.assign(note.stamp);
  if (kind == 0) first.previous = previous_stamp_;
}

int64_t DamageMap::FindingCount() const {
  int64_t count = 0;
  for (int kind = 0; kind < kNullKind; ++kind) count += totals_[kind];
  return count;
}

std::string DamageMap::Json(const DamageMapTable& table) const {
  JsonValue data;
  data["version"] = 1;

  JsonValue about;
  about["path"] = EscapeCell(table.path);
  about["layout"] = EscapeCell(table.layout);
  about["records"] = records_;
  JsonValue problems = JsonValue::array();
  for (const std::string& problem : table.problems) {
    problems.push_back(EscapeCell(problem));
  }
  about["problems"] = std::move(problems);
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
  totals["noted"] = noted_;
  data["totals"] = std::move(totals);

  auto stamp = [](int64_t record, int64_t seconds) {
    if (record == 0) return JsonValue();
    return JsonValue{{"record", record},
                     {"stamp", CalendarStamp(seconds)},
                     {"seconds", seconds}};
  };
  data["stamps"] = {
      {"first_passed", stamp(first_passed_record_, first_passed_)},
      {"last_passed", stamp(last_passed_record_, last_passed_)},
      {"span_seconds", first_passed_record_ == 0
                           ? JsonValue()
                           : JsonValue(last_passed_ - first_passed_)}};

  JsonValue first = JsonValue::array();
  JsonValue passed_min = JsonValue::array();
  JsonValue passed_max = JsonValue::array();
  JsonValue failed_min = JsonValue::array();
  JsonValue failed_max = JsonValue::array();
  JsonValue not_calendar = JsonValue::array();
  std::array<JsonValue, kDamageKinds> findings;
  findings.fill(JsonValue::array());
  for (size_t i = 0; i < bins_.size(); ++i) {
    const Bin& bin = bins_[i];
    first.push_back(BinStart(static_cast<int64_t>(i)));
    passed_min.push_back(Seconds(bin.passed_min, INT64_MAX));
    passed_max.push_back(Seconds(bin.passed_max, kNoStamp));
    failed_min.push_back(Seconds(bin.failed_min, INT64_MAX));
    failed_max.push_back(Seconds(bin.failed_max, kNoStamp));
    not_calendar.push_back(bin.not_calendar);
    for (int kind = 0; kind < kDamageKinds; ++kind) {
      findings[kind].push_back(bin.findings[kind]);
    }
  }
  JsonValue bins;
  bins["count"] = bins_.size();
  bins["first"] = std::move(first);
  bins["passed_min"] = std::move(passed_min);
  bins["passed_max"] = std::move(passed_max);
  bins["failed_min"] = std::move(failed_min);
  bins["failed_max"] = std::move(failed_max);
  bins["not_calendar"] = std::move(not_calendar);
  JsonValue by_kind;
  for (int kind = 0; kind < kDamageKinds; ++kind) {
    by_kind[kKindNames[kind]] = std::move(findings[kind]);
  }
  bins["findings"] = std::move(by_kind);
  data["bins"] = std::move(bins);

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
  return data.dump();
}

}  // namespace kxtable
