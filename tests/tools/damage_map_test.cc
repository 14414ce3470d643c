// The damage map's data (bins, runs, first findings, calendar times) and the
// page that carries it.
#include "tools/kxtable/damage_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/stamp.h"
#include "engine/record_codec.h"
#include "tools/kxtable/repair_overlay.h"
#include "tools/kxtable/report_page.h"

namespace {

using kxcheck::RecordClass;
using kxcheck::RecordNote;
using kxtable::DamageMap;
using Json = nlohmann::json;

constexpr uint32_t kOrder = kxcheck::Bit(kxcheck::StampTest::kOrder);
constexpr uint32_t kYear = kxcheck::Bit(kxcheck::StampTest::kYear);
constexpr uint32_t kMonth = kxcheck::Bit(kxcheck::StampTest::kMonth);

int64_t Seconds(const char* stamp) {
  return kxtable::CalendarSeconds(stamp).value();
}

Json DataOf(const DamageMap& map) {
  return Json::parse(map.Json({.path = "t.kxt", .status = "damaged"}));
}

// The note of `record` from a letter: N null, D deleted, C corrupted,
// U duplicate; any other letter is a record examined with `stamp`.
RecordNote NoteOf(int64_t record, char letter, std::string_view stamp) {
  static const std::map<char, RecordClass> kKinds = {
      {'N', RecordClass::kNull},
      {'D', RecordClass::kDeleted},
      {'C', RecordClass::kCorrupted},
      {'U', RecordClass::kDuplicate}};
  RecordNote note{.record = record};
  if (const auto kind = kKinds.find(letter); kind != kKinds.end()) {
    note.kind = kind->second;
  } else {
    note.stamp = stamp;
  }
  return note;
}

// Ten records in four bins (1-2, 3-5, 6-7, 8-10): a clean start, a null and
// a deleted record, a stamp far in the future and the record after it, a
// month 13, a clean record, then a corrupted and a duplicate record.
TEST(DamageMapTest, BinsRunsAndFirstFindingsOfASmallTable) {
  DamageMap map(10, {.bins = 4});
  auto examined = [](int64_t n, const char* stamp, uint32_t failed = 0) {
    return RecordNote{.record = n, .stamp = stamp, .failed_tests = failed};
  };
  const std::vector<RecordNote> notes = {
      examined(1, "2020-01-01 10:00:00"),
      examined(2, "2020-01-01 10:00:01"),
      {.record = 3, .kind = RecordClass::kNull},
      {.record = 4, .kind = RecordClass::kDeleted},
      examined(5, "2150-01-01 10:00:02", kYear),
      examined(6, "2020-01-01 10:00:03", kOrder),
      examined(7, "2020-13-01 10:00:04", kMonth),
      examined(8, "2020-01-01 10:00:05"),
      {.record = 9, .kind = RecordClass::kCorrupted},
      {.record = 10, .kind = RecordClass::kDuplicate},
  };
  for (const RecordNote& note : notes) map.Add(note);
  const Json data = DataOf(map);

  struct Expect {
    const char* pointer;
    Json value;
  };
  const std::vector<Expect> expected = {
      {"/table/records", 10},
      {"/bins/count", 4},
      {"/bins/first", {1, 3, 6, 8}},
      {"/bins/passed_min",
       {Seconds("2020-01-01 10:00:00"), nullptr, nullptr,
        Seconds("2020-01-01 10:00:05")}},
      {"/bins/passed_max",
       {Seconds("2020-01-01 10:00:01"), nullptr, nullptr,
        Seconds("2020-01-01 10:00:05")}},
      // Month 13 is no calendar time: counted, not placed.
      {"/bins/failed_min",
       {nullptr, Seconds("2150-01-01 10:00:02"), Seconds("2020-01-01 10:00:03"),
        nullptr}},
      {"/bins/not_calendar", {0, 0, 1, 0}},
      {"/bins/findings/null", {0, 1, 0, 0}},
      {"/bins/findings/deleted", {0, 1, 0, 0}},
      {"/bins/findings/year", {0, 1, 0, 0}},
      {"/bins/findings/order", {0, 0, 1, 0}},
      {"/bins/findings/month", {0, 0, 1, 0}},
      {"/bins/findings/corrupted", {0, 0, 0, 1}},
      {"/bins/findings/duplicate", {0, 0, 0, 1}},
      {"/totals/examined", 6},
      {"/totals/failed", 3},
      {"/totals/not_calendar", 1},
      {"/totals/noted", 10},
      // The deleted record 4 lies inside the first run; the second is still
      // open after the last note.
      {"/runs", Json::parse(R"([
         {"first": 3, "last": 7, "records": 5, "damaged": 4,
          "kinds": ["order", "year", "month", "null"]},
         {"first": 9, "last": 10, "records": 2, "damaged": 2,
          "kinds": ["duplicate", "corrupted"]}])")},
      {"/first_findings/order",
       Json::parse(R"([{"record": 6, "stamp": "2020-01-01 10:00:03",
                        "previous": "2150-01-01 10:00:02"}])")},
      {"/first_findings/null", Json::parse(R"([{"record": 3}])")},
      {"/stamps/first_passed/record", 1},
      {"/stamps/last_passed",
       Json::parse(R"({"record": 8, "stamp": "2020-01-01 10:00:05",
                       "seconds": 1577872805})")},
      {"/stamps/span_seconds", 5},
  };
  for (const Expect& e : expected) {
    EXPECT_EQ(data.at(Json::json_pointer(e.pointer)), e.value) << e.pointer;
  }
}

