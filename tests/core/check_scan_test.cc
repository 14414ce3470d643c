#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/operations.h"
#include "tests/core/support/fakes.h"

namespace {

using kxcheck::Outcome;
using kxcheck::Phase;
using kxcheck::Step;
using kxtest::CallCounts;
using kxtest::FailAt;
using kxtest::FailurePlan;
using kxtest::FakeDisk;
using kxtest::FakeHost;
using kxtest::FakeRecord;
using kxtest::MakeRecord;
using kxtest::NullRecord;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const char kPath[] = "/data/line4.kxt";

// A fake table that can give chosen field texts for a record (so that stamps
// the record layout cannot hold reach the tests) and that tells whether it
// was closed and released.
struct TableProbe {
  std::map<int32_t, std::pair<std::string, std::string>> fields;
  int live = 0;
  int created = 0;
  int closes = 0;
};

class ProbeTable : public kxtest::FakeTable {
 public:
  ProbeTable(FakeDisk& disk, const FailurePlan& plan, CallCounts& calls,
             TableProbe& probe)
      : FakeTable(disk, plan, calls), probe_(probe) {
    ++probe_.live;
    ++probe_.created;
  }
  ~ProbeTable() override { --probe_.live; }

  void GoToRecord(int32_t n) override {
    FakeTable::GoToRecord(n);
    current_ = n;
  }
  std::string FieldGet(int field) override {
    std::string text = FakeTable::FieldGet(field);
    auto it = probe_.fields.find(current_);
    if (it == probe_.fields.end()) return text;
    return field == 1 ? it->second.first : it->second.second;
  }
  void Close() override {
    FakeTable::Close();
    ++probe_.closes;
  }

 private:
  TableProbe& probe_;
  int32_t current_ = 0;
};

class ProbeFactory : public kxcheck::TableFactory {
 public:
  ProbeFactory(FakeDisk& disk, TableProbe& probe, const FailurePlan& plan)
      : disk_(disk), probe_(probe), plan_(plan) {}
  std::unique_ptr<kxcheck::Table> Create() override {
    plan_.Check("Create");
    return std::make_unique<ProbeTable>(disk_, plan_, calls, probe_);
  }
  CallCounts calls;  // of every table created

 private:
  FakeDisk& disk_;
  TableProbe& probe_;
  const FailurePlan& plan_;
};

FakeRecord Good(const std::string& stamp, const std::string& payload = "p") {
  return {MakeRecord(stamp, payload), false};
}
FakeRecord Deleted(const std::string& bytes) { return {bytes, true}; }
FakeRecord Raw(const std::string& bytes) { return {bytes, false}; }

// One scan: a table on the fake disk, the host, the probe and the plan that
// watches the scan.
struct Scan {
  Outcome Run(std::vector<FakeRecord> records,
              const std::string& path = kPath) {
    disk.AddTable(path, std::move(records));
    return kxcheck::CheckTable(path, host, tables, &plan);
  }
  std::vector<std::string> LinesStartingRec(bool rec) const {
    std::vector<std::string> lines;
    for (const std::string& line : host.Lines()) {
      const bool header =
          line.rfind("Filename: ", 0) == 0 || line.rfind("Records:  ", 0) == 0;
      if (line.rfind("Rec: ", 0) == 0 ? rec : !rec && !header) {
        lines.push_back(line);
      }
    }
    return lines;
  }
  // The finding lines, and the summary after them.
  std::vector<std::string> Findings() const { return LinesStartingRec(true); }
  std::vector<std::string> Summary() const { return LinesStartingRec(false); }

