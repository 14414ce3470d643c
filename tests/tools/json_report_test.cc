// A table's JSON line made from the calls an operation makes.
#include "tools/kxtable/json_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace {

using kxcheck::Outcome;
using kxcheck::RecordClass;
using kxcheck::StampTest;

// The text a report writes.
struct Text {
  std::string text;
  kxtable::JsonWriter::Sink Sink() {
    return [this](std::string_view piece) { text += piece; };
  }
};

// A repair's calls as the pass makes them, and some no pass makes: every
// record with something to say gets one element, in order, and the tail
// says what became of the output.
TEST(JsonReportTest, RecordsComeFromTheCallsAndTheTailFromTheReport) {
  Text out;
  kxtable::JsonReport json(out.Sink(), kxtable::Operation::kRepair, "t.kxt");
  kxtable::TableReport report{.operation = kxtable::Operation::kRepair,
                              .table = "t.kxt"};
  auto note = [&](int64_t record, RecordClass kind, bool left_out,
                  std::string_view stamp = {}) {
    json.Record(
        {.record = record, .kind = kind, .left_out = left_out, .stamp = stamp});
  };
  auto finding = [&](int64_t record, StampTest test) {
    const kxcheck::Finding f{.record = record,
                             .test = test,
                             .stamp = "2024-13-01 08:00:00",
                             .previous = "2024-03-01 08:00:00"};
    json.Finding(f);
    report.AddFinding(f);
  };
  json.RecordCount(6);
  note(1, RecordClass::kExamined, false, "2024-03-01 08:00:00");
  finding(2, StampTest::kOrder);
  finding(2, StampTest::kMonth);
  json.StampSet(2, "2024-03-01 08:00:00");
  note(2, RecordClass::kExamined, false, "2024-13-01 08:00:00");
  note(3, RecordClass::kNull, true);
  // Examined and not written: its append failed.
  note(4, RecordClass::kExamined, true, "2024-03-01 08:00:04");
  // A finding whose record is never noted is ended by the next record.
  finding(5, StampTest::kDay);
  json.StampSet(6, "2024-03-01 08:00:06");
  note(6, RecordClass::kExamined, false);
  // Written, then removed as a whole.
  report.outcome = Outcome::kFailed;
  report.output_begun = true;
  report.has_totals = true;
  report.totals.output = "t_REPAIRED.kxt";
  report.totals.written = 4;
  json.End(report);

  ASSERT_EQ(out.text.back(), '\n');
  const nlohmann::json line = nlohmann::json::parse(out.text);
  EXPECT_EQ(line["records"], nlohmann::json::parse(R"([
    {"record": 2, "stamp": "2024-13-01 08:00:00",
     "findings": [{"test": "order", "previous": "2024-03-01 08:00:00"},
                  {"test": "month"}],
     "set": "2024-03-01 08:00:00"},
    {"record": 3, "class": "null", "left_out": true},
    {"record": 4, "stamp": "2024-03-01 08:00:04", "left_out": true},
    {"record": 5, "stamp": "2024-13-01 08:00:00",
     "findings": [{"test": "day"}]},
    {"record": 6, "set": "2024-03-01 08:00:06"}])"));
  EXPECT_EQ(line["finding_count"], 3);
  EXPECT_EQ(line["findings_by_test"]["order"], 1);
  EXPECT_EQ(line["findings_by_test"]["separators"], 0);
  EXPECT_EQ(line["records_written"], 0);
  EXPECT_EQ(line["output_removed"], true);
  EXPECT_EQ(line["status"], "failed");
  EXPECT_EQ(line["exit_status"], 2);
}

TEST(JsonReportTest, ATableNeverOpenedStillGetsItsWholeLine) {
  Text out;
  kxtable::JsonReport json(out.Sink(), kxtable::Operation::kCheck, "gone.kxt");
  kxtable::TableReport report;
  report.table = "gone.kxt";
  report.outcome = Outcome::kNotFound;
  report.warnings = {"No such file or directory"};
  json.End(report);
  EXPECT_EQ(
      out.text,
      R"({"schema":1,"command":"check","table":"gone.kxt","record_count":null,)"
      R"("records":[],"finding_count":0,"findings_by_test":{"order":0,)"
      R"("year":0,"month":0,"day":0,"hour":0,"minute":0,"second":0,)"
      R"("separators":0},"counts":null,"problems":[],)"
      R"("warnings":["No such file or directory"],"complete":false,)"
      R"("status":"missing","exit_status":2})"
      "\n");
}

}  // namespace