// Runs from a line of records: N null, D deleted, C corrupted, U duplicate,
// E examined and clean, F examined with a failed test.
struct RunCase {
  const char* name;
  const char* records;
  size_t keep = 20;
  const char* runs;  // "first-last/damaged ..." longest first
};

std::string RunsOf(const RunCase& c) {
  const std::string line = c.records;
  DamageMap map(static_cast<int64_t>(line.size()), {.runs = c.keep});
  for (size_t i = 0; i < line.size(); ++i) {
    RecordNote note =
        NoteOf(static_cast<int64_t>(i) + 1, line[i], "2020-01-01 10:00:00");
    if (line[i] == 'F') note.failed_tests = kMonth;
    map.Add(note);
  }
  std::string text;
  const Json data = DataOf(map);
  for (const Json& run : data["runs"]) {
    if (!text.empty()) text += ' ';
    text += std::to_string(run["first"].get<int64_t>()) + "-" +
            std::to_string(run["last"].get<int64_t>()) + "/" +
            std::to_string(run["damaged"].get<int64_t>());
  }
  return text;
}

TEST(DamageMapTest, RunsOfDamagedRecords) {
  const std::vector<RunCase> cases = {
      {.name = "deleted records join a run",
       .records = "NDDC",
       .runs = "1-4/2"},
      {.name = "deleted records alone are no run",
       .records = "EDDE",
       .runs = ""},
      {.name = "a run does not start or end on a deleted record",
       .records = "DFFD",
       .runs = "2-3/2"},
      {.name = "a clean record ends a run",
       .records = "NENUE",
       .runs = "3-4/2 1-1/1"},
      {.name = "longest first, then earliest",
       .records = "FEFFEUUEN",
       .runs = "3-4/2 6-7/2 1-1/1 9-9/1"},
      {.name = "only the longest are kept, the earlier of equal ones",
       .records = "FFENNNEUUEFFF",
       .keep = 2,
       .runs = "4-6/3 11-13/3"},
      {.name = "of equal runs the earlier are kept",
       .records = "FEFEF",
       .keep = 2,
       .runs = "1-1/1 3-3/1"},
      {.name = "a run open at the end competes too",
       .records = "NEFFF",
       .keep = 1,
       .runs = "3-5/3"},
  };
  for (const RunCase& c : cases) EXPECT_EQ(RunsOf(c), c.runs) << c.name;
}