  FakeDisk disk;
  FailurePlan plan;
  FakeHost host{disk, plan};
  TableProbe probe;
  ProbeFactory tables{disk, probe, plan};
};

class CheckScanTest : public ::testing::Test, public Scan {
 protected:
  using Scan::Run;  // not ::testing::Test's
};

TEST_F(CheckScanTest, EmptyPathDoesNothing) {
  host.AddResult("earlier text");
  EXPECT_EQ(kxcheck::CheckTable("", host, tables), Outcome::kNothing);
  EXPECT_TRUE(host.events.empty());
  EXPECT_EQ(host.Log().Text(), "earlier text\r\n");
  EXPECT_EQ(probe.created, 0);
}

TEST_F(CheckScanTest, MissingFileWarnsAndChangesNothing) {
  host.AddResult("earlier text");
  EXPECT_EQ(kxcheck::CheckTable("/data/none.kxt", host, tables),
            Outcome::kNotFound);
  EXPECT_THAT(host.events, ElementsAre("Warn Filename does not exist!"));
  EXPECT_EQ(host.Log().Text(), "earlier text\r\n");
  EXPECT_EQ(probe.created, 0);
}

TEST_F(CheckScanTest, EmptyTableReport) {
  host.AddResult("earlier text");
  EXPECT_EQ(Run({}), Outcome::kCompleted);
  EXPECT_EQ(host.Log().Text(),
            "Filename: /data/line4.kxt\r\n"
            "Records:  0\r\n"
            "\r\n"
            "*** Processing Complete ***\r\n");
  EXPECT_THAT(host.events,
              ElementsAre("EnterBusy", "ClearResults", "Progress 0 / 0",
                          "Progress 0 / 0", "LeaveBusy"));
  EXPECT_EQ(host.pumps, 0);
  EXPECT_EQ(probe.closes, 1);
  EXPECT_EQ(probe.live, 0);
}

TEST_F(CheckScanTest, CleanTableHasOnlyTheClosingLines) {
  EXPECT_EQ(Run({Good("2020-01-01 00:00:00"), Good("2020-01-01 00:00:00", "q"),
                 Good("2026-12-31 23:59:59")}),
            Outcome::kCompleted);
  EXPECT_THAT(host.Lines(),
              ElementsAre("Filename: /data/line4.kxt", "Records:  3", "",
                          "*** Processing Complete ***"));
  EXPECT_EQ(host.pumps, 3);
}

// Which counter a record raises when several rules hold, and which records
// reach the stamp tests.
TEST_F(CheckScanTest, ClassificationOrder) {
  std::string a = MakeRecord("2020-01-02 03:04:05", "A");
  std::string bad_month = MakeRecord("2020-13-02 03:04:05", "B");
  std::string null_tail = NullRecord(17) + "tail";
  std::string null_head = NullRecord(17);
  null_head[0] = '\x20';
  std::string short_zeros = NullRecord(16);
  std::string no_dash = a;
  no_dash[6] = '/';
  std::vector<FakeRecord> records = {
      Deleted(NullRecord()),  // 1 null before deleted
      Raw(null_tail),         // 2 null: bytes after 16 are not looked at
      Raw(null_head),         // 3 null: byte 0 is not looked at
      Raw(short_zeros),       // 4 too short for null: corrupted
      Deleted(no_dash),       // 5 deleted before corrupted
      Raw(no_dash),           // 6 corrupted
      Raw(a),                 // 7 examined
      Deleted(a),             // 8 deleted before duplicate
      Raw(a),                 // 9 duplicate of 7, the last examined
      Raw(bad_month),         // 10 examined: month finding
      Raw(bad_month),         // 11 duplicate: not tested again
      Raw(a),                 // 12 examined (differs from 10): out of order
  };
  EXPECT_EQ(Run(records), Outcome::kCompleted);
  EXPECT_THAT(Findings(),
              ElementsAre("Rec: 10 - 2020-13-02 03:04:05 --> Month is invalid!",
                          "Rec: 12 - 2020-01-02 03:04:05 Date is out of "
                          "sequence with 2020-13-02 03:04:05"));
  EXPECT_THAT(
      Summary(),
      ElementsAre("Found 2 Deleted records", "Found 3 Null records",
                  "Found 2 Duplicate records", "Found 2 Corrupted records", "",
                  "*** Processing Complete ***"));
  // Deleted is asked for the nine records that are not null, the fields only
  // for the three examined ones, the year once per examined record.
  EXPECT_EQ(tables.calls["Deleted"], 9);
  EXPECT_EQ(tables.calls["FieldGet"], 6);
  EXPECT_EQ(host.Calls("CurrentYear"), 3);
  EXPECT_EQ(tables.calls["RecordBuffer"], 12);
}

TEST_F(CheckScanTest, TwoIdenticalRecordsGiveOneDuplicate) {
  EXPECT_EQ(Run({Good("2020-01-01 00:00:00"), Good("2020-01-01 00:00:00")}),
            Outcome::kCompleted);
  EXPECT_THAT(Summary(), ElementsAre("Found 1 Duplicate records", "",
                                     "*** Processing Complete ***"));
}

// Every examined stamp becomes the previous one whatever its tests found;
// records that are not examined leave it alone.
TEST_F(CheckScanTest, OrderAgainstThePreviousExaminedStamp) {
  std::vector<FakeRecord> records = {
      Good("2020-01-01 00:00:00"),                 // 1
      Good("2099-01-01 00:00:00"),                 // 2 far future: year finding
      Good("2020-01-02 00:00:00"),                 // 3 out of order against 2
      Good("2020-01-03 00:00:00"),                 // 4 in order against 3
      Deleted(MakeRecord("2030-01-01 00:00:00")),  // 5 not examined
      Good("2020-01-03 00:00:00", "other"),        // 6 equal stamp: in order
      Good("2020-01-02 23:59:59"),                 // 7 out of order against 6
  };
  EXPECT_EQ(Run(records), Outcome::kCompleted);
  EXPECT_THAT(
      Findings(),
      ElementsAre("Rec: 2 - 2099-01-01 00:00:00 --> Year is invalid!",
                  "Rec: 3 - 2020-01-02 00:00:00 Date is out of sequence with "
                  "2099-01-01 00:00:00",
                  "Rec: 7 - 2020-01-02 23:59:59 Date is out of sequence with "
                  "2020-01-03 00:00:00"));
}

// The first examined record is compared with "0000-00-00 00-00-00"; a record
// with two empty fields has the stamp " " and fails all eight tests.
TEST_F(CheckScanTest, EmptyFieldsFailEveryTestInOrder) {
  probe.fields[1] = {"", ""};
  probe.fields[2] = {"2020-01-01", "00:00:00"};
  probe.fields[3] = {"", ""};
  EXPECT_EQ(
      Run({Good("2020-01-01 00:00:00", "1"), Good("2020-01-01 00:00:00", "2"),
           Good("2020-01-01 00:00:00", "3")}),
      Outcome::kCompleted);
  const char* suffixes[] = {
      " --> Year is invalid!",        " --> Month is invalid!",
      " --> Day is invalid!",         " --> Hour is invalid!",
      " --> Minute is invalid!",      " --> Second is invalid!",
      " --> Separator(s) is invalid!"};
  std::vector<std::string> expected;
  expected.push_back("Rec: 1 -   Date is out of sequence with " +
                     std::string("0000-00-00 00-00-00"));
  for (const char* s : suffixes)
    expected.push_back(std::string("Rec: 1 -  ") + s);
  expected.push_back(
      "Rec: 3 -   Date is out of sequence with 2020-01-01 00:00:00");
  for (const char* s : suffixes)
    expected.push_back(std::string("Rec: 3 -  ") + s);
  EXPECT_EQ(Findings(), expected);
}

TEST_F(CheckScanTest, FieldTestsThroughTheScan) {
  struct Case {
    std::string stamp;
    std::vector<std::string> suffixes;
  };
  const std::vector<Case> cases = {
      {"1990-01-01 00:00:00", {}},
      {"1989-12-31 23:59:59", {" --> Year is invalid!"}},
      {"2026-12-31 23:59:59", {}},
      {"2027-01-01 00:00:00", {" --> Year is invalid!"}},
      {"2020-00-01 00:00:00", {" --> Month is invalid!"}},
      {"2020-0:-01 00:00:00", {}},
      {"2020-02-31 00:00:00", {}},
      {"2020-02-32 00:00:00", {" --> Day is invalid!"}},
      {"2020-02-00 00:00:00", {" --> Day is invalid!"}},
      {"2020-02-01 24:00:00", {" --> Hour is invalid!"}},
      {"2020-02-01 23:60:00", {" --> Minute is invalid!"}},
      {"2020-02-01 23:59:60", {" --> Second is invalid!"}},
      {"2020-99-99 99:99:99",
       {" --> Month is invalid!", " --> Day is invalid!",
        " --> Hour is invalid!", " --> Minute is invalid!",
        " --> Second is invalid!"}},
  };
  // One table per case, so that the order test stays quiet.
  for (const Case& c : cases) {
    Scan scan;
    ASSERT_EQ(scan.Run({Good(c.stamp)}), Outcome::kCompleted);
    std::vector<std::string> expected;
    for (const std::string& s : c.suffixes) {
      expected.push_back("Rec: 1 - " + c.stamp + s);
    }
    EXPECT_EQ(scan.Findings(), expected) << c.stamp;
  }
}

TEST_F(CheckScanTest, SeparatorFindingFromTheFieldTexts) {
  // The buffer has its separators, the field texts do not.
  probe.fields[1] = {"2020/01/01", "00.00.00"};
  EXPECT_EQ(Run({Good("2020-01-01 00:00:00")}), Outcome::kCompleted);
  EXPECT_THAT(
      Findings(),
      ElementsAre("Rec: 1 - 2020/01/01 00.00.00 --> Separator(s) is invalid!"));
}

TEST_F(CheckScanTest, YearIsAskedAtEveryYearTest) {
  host.on_pump = [this](int64_t pumps) {
    if (pumps == 1) host.year = 2027;
  };
  EXPECT_EQ(Run({Good("2027-01-01 00:00:00"), Good("2027-01-01 00:00:01")}),
            Outcome::kCompleted);
  EXPECT_THAT(Findings(),
              ElementsAre("Rec: 1 - 2027-01-01 00:00:00 --> Year is invalid!"));
}

TEST_F(CheckScanTest, NulAndHighBytesInStamps) {
  // Time "1\0:00:0\0": hour "1\0" passes, second "0\0" is below "00".
  std::string time_bytes("1\0:00:0\0", 8);
  std::string record = MakeRecord("2020-01-01 00:00:00");
  time_bytes.copy(record.data() + 9, 8);
  std::string high = MakeRecord("2020-01-01 00:00:00", "x");
  high[4] = '\xE9';  // first month character
  EXPECT_EQ(Run({Raw(record), Raw(high)}), Outcome::kCompleted);
  EXPECT_THAT(Findings(),
              ElementsAre("Rec: 1 - 2020-01-01 1?:00:0? --> Second is invalid!",
                          "Rec: 2 - 2020-\xC3\xA9"
                          "1-01 00:00:00 --> Month is "
                          "invalid!"));
  EXPECT_EQ(host.Log().Text().find('\0'), std::string::npos);
}

TEST_F(CheckScanTest, ProgressEveryThousandRecordsAndAtBothEnds) {
  struct Case {
    int count;
    std::vector<std::string> progress;
  };
  const std::vector<Case> cases = {
      {1, {"0 / 1", "1 / 1"}},
      {999, {"0 / 999", "999 / 999"}},
      {2000, {"0 / 2000", "1000 / 2000", "2000 / 2000", "2000 / 2000"}},
      {2500, {"0 / 2500", "1000 / 2500", "2000 / 2500", "2500 / 2500"}},
  };
  for (const Case& c : cases) {
    Scan scan;
    ASSERT_EQ(scan.Run(std::vector<FakeRecord>(static_cast<size_t>(c.count),
                                               Good("2020-01-01 00:00:00"))),
              Outcome::kCompleted);
    EXPECT_EQ(scan.host.progress, c.progress) << c.count;
    EXPECT_EQ(scan.host.pumps, c.count);
  }
}

TEST_F(CheckScanTest, ProgressComesBeforeTheThousandthRecordIsRead) {
  std::vector<FakeRecord> records(1000, Good("2020-01-01 00:00:00"));
  host.on_pump = [this](int64_t pumps) {
    host.events.push_back("Pump " + std::to_string(pumps));
  };
  EXPECT_EQ(Run(records), Outcome::kCompleted);
  ASSERT_GE(host.events.size(), 6u);
  std::vector<std::string> tail(host.events.end() - 5, host.events.end());
  EXPECT_THAT(tail, ElementsAre("Pump 999", "Progress 1000 / 1000", "Pump 1000",
                                "Progress 1000 / 1000", "LeaveBusy"));
}

// Findings stop reaching the log once it holds more than 65000 characters;
// the notice and the summary still do.
TEST_F(CheckScanTest, CapAndTruncationNotice) {
  std::vector<FakeRecord> records;
  for (int i = 0; i < 3000; ++i) {
    records.push_back(Good("2020-13-01 00:00:00", std::to_string(i)));
  }
  records.push_back(Deleted(MakeRecord("2020-01-01 00:00:00")));
  EXPECT_EQ(Run(records), Outcome::kCompleted);

  // The same lines fed to a log of its own show where the cap bites.
  kxcheck::ResultsLog expected;
  expected.AddResult("Filename: /data/line4.kxt");
  expected.AddResult("Records:  3001");
  for (int n = 1; n <= 3000; ++n) {
    expected.AddResult("Rec: " + std::to_string(n) +
                       " - 2020-13-01 00:00:00 --> Month is invalid!");
  }
  ASSERT_GT(expected.Length(), kxcheck::ResultsLog::kCap);
  expected.AddResultAlways(">>> Output Truncated <<<");
  expected.AddResultAlways("Found 1 Deleted records");
  expected.AddResultAlways("");
  expected.AddResultAlways("*** Processing Complete ***");
  EXPECT_EQ(host.Log().Text(), expected.Text());
  EXPECT_LT(Findings().size(), 3000u);
}

// The notice appears exactly when the log holds more than 65000 characters
// after the loop: a long path brings the header to the limit.
TEST_F(CheckScanTest, TruncationNoticeOnlyAbove65000) {
  const std::string header = "Filename: \r\nRecords:  0\r\n";
  for (int64_t length : {65000, 65001}) {
    Scan scan;
    std::string path =
        "/" +
        std::string(static_cast<size_t>(length) - header.size() - 5, 'p') +
        ".kxt";
    ASSERT_EQ(scan.Run({}, path), Outcome::kCompleted);
    std::vector<std::string> lines = scan.host.Lines();
    ASSERT_EQ(lines.size(), length == 65000 ? 4u : 5u) << length;
    if (length == 65001) {
      EXPECT_EQ(lines[2], ">>> Output Truncated <<<");
    }
    EXPECT_EQ(lines.back(), "*** Processing Complete ***");
  }
}

// A log of exactly 65000 characters still takes the next finding line; the
// one after it is dropped.
TEST_F(CheckScanTest, FindingStillReachesALogOfExactly65000) {
  const std::string header = "Filename: \r\nRecords:  2\r\n";
  const std::string path =
      "/" + std::string(65000 - header.size() - 5, 'p') + ".kxt";
  EXPECT_EQ(
      Run({Good("2020-13-01 00:00:00", "a"), Good("2020-14-01 00:00:00", "b")},
          path),
      Outcome::kCompleted);
  EXPECT_THAT(
      Findings(),
      ElementsAre("Rec: 1 - 2020-13-01 00:00:00 --> Month is invalid!"));
  EXPECT_EQ(Summary().front(), ">>> Output Truncated <<<");
}

TEST_F(CheckScanTest, StopRequestEndsTheScanWithoutSummary) {
  host.on_pump = [this](int64_t pumps) {
    if (pumps == 3) host.stop_requested = true;
  };
  std::vector<FakeRecord> records(10, Good("2020-13-01 00:00:00"));
  records[0] = Good("2020-13-01 00:00:00", "first");
  EXPECT_EQ(Run(records), Outcome::kStopped);
  EXPECT_EQ(host.pumps, 3);
  EXPECT_EQ(tables.calls["GoToRecord"], 3);
  EXPECT_THAT(host.Log().Text(), Not(HasSubstr("Processing Complete")));
  EXPECT_THAT(host.Log().Text(), Not(HasSubstr("Found")));
  EXPECT_EQ(host.events.back(), "LeaveBusy");
  EXPECT_TRUE(host.warnings.empty());
  EXPECT_EQ(probe.closes, 1);
  EXPECT_EQ(probe.live, 0);
}

// A failing call stops the scan at that call: no later step runs, no summary
// is written, the table is released, the window goes idle and the warning
// names what failed, where, and why.
TEST_F(CheckScanTest, FailureStopsAtTheFailingCall) {
  struct Case {
    FailAt fail;
    std::string warning;  // before ": injected failure in <call>"
    std::string call;
    int64_t pumps = 0;  // records finished before the failure
    bool busy = true;   // EnterBusy was reached
  };
  const std::string kBefore = "Check stopped before the first record while ";
  const std::string kAfter = "Check stopped after the last record while ";
  const std::vector<Case> cases = {
      {.fail = {.step = Step::kCreateTables},
       .warning = "Cannot open /data/line4.kxt",
       .call = "Create"},
      {.fail = {.step = Step::kOpenSource},
       .warning = "Cannot open /data/line4.kxt",
       .call = "Open"},
      {.fail = {.step = Step::kReadRecordCount},
       .warning = kBefore + "reading the number of records",
       .call = "RecordCount"},
      {.fail = {.step = Step::kReadTotal},
       .warning = kBefore + "reading the number of records",
       .call = "RecordCount"},
      {.fail = {.step = Step::kPositioning, .record = 3},
       .warning = "Check stopped at record 3 while moving to the record",
       .call = "GoToRecord",
       .pumps = 2},
      {.fail = {.step = Step::kReadRecord, .record = 2},
       .warning = "Check stopped at record 2 while reading the record",
       .call = "RecordBuffer",
       .pumps = 1},
      {.fail = {.step = Step::kDeletionMark, .record = 4},
       .warning = "Check stopped at record 4 while reading the deletion mark",
       .call = "Deleted",
       .pumps = 3},
      {.fail = {.step = Step::kReadStamp, .record = 2},
       .warning = "Check stopped at record 2 while reading the date and time",
       .call = "FieldGet",
       .pumps = 1},
      {.fail = {.step = Step::kCloseSource},
       .warning = "Cannot close /data/line4.kxt",
       .call = "Close",
       .pumps = 5},
      {.fail = {.step = Step::kEnterBusy},
       .warning = kBefore + "entering the busy state",
       .call = "EnterBusy"},
      {.fail = {.step = Step::kClearResults},
       .warning = kBefore + "clearing the results",
       .call = "ClearResults"},
      {.fail = {.step = Step::kHeaderLines},
       .warning = kBefore + "writing to the results",
       .call = "AddResult"},
      {.fail = {.step = Step::kFinding, .record = 2},
       .warning = "Check stopped at record 2 while writing to the results",
       .call = "AddResult",
       .pumps = 1},
      {.fail = {.step = Step::kShowProgress, .phase = Phase::kBefore},
       .warning = kBefore + "showing the progress",
       .call = "ShowProgress"},
      {.fail = {.step = Step::kShowProgress, .phase = Phase::kAfter},
       .warning = kAfter + "showing the progress",
       .call = "ShowProgress",
       .pumps = 5},
      {.fail = {.step = Step::kClock, .record = 4},
       .warning = "Check stopped at record 4 while reading the clock",
       .call = "CurrentYear",
       .pumps = 3},
      {.fail = {.step = Step::kPumpEvents, .record = 5},
       .warning = "Check stopped at record 5 while processing window events",
       .call = "PumpEvents",
       .pumps = 4},
      {.fail = {.step = Step::kMeasureLog},
       .warning = kAfter + "writing the summary",
       .call = "ResultsLength",
       .pumps = 5},
      {.fail = {.step = Step::kCountLines},
       .warning = kAfter + "writing the summary",
       .call = "AddResultAlways",
       .pumps = 5},
      {.fail = {.step = Step::kLookForSource},
       .warning = "Cannot tell whether /data/line4.kxt exists",
       .call = "FileExists",
       .busy = false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.warning);
    Scan scan;
    scan.plan.Fail(c.fail);
    // Record 2 has a bad month, record 3 is deleted.
    EXPECT_EQ(
        scan.Run({Good("2020-01-01 00:00:00"), Good("2020-13-01 00:00:00"),
                  Deleted(MakeRecord("2020-01-03 00:00:00")),
                  Good("2020-01-04 00:00:00"), Good("2020-01-05 00:00:00")}),
        Outcome::kFailed);
    const std::string warning = c.warning + ": injected failure in " + c.call;
    EXPECT_THAT(scan.host.warnings, ElementsAre(warning));
    EXPECT_EQ(scan.host.pumps, c.pumps);
    EXPECT_EQ(scan.probe.live, 0);
    if (c.call != "Close") {
      EXPECT_THAT(scan.host.Log().Text(),
                  Not(HasSubstr("Processing Complete")));
      EXPECT_EQ(scan.probe.closes, 0);
    }
    if (c.busy) {
      ASSERT_GE(scan.host.events.size(), 2u);
      EXPECT_EQ(scan.host.events[scan.host.events.size() - 2], "LeaveBusy");
    } else {
      EXPECT_THAT(scan.host.events, ElementsAre("Warn " + warning));
    }
  }
}

TEST_F(CheckScanTest, RealReasonFromTheTableIsPassedOn) {
  disk.AddTable(kPath, {Good("2020-01-01 00:00:00")});
  disk.files.erase("/data/line4.kxd");
  EXPECT_EQ(kxcheck::CheckTable(kPath, host, tables), Outcome::kFailed);
  EXPECT_THAT(host.warnings,
              ElementsAre("Cannot open /data/line4.kxt: /data/line4.kxd: no "
                          "such file"));
  EXPECT_THAT(host.events, ElementsAre("EnterBusy", "ClearResults", "LeaveBusy",
                                       "Warn " + host.warnings[0]));
}

TEST_F(CheckScanTest, NothingEscapesWhenLeaveBusyAndWarnBoxFail) {
  const std::vector<std::vector<Step>> cases = {
      {Step::kLeaveBusy},                      // after a complete scan
      {Step::kPositioning, Step::kLeaveBusy},  // on the failure path
      {Step::kPositioning, Step::kLeaveBusy, Step::kWarn},
      {Step::kLeaveBusy, Step::kWarn},
  };
  for (const std::vector<Step>& failing : cases) {
    Scan scan;
    for (Step step : failing) scan.plan.Fail({.step = step});
    Outcome outcome = Outcome::kCompleted;
    EXPECT_NO_THROW(outcome = scan.Run({Good("2020-01-01 00:00:00")}));
    EXPECT_EQ(outcome, Outcome::kFailed);
    EXPECT_EQ(scan.probe.live, 0);
  }
  // A complete scan whose LeaveBusy fails still says so.
  plan.Fail({.step = Step::kLeaveBusy});
  EXPECT_EQ(Run({Good("2020-01-01 00:00:00")}), Outcome::kFailed);
  EXPECT_THAT(host.warnings,
              ElementsAre("Check stopped after the last record while leaving "
                          "the busy state: injected failure in LeaveBusy"));
}

// A warning that cannot be shown for a missing file is not an escape either.
TEST_F(CheckScanTest, MissingFileWarningThatFails) {
  plan.Fail({.step = Step::kWarnMissing});
  plan.Fail({.step = Step::kWarn});
  Outcome outcome = Outcome::kCompleted;
  EXPECT_NO_THROW(
      outcome = kxcheck::CheckTable("/data/none.kxt", host, tables, &plan));
  EXPECT_EQ(outcome, Outcome::kFailed);
  EXPECT_TRUE(host.events.empty());
}

}  // namespace