TEST(DamageMapTest, CalendarTimesOfStamps) {
  struct Case {
    std::string stamp;
    std::optional<int64_t> seconds;
  };
  const std::vector<Case> cases = {
      {"1970-01-01 00:00:00", 0},
      {"2020-02-29 23:59:59", 1583020799},
      {"0000-01-01 00:00:00", -62167219200},
      {"9999-12-31 23:59:59", 253402300799},
      // Separators are not looked at: a repair puts them right.
      {"2020/02/29T23-59;59", 1583020799},
      {"2019\37712\37731\37723\37759\37759", 1577836799},  // \377: 0xff
      // Bytes that look like digits to a careless test.
      {"20?0-01-01 00:00:00", std::nullopt},
      {"2020-01-01 00:0\xb0:00", std::nullopt},
      {"2020-01-01 00:00:/0", std::nullopt},
      // The day test passes these, the calendar does not.
      {"2021-02-29 00:00:00", std::nullopt},
      {"2020-04-31 00:00:00", std::nullopt},
      {"2020-00-10 00:00:00", std::nullopt},
      {"2020-01-00 00:00:00", std::nullopt},
      {"2020-0:-10 00:00:00", std::nullopt},
      {"2020-01-01 24:00:00", std::nullopt},
      {"2020-01-01 00:60:00", std::nullopt},
      {"2020-01-01 00:00:60", std::nullopt},
      {"2020-01-01 00:00:0", std::nullopt},
      {"2020-01-01 00:00:000", std::nullopt},
      {" ", std::nullopt},
      {std::string("2020-01-\0001 00:00:00", 19), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kxtable::CalendarSeconds(c.stamp), c.seconds) << c.stamp;
    if (c.seconds && c.stamp[4] == '-') {
      EXPECT_EQ(kxtable::KeyStamp(kxtable::CalendarKey(c.stamp)), c.stamp);
    }
  }
}

// The map reads a date only when it differs from the stamp before; each
// stamp must still be placed as it would be alone.
TEST(DamageMapTest, StampsArePlacedWhateverTheStampBefore) {
  const std::vector<std::string> stamps = {
      "2020-02-29 10:00:00", "2020-02-29 25:00:00", "2020-02-29 10:00:01",
      "2021-02-29 10:00:00", "2021-02-29 10:00:01", "2021-03-01 00:00:00",
      "2021-03-02 00:00:00", "2021/03/02 00:00:01", "2021-03-02 00:00:0",
      "2021-03-02 00:00:02", "2021-03-12 00:00:00",
  };
  DamageMap map(static_cast<int64_t>(stamps.size()));
  for (size_t i = 0; i < stamps.size(); ++i) {
    map.Add({.record = static_cast<int64_t>(i) + 1, .stamp = stamps[i]});
  }
  const Json data = DataOf(map);
  for (size_t i = 0; i < stamps.size(); ++i) {
    const std::optional<int64_t> alone = kxtable::CalendarSeconds(stamps[i]);
    EXPECT_EQ(data["bins"]["passed_min"][i],
              alone ? Json(*alone) : Json(nullptr))
        << stamps[i];
  }
  EXPECT_EQ(data["totals"]["not_calendar"], 4);
}

// Records that share a bin: its least and greatest stamp, whatever came
// before each (another date, a stamp of no calendar time, damage).
TEST(DamageMapTest, StampsThatShareABin) {
  struct Step {
    const char* stamp;
    uint32_t failed = 0;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    const char* passed_min;
    const char* passed_max;
    int not_calendar = 0;
    int64_t last_passed;  // record
  };
  const std::vector<Case> cases = {
      {.name = "one date",
       .steps = {{"2020-01-01 10:00:00"},
                 {"2020-01-01 10:00:01"},
                 {"2020-01-01 10:00:02"}},
       .passed_min = "2020-01-01 10:00:00",
       .passed_max = "2020-01-01 10:00:02",
       .last_passed = 3},
      {.name = "a new date",
       .steps = {{"2020-01-01 23:59:59"},
                 {"2020-01-02 00:00:00"},
                 {"2020-01-02 00:00:01"}},
       .passed_min = "2020-01-01 23:59:59",
       .passed_max = "2020-01-02 00:00:01",
       .last_passed = 3},
      {.name = "a time of no calendar on the same date",
       .steps = {{"2020-01-01 10:00:00"},
                 {"2020-01-01 10:0:000"},
                 {"2020-01-01 10:00:01"}},
       .passed_min = "2020-01-01 10:00:00",
       .passed_max = "2020-01-01 10:00:01",
       .not_calendar = 1,
       .last_passed = 3},
      {.name = "a day that is not in the month, twice",
       .steps = {{"2021-02-28 10:00:00"},
                 {"2021-02-29 10:00:00"},
                 {"2021-02-29 10:00:01"}},
       .passed_min = "2021-02-28 10:00:00",
       .passed_max = "2021-02-28 10:00:00",
       .not_calendar = 2,
       .last_passed = 1},
      {.name = "lower after a damaged stamp",
       .steps = {{"2020-01-01 10:00:00"},
                 {"2020-01-01 09:00:00", kOrder},
                 {"2020-01-01 09:30:00"},
                 {"2020-01-01 09:30:01"}},
       .passed_min = "2020-01-01 09:30:00",
       .passed_max = "2020-01-01 10:00:00",
       .last_passed = 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DamageMap map(static_cast<int64_t>(c.steps.size()), {.bins = 1});
    for (size_t i = 0; i < c.steps.size(); ++i) {
      map.Add({.record = static_cast<int64_t>(i) + 1,
               .stamp = c.steps[i].stamp,
               .failed_tests = c.steps[i].failed});
    }
    const Json data = DataOf(map);
    EXPECT_EQ(data["bins"]["passed_min"][0], Seconds(c.passed_min));
    EXPECT_EQ(data["bins"]["passed_max"][0], Seconds(c.passed_max));
    EXPECT_EQ(data["bins"]["not_calendar"][0], c.not_calendar);
    EXPECT_EQ(data["totals"]["examined"], c.steps.size());
    EXPECT_EQ(data["totals"]["noted"], c.steps.size());
    EXPECT_EQ(data["stamps"]["last_passed"]["record"], c.last_passed);
  }
}

// The bins of a large table are fixed by its record count, as equal as whole
// records allow, and every record lands in its own bin.
TEST(DamageMapTest, BinsOfALargeTable) {
  const int64_t records = 1000003;
  DamageMap map(records);
  for (int64_t n = 1; n <= records; ++n) {
    map.Add({.record = n, .kind = RecordClass::kDeleted});
  }
  const Json data = DataOf(map);
  const Json& first = data["bins"]["first"];
  const Json& deleted = data["bins"]["findings"]["deleted"];
  ASSERT_EQ(first.size(), 4000u);
  int64_t sum = 0;
  for (size_t i = 0; i < first.size(); ++i) {
    const int64_t end =
        i + 1 < first.size() ? first[i + 1].get<int64_t>() : records + 1;
    const int64_t width = end - first[i].get<int64_t>();
    EXPECT_TRUE(width == 250 || width == 251) << "bin " << i;
    EXPECT_EQ(deleted[i].get<int64_t>(), width) << "bin " << i;
    sum += width;
  }
  EXPECT_EQ(sum, records);
  EXPECT_EQ(data["runs"], Json::array());

  EXPECT_THROW(map.Add({.record = records + 1}), std::out_of_range);
  EXPECT_THROW(map.Add({.record = 0}), std::out_of_range);
  DamageMap empty(0);
  EXPECT_THROW(empty.Add({.record = 1}), std::out_of_range);
  EXPECT_EQ(DataOf(empty)["bins"]["count"], 0);
}

// The text of every script and style element, read as a browser reads them:
// up to the first "</script" or "</style", in any case.
std::vector<std::string> RawTextElements(const std::string& page,
                                         const std::string& tag) {
  std::string lower = page;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  std::vector<std::string> texts;
  for (size_t at = lower.find("<" + tag); at != std::string::npos;
       at = lower.find("<" + tag, at)) {
    const size_t open_end = lower.find('>', at) + 1;
    const size_t close = lower.find("</" + tag, open_end);
    texts.push_back(page.substr(open_end, close - open_end));
    at = close;
  }
  return texts;
}

// The data of a large map, with a repair, goes out in parts of bounded size
// that make the same page as the data whole.
TEST(DamageMapTest, DataInPartsMakesTheSamePage) {
  const int64_t records = 100000;
  DamageMap map(records);
  for (int64_t n = 1; n <= records; ++n) {
    char stamp[20];
    std::snprintf(stamp, sizeof stamp, "2020-01-%02d %02d:%02d:%02d",
                  static_cast<int>(n / 86400 + 1),
                  static_cast<int>(n / 3600 % 24),
                  static_cast<int>(n / 60 % 60), static_cast<int>(n % 60));
    map.Add({.record = n, .stamp = stamp, .failed_tests = n % 7 ? 0 : kYear});
    map.AddWritten(n, stamp, n % 5 ? stamp : "2020-01-01 00:00:00");
  }
  const kxtable::DamageMapTable table = {.path = "<t>.kxt"};
  std::vector<std::string> parts;
  map.WriteJson(table,
                [&](std::string_view part) { parts.emplace_back(part); });
  std::string whole;
  for (const std::string& part : parts) {
    EXPECT_LE(part.size(), size_t{128} << 10);
    whole += part;
  }
  EXPECT_GT(parts.size(), 4u);
  EXPECT_EQ(whole, map.Json(table));

  auto page = [](const kxtable::ReportData& data) {
    std::string text;
    kxtable::WriteReportPage([&](std::string_view part) { text += part; },
                             data);
    return text;
  };
  EXPECT_EQ(page([&](const auto& put) { map.WriteJson(table, put); }),
            page([&](const auto& put) { put(whole); }));
}

TEST(DamageMapTest, PageCarriesTheDataWhateverTheTextsHold) {
  DamageMap map(2);
  map.Add({.record = 1, .stamp = "2020-01-01 10:00:00"});
  map.Add({.record = 2, .stamp = "</script><!--\xff", .failed_tests = kMonth});
  const std::string data =
      map.Json({.path = "</SCRIPT><script>alert(1)</script>.kxt",
                .layout = "date, time, <!-- (3 bytes)",
                .problems = {"t.kxi: </style> is odd"},
                .warnings = {"Check stopped at record 2: </script>"}});
  char* written = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&written, &size);
  ASSERT_TRUE(
      kxtable::WriteReportPage(out, [&](const auto& put) { put(data); }));
  std::fclose(out);
  const std::string page(written, size);
  std::free(written);

  // Charting script and style, the page's own, and nothing that the data
  // could have opened or closed.
  const std::vector<std::string> scripts = RawTextElements(page, "script");
  ASSERT_EQ(scripts.size(), 6u);
  EXPECT_EQ(RawTextElements(page, "style").size(), 2u);
  const size_t data_at =
      page.find("<script type=\"application/json\" id=\"kx-data\">");
  ASSERT_NE(data_at, std::string::npos);
  EXPECT_EQ(scripts[0].find('<'), std::string::npos);
  const Json read = Json::parse(scripts[0]);
  EXPECT_EQ(read, Json::parse(data));
  EXPECT_EQ(read["table"]["path"], "</SCRIPT><script>alert(1)</script>.kxt");
  EXPECT_EQ(read["first_findings"]["month"][0]["stamp"], "</script><!--\\xff");
  EXPECT_NE(page.find("dygraph"), std::string::npos);
  EXPECT_EQ(page.find("sourceMappingURL"), std::string::npos);
}

}  // namespace

namespace repair_overlay_tests {

using kxtable::OutputRecords;
using kxtable::RepairAligner;
using kxtable::RestoreOverlay;

// A record in the engine's layout: the stamp's first two characters in one
// byte, the rest of the date, the time, then the payload.
std::string Record(const std::string& stamp, const std::string& payload) {
  return kalvex::PackCentury(stamp[0], stamp[1]) + stamp.substr(2, 8) +
         stamp.substr(11, 8) + payload;
}

// A record's stamp as FieldGet(1), a space and FieldGet(2) give it: a field
// of zero bytes only is empty.
TEST(RepairAlignerTest, StampOfARecord) {
  const std::string zeros9(9, '\0');
  const std::string zeros8(8, '\0');
  struct Case {
    const char* name;
    std::string bytes;
    std::string stamp;
  };
  const std::vector<Case> cases = {
      {"usual", Record("2020-01-01 10:00:00", "aa"), "2020-01-01 10:00:00"},
      {"no date", zeros9 + "10:00:00aa", " 10:00:00"},
      {"no time", Record("2020-01-01 10:00:00", "").substr(0, 9) + zeros8,
       "2020-01-01 "},
      {"neither", zeros9 + zeros8 + "aa", " "},
      {"a date of one byte at its end", std::string(8, '\0') + "1" + "10:00:00",
       "00" + std::string(7, '\0') + "1 10:00:00"},
      {"too short", "2020", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char room[19];
    EXPECT_EQ(kxtable::RecordStamp(c.bytes, room), c.stamp);
  }
}

class Output : public OutputRecords {
 public:
  explicit Output(std::vector<std::string> records)
      : records_(std::move(records)) {}
  bool Next(std::string_view& record) override {
    if (next_ >= records_.size()) return false;
    record = records_[next_++];
    return true;
  }

 private:
  std::vector<std::string> records_;
  size_t next_ = 0;
};

// A table of records given as "kind:stamp:payload" against a repair's
// output; the replacements the map gets, and where the pairing stops.
TEST(RepairAlignerTest, PairsRecordsByPayload) {
  struct Case {
    const char* name;
    std::vector<std::string> table;   // "E|D|N|C|U stamp payload"
    std::vector<std::string> output;  // "stamp payload"
    int64_t written;
    int64_t replaced;
    int64_t separators = 0;
    const char* warning = "";  // part of it; "" for none
  };
  const std::vector<Case> cases = {
      {.name = "left out and replaced",
       .table = {"E 2020-01-01 10:00:00 aa", "N 0000-00-00 00:00:00 bb",
                 "E 2020-13-01 10:00:01 cc", "D 2020-01-01 10:00:02 dd",
                 "U 2020-13-01 10:00:01 cc", "E 2020/01/01 10.00.03 ee"},
       .output = {"2020-01-01 10:00:00 aa", "2020-01-01 10:00:00 cc",
                  "2020-01-01 10:00:03 ee"},
       .written = 3,
       .replaced = 1,
       .separators = 1},
      {.name = "deleted record kept, corrupted one too",
       .table = {"E 2020-01-01 10:00:00 aa", "D 2020-01-01 10:00:01 bb",
                 "C 2020x01x01 10:00:02 cc"},
       .output = {"2020-01-01 10:00:00 aa", "2020-01-01 10:00:01 bb",
                  "2020-01-01 10:00:01 cc"},
       .written = 3,
       .replaced = 1},
      {.name = "an examined record missing from the output",
       .table = {"E 2020-01-01 10:00:00 aa", "E 2020-01-01 10:00:01 bb",
                 "E 2020-01-01 10:00:02 cc"},
       .output = {"2020-01-01 10:00:00 aa", "2020-01-01 10:00:02 cc"},
       .written = 1,
       .replaced = 0,
       .warning = "record 2 of the table is not in the output"},
      {.name = "the output ends early",
       .table = {"E 2020-01-01 10:00:00 aa", "E 2020-01-01 10:00:01 bb"},
       .output = {"2020-01-01 10:00:00 aa"},
       .written = 1,
       .replaced = 0,
       .warning = "the output ends after its record 1"},
      {.name = "records left over in the output",
       .table = {"E 2020-01-01 10:00:00 aa"},
       .output = {"2020-01-01 10:00:00 aa", "2020-01-01 10:00:01 zz"},
       .written = 1,
       .replaced = 0,
       .warning = "from its record 2 on"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> output;
    for (const std::string& r : c.output) {
      output.push_back(Record(r.substr(0, 19), r.substr(20)));
    }
    Output records(output);
    RepairAligner aligner(records);
    DamageMap map(static_cast<int64_t>(c.table.size()));
    std::vector<std::string> bytes;
    bytes.reserve(c.table.size());
    for (size_t i = 0; i < c.table.size(); ++i) {
      const std::string& r = c.table[i];
      bytes.push_back(Record(r.substr(2, 19), r.substr(22)));
      RecordNote note = NoteOf(static_cast<int64_t>(i + 1), r[0],
                               std::string_view(r).substr(2, 19));
      note.bytes = bytes.back();
      map.Add(note);
      aligner.Add(note, map);
    }
    aligner.Finish(/*complete=*/true);
    map.DescribeRepair("t_REPAIRED.kxt", false, aligner.Warning());
    const Json repair = DataOf(map)["repair"];
    EXPECT_EQ(repair["written"], c.written);
    EXPECT_EQ(repair["replaced"], c.replaced);
    EXPECT_EQ(repair["separators"], c.separators);
    if (*c.warning) {
      EXPECT_NE(aligner.Warning().find(c.warning), std::string::npos)
          << aligner.Warning();
      EXPECT_EQ(repair["warning"], aligner.Warning());
    } else {
      EXPECT_EQ(aligner.Warning(), "");
      EXPECT_TRUE(repair["warning"].is_null());
    }
  }
}

// A spread is more than 100 replaced records given the stamp written before
// them; a record written with a stamp of its own ends it.
TEST(DamageMapTest, SpreadsOfOneWrittenStamp) {
  struct Case {
    const char* name;
    int64_t taken;  // records that take record 1's stamp
    int64_t spreads;
    bool unchanged = false;  // record 1 given as written as read
  };
  for (const Case& c : std::vector<Case>{
           {"100 records", 100, 0},
           {"101 records", 101, 1},
           {"101 records after one written as read", 101, 1, true}}) {
    SCOPED_TRACE(c.name);
    const int64_t records = c.taken + 2;
    DamageMap map(records);
    if (c.unchanged) {
      map.AddUnchanged(1, "2020-01-01 10:00:00");
    } else {
      map.AddWritten(1, "2020-01-01 10:00:00", "2020-01-01 10:00:00");
    }
    for (int64_t n = 2; n < c.taken + 2; ++n) {
      map.AddWritten(n, "2019-01-01 10:00:00", "2020-01-01 10:00:00");
    }
    map.AddWritten(records, "2020-01-01 11:00:00", "2020-01-01 11:00:00");
    const Json repair = DataOf(map)["repair"];
    EXPECT_EQ(repair["replaced"], c.taken);
    EXPECT_EQ(repair["spread_count"], c.spreads);
    if (c.spreads == 1) {
      EXPECT_EQ(repair["spread_runs"],
                Json::parse(
                    "[{\"first\": 2, \"last\": " + std::to_string(c.taken + 1) +
                    ", \"records\": " + std::to_string(c.taken) +
                    ", \"source\": 1, \"stamp\": "
                    "\"2020-01-01 10:00:00\", \"seconds\": " +
                    std::to_string(Seconds("2020-01-01 10:00:00")) + "}]"));
    }
  }
}

// A stamp written is replaced when it differs from the one read in more than
// the characters between the fields, at whatever place.
TEST(DamageMapTest, StampsReplacedOrTheirSeparatorsPutRight) {
  struct Case {
    const char* name;
    const char* read;
    const char* written;
    int replaced;
    int separators;
  };
  const std::vector<Case> cases = {
      {"the same", "2020-01-01 10:00:00", "2020-01-01 10:00:00", 0, 0},
      {"date separators", "2020/01/01 10:00:00", "2020-01-01 10:00:00", 0, 1},
      {"the space", "2020-01-01T10:00:00", "2020-01-01 10:00:00", 0, 1},
      {"time separators", "2020-01-01 10.00.00", "2020-01-01 10:00:00", 0, 1},
      {"the year's first digit", "1020-01-01 10:00:00", "2020-01-01 10:00:00",
       1, 0},
      {"the month", "2020-11-01 10:00:00", "2020-01-01 10:00:00", 1, 0},
      {"the day", "2020-01-09 10:00:00", "2020-01-01 10:00:00", 1, 0},
      {"the hour", "2020-01-01 12:00:00", "2020-01-01 10:00:00", 1, 0},
      {"the minute", "2020-01-01 10:30:00", "2020-01-01 10:00:00", 1, 0},
      {"the last digit", "2020-01-01 10:00:09", "2020-01-01 10:00:00", 1, 0},
      {"a separator and a digit", "2020/01/01 10:00:09", "2020-01-01 10:00:00",
       1, 0},
      {"a short stamp", "2020-01-01 10:00:0", "2020-01-01 10:00:00", 1, 0},
      {"short, separators only", "2020/01/01 10", "2020-01-01 10", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DamageMap map(1);
    map.AddWritten(1, c.read, c.written);
    const Json repair = DataOf(map)["repair"];
    EXPECT_EQ(repair["replaced"], c.replaced);
    EXPECT_EQ(repair["separators"], c.separators);
  }
}

// --restore: the restoring rule's stamps, in a dry run. A month 13 between
// stamps a second apart gets the second between them back.
TEST(RestoreOverlayTest, GivesTheRestoringRulesStamps) {
  const int records = 40;
  DamageMap map(records, {.bins = records});
  RestoreOverlay restore(2024);
  std::vector<std::string> stamps;
  for (int n = 1; n <= records; ++n) {
    char text[20];
    std::snprintf(text, sizeof text, "2020-01-01 10:00:%02d", n);
    stamps.emplace_back(text);
  }
  stamps[19] = "2020-13-01 10:00:20";
  for (int n = 1; n <= records; ++n) {
    restore.Add(RecordNote{.record = n, .stamp = stamps[n - 1]}, map);
  }
  // Other records are not the rule's.
  restore.Finish(map);
  map.DescribeRepair("t_REPAIRED.kxt", /*dry_run=*/true, "");
  const Json repair = DataOf(map)["repair"];
  EXPECT_EQ(repair["dry_run"], true);
  EXPECT_EQ(repair["written"], records);
  EXPECT_EQ(repair["replaced"], 1);
  EXPECT_EQ(repair["bins"]["replaced"][19], 1);
  EXPECT_EQ(repair["bins"]["new_min"][19], Seconds("2020-01-01 10:00:20"));
  EXPECT_TRUE(repair["bins"]["old_min"][19].is_null());  // month 13
  EXPECT_EQ(repair["spread_count"], 0);
}

}  // namespace repair_overlay_tests
