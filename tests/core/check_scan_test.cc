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
  ProbeTable(FakeDisk& disk, FailurePlan& plan, TableProbe& probe)
      : FakeTable(disk, plan), probe_(probe) {
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
  ProbeFactory(FakeDisk& disk, TableProbe& probe)
      : disk_(disk), probe_(probe) {}
  std::unique_ptr<kxcheck::Table> Create() override {
    plan.Check("Create", 0);
    return std::make_unique<ProbeTable>(disk_, plan, probe_);
  }
  FailurePlan plan;  // for the table's calls and for Create itself

 private:
  FakeDisk& disk_;
  TableProbe& probe_;
};

FakeRecord Good(const std::string& stamp, const std::string& payload = "p") {
  return {MakeRecord(stamp, payload), false};
}
FakeRecord Deleted(const std::string& bytes) { return {bytes, true}; }
FakeRecord Raw(const std::string& bytes) { return {bytes, false}; }

class CheckScanTest : public ::testing::Test {
 protected:
  Outcome Run(std::vector<FakeRecord> records,
              const std::string& path = kPath) {
    disk_.AddTable(path, std::move(records));
    return kxcheck::CheckTable(path, host_, tables_);
  }
  // The lines between the two header lines and the summary.
  std::vector<std::string> Findings() const {
    std::vector<std::string> lines = host_.Lines();
    std::vector<std::string> findings;
    for (const std::string& line : lines) {
      if (line.rfind("Rec: ", 0) == 0) findings.push_back(line);
    }
    return findings;
  }
  std::vector<std::string> Summary() const {
    std::vector<std::string> lines = host_.Lines();
    std::vector<std::string> summary;
    for (const std::string& line : lines) {
      if (line.rfind("Rec: ", 0) != 0 && line.rfind("Filename: ", 0) != 0 &&
          line.rfind("Records:  ", 0) != 0) {
        summary.push_back(line);
      }
    }
    return summary;
  }

  FakeDisk disk_;
  FakeHost host_{disk_};
  TableProbe probe_;
  ProbeFactory tables_{disk_, probe_};
};

TEST_F(CheckScanTest, EmptyPathDoesNothing) {
  host_.AddResult("earlier text");
  EXPECT_EQ(kxcheck::CheckTable("", host_, tables_), Outcome::kNothing);
  EXPECT_TRUE(host_.events.empty());
  EXPECT_EQ(host_.Log().Text(), "earlier text\r\n");
  EXPECT_EQ(probe_.created, 0);
}

TEST_F(CheckScanTest, MissingFileWarnsAndChangesNothing) {
  host_.AddResult("earlier text");
  EXPECT_EQ(kxcheck::CheckTable("/data/none.kxt", host_, tables_),
            Outcome::kNotFound);
  EXPECT_THAT(host_.events, ElementsAre("Warn Filename does not exist!"));
  EXPECT_EQ(host_.Log().Text(), "earlier text\r\n");
  EXPECT_EQ(probe_.created, 0);
}

TEST_F(CheckScanTest, EmptyTableReport) {
  host_.AddResult("earlier text");
  EXPECT_EQ(Run({}), Outcome::kCompleted);
  EXPECT_EQ(host_.Log().Text(),
            "Filename: /data/line4.kxt\r\n"
            "Records:  0\r\n"
            "\r\n"
            "*** Processing Complete ***\r\n");
  EXPECT_THAT(host_.events,
              ElementsAre("EnterBusy", "ClearResults", "Progress 0 / 0",
                          "Progress 0 / 0", "LeaveBusy"));
  EXPECT_EQ(host_.pumps, 0);
  EXPECT_EQ(probe_.closes, 1);
  EXPECT_EQ(probe_.live, 0);
}

TEST_F(CheckScanTest, CleanTableHasOnlyTheClosingLines) {
  EXPECT_EQ(Run({Good("2020-01-01 00:00:00"), Good("2020-01-01 00:00:00", "q"),
                 Good("2026-12-31 23:59:59")}),
            Outcome::kCompleted);
  EXPECT_THAT(host_.Lines(),
              ElementsAre("Filename: /data/line4.kxt", "Records:  3", "",
                          "*** Processing Complete ***"));
  EXPECT_EQ(host_.pumps, 3);
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
  EXPECT_EQ(tables_.plan.Calls("Deleted"), 9);
  EXPECT_EQ(tables_.plan.Calls("FieldGet"), 6);
  EXPECT_EQ(host_.plan.Calls("CurrentYear"), 3);
  EXPECT_EQ(tables_.plan.Calls("RecordBuffer"), 12);
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
  probe_.fields[1] = {"", ""};
  probe_.fields[2] = {"2020-01-01", "00:00:00"};
  probe_.fields[3] = {"", ""};
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
    FakeDisk disk;
    FakeHost host(disk);
    kxtest::FakeTableFactory factory(disk);
    disk.AddTable(kPath, {Good(c.stamp)});
    ASSERT_EQ(kxcheck::CheckTable(kPath, host, factory), Outcome::kCompleted);
    std::vector<std::string> expected;
    for (const std::string& s : c.suffixes) {
      expected.push_back("Rec: 1 - " + c.stamp + s);
    }
    std::vector<std::string> findings;
    for (const std::string& line : host.Lines()) {
      if (line.rfind("Rec: ", 0) == 0) findings.push_back(line);
    }
    EXPECT_EQ(findings, expected) << c.stamp;
  }
}

TEST_F(CheckScanTest, SeparatorFindingFromTheFieldTexts) {
  // The buffer has its separators, the field texts do not.
  probe_.fields[1] = {"2020/01/01", "00.00.00"};
  EXPECT_EQ(Run({Good("2020-01-01 00:00:00")}), Outcome::kCompleted);
  EXPECT_THAT(
      Findings(),
      ElementsAre("Rec: 1 - 2020/01/01 00.00.00 --> Separator(s) is invalid!"));
}

TEST_F(CheckScanTest, YearIsAskedAtEveryYearTest) {
  host_.on_pump = [this](int64_t pumps) {
    if (pumps == 1) host_.year = 2027;
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
  EXPECT_EQ(host_.Log().Text().find('\0'), std::string::npos);
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
    FakeDisk disk;
    FakeHost host(disk);
    kxtest::FakeTableFactory factory(disk);
    std::vector<FakeRecord> records(static_cast<size_t>(c.count),
                                    Good("2020-01-01 00:00:00"));
    disk.AddTable(kPath, records);
    ASSERT_EQ(kxcheck::CheckTable(kPath, host, factory), Outcome::kCompleted);
    EXPECT_EQ(host.progress, c.progress) << c.count;
    EXPECT_EQ(host.pumps, c.count);
  }
}

TEST_F(CheckScanTest, ProgressComesBeforeTheThousandthRecordIsRead) {
  std::vector<FakeRecord> records(1000, Good("2020-01-01 00:00:00"));
  host_.on_pump = [this](int64_t pumps) {
    host_.events.push_back("Pump " + std::to_string(pumps));
  };
  EXPECT_EQ(Run(records), Outcome::kCompleted);
  ASSERT_GE(host_.events.size(), 6u);
  std::vector<std::string> tail(host_.events.end() - 5, host_.events.end());
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
  EXPECT_EQ(host_.Log().Text(), expected.Text());
  EXPECT_LT(Findings().size(), 3000u);
}

// The notice appears exactly when the log holds more than 65000 characters
// after the loop: a long path brings the header to the limit.
TEST_F(CheckScanTest, TruncationNoticeOnlyAbove65000) {
  const std::string header = "Filename: \r\nRecords:  0\r\n";
  for (int64_t length : {65000, 65001}) {
    FakeDisk disk;
    FakeHost host(disk);
    kxtest::FakeTableFactory factory(disk);
    std::string path =
        "/" +
        std::string(static_cast<size_t>(length) - header.size() - 5, 'p') +
        ".kxt";
    disk.AddTable(path, {});
    ASSERT_EQ(kxcheck::CheckTable(path, host, factory), Outcome::kCompleted);
    std::vector<std::string> lines = host.Lines();
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
  host_.on_pump = [this](int64_t pumps) {
    if (pumps == 3) host_.stop_requested = true;
  };
  std::vector<FakeRecord> records(10, Good("2020-13-01 00:00:00"));
  records[0] = Good("2020-13-01 00:00:00", "first");
  EXPECT_EQ(Run(records), Outcome::kStopped);
  EXPECT_EQ(host_.pumps, 3);
  EXPECT_EQ(tables_.plan.Calls("GoToRecord"), 3);
  EXPECT_THAT(host_.Log().Text(), Not(HasSubstr("Processing Complete")));
  EXPECT_THAT(host_.Log().Text(), Not(HasSubstr("Found")));
  EXPECT_EQ(host_.events.back(), "LeaveBusy");
  EXPECT_TRUE(host_.warnings.empty());
  EXPECT_EQ(probe_.closes, 1);
  EXPECT_EQ(probe_.live, 0);
}

// A failing call stops the scan at that call: no later step runs, no summary
// is written, the table is released, the window goes idle and the warning
// names what failed, where, and why.
TEST_F(CheckScanTest, FailureStopsAtTheFailingCall) {
  struct Case {
    bool on_table;  // else on the host
    std::string op;
    int64_t nth;
    std::string warning;
    int64_t pumps;  // records finished before the failure
    bool busy;      // EnterBusy was reached
  };
  const std::string kInj = "injected failure in ";
  const std::vector<Case> cases = {
      {true, "Create", 1,
       "Cannot open /data/line4.kxt: " + kInj + "Create (call 1, record 0)", 0,
       true},
      {true, "Open", 1,
       "Cannot open /data/line4.kxt: " + kInj + "Open (call 1, record 0)", 0,
       true},
      {true, "RecordCount", 1,
       "Check stopped before the first record while reading the number of "
       "records: " +
           kInj + "RecordCount (call 1, record 0)",
       0, true},
      {true, "RecordCount", 2,
       "Check stopped before the first record while reading the number of "
       "records: " +
           kInj + "RecordCount (call 2, record 0)",
       0, true},
      {true, "GoToRecord", 3,
       "Check stopped at record 3 while moving to the record: " + kInj +
           "GoToRecord (call 3, record 3)",
       2, true},
      {true, "RecordBuffer", 2,
       "Check stopped at record 2 while reading the record: " + kInj +
           "RecordBuffer (call 2, record 2)",
       1, true},
      {true, "Deleted", 4,
       "Check stopped at record 4 while reading the deletion mark: " + kInj +
           "Deleted (call 4, record 4)",
       3, true},
      {true, "FieldGet", 4,
       "Check stopped at record 2 while reading the date and time: " + kInj +
           "FieldGet (call 4, record 2)",
       1, true},
      {true, "Close", 1,
       "Cannot close /data/line4.kxt: " + kInj + "Close (call 1, record 5)", 5,
       true},
      {false, "EnterBusy", 1,
       "Check stopped before the first record while entering the busy state: " +
           kInj + "EnterBusy (call 1, record 0)",
       0, true},
      {false, "ClearResults", 1,
       "Check stopped before the first record while clearing the results: " +
           kInj + "ClearResults (call 1, record 0)",
       0, true},
      {false, "AddResult", 2,
       "Check stopped before the first record while writing to the results: " +
           kInj + "AddResult (call 2, record 0)",
       0, true},
      {false, "AddResult", 3,
       "Check stopped at record 2 while writing to the results: " + kInj +
           "AddResult (call 3, record 0)",
       1, true},
      {false, "ShowProgress", 1,
       "Check stopped before the first record while showing the progress: " +
           kInj + "ShowProgress (call 1, record 0)",
       0, true},
      {false, "ShowProgress", 2,
       "Check stopped after the last record while showing the progress: " +
           kInj + "ShowProgress (call 2, record 0)",
       5, true},
      {false, "CurrentYear", 3,
       "Check stopped at record 4 while reading the clock: " + kInj +
           "CurrentYear (call 3, record 0)",
       3, true},
      {false, "PumpEvents", 5,
       "Check stopped at record 5 while processing window events: " + kInj +
           "PumpEvents (call 5, record 0)",
       4, true},
      {false, "ResultsLength", 1,
       "Check stopped after the last record while writing the summary: " +
           kInj + "ResultsLength (call 1, record 0)",
       5, true},
      {false, "AddResultAlways", 1,
       "Check stopped after the last record while writing the summary: " +
           kInj + "AddResultAlways (call 1, record 0)",
       5, true},
      {false, "FileExists", 1,
       "Cannot tell whether /data/line4.kxt exists: " + kInj +
           "FileExists (call 1, record 0)",
       0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op + " call " + std::to_string(c.nth));
    FakeDisk disk;
    FakeHost host(disk);
    TableProbe probe;
    ProbeFactory factory(disk, probe);
    (c.on_table ? factory.plan : host.plan).FailCall(c.op, c.nth);
    // Record 2 has a bad month, record 3 is deleted.
    disk.AddTable(kPath,
                  {Good("2020-01-01 00:00:00"), Good("2020-13-01 00:00:00"),
                   Deleted(MakeRecord("2020-01-03 00:00:00")),
                   Good("2020-01-04 00:00:00"), Good("2020-01-05 00:00:00")});
    EXPECT_EQ(kxcheck::CheckTable(kPath, host, factory), Outcome::kFailed);
    EXPECT_THAT(host.warnings, ElementsAre(c.warning));
    EXPECT_EQ(host.pumps, c.pumps);
    EXPECT_EQ(probe.live, 0);
    if (c.op != "Close") {
      EXPECT_THAT(host.Log().Text(), Not(HasSubstr("Processing Complete")));
      EXPECT_EQ(probe.closes, 0);
    }
    ASSERT_GE(host.events.size(), 1u);
    if (c.busy) {
      ASSERT_GE(host.events.size(), 2u);
      EXPECT_EQ(host.events[host.events.size() - 2], "LeaveBusy");
    } else {
      EXPECT_THAT(host.events, ElementsAre("Warn " + c.warning));
    }
  }
}

TEST_F(CheckScanTest, RealReasonFromTheTableIsPassedOn) {
  disk_.AddTable(kPath, {Good("2020-01-01 00:00:00")});
  disk_.files.erase("/data/line4.kxd");
  EXPECT_EQ(kxcheck::CheckTable(kPath, host_, tables_), Outcome::kFailed);
  EXPECT_THAT(host_.warnings,
              ElementsAre("Cannot open /data/line4.kxt: /data/line4.kxd: no "
                          "such file"));
  EXPECT_THAT(host_.events,
              ElementsAre("EnterBusy", "ClearResults", "LeaveBusy",
                          "Warn " + host_.warnings[0]));
}

TEST_F(CheckScanTest, NothingEscapesWhenLeaveBusyAndWarnBoxFail) {
  struct Case {
    std::vector<std::string> failing;
  };
  const std::vector<Case> cases = {
      {{"LeaveBusy"}},                // after a complete scan
      {{"GoToRecord", "LeaveBusy"}},  // on the failure path
      {{"GoToRecord", "LeaveBusy", "WarnBox"}},
      {{"LeaveBusy", "WarnBox"}},
  };
  for (const Case& c : cases) {
    FakeDisk disk;
    FakeHost host(disk);
    TableProbe probe;
    ProbeFactory factory(disk, probe);
    for (const std::string& op : c.failing) {
      (op == "GoToRecord" ? factory.plan : host.plan).FailAlways(op);
    }
    disk.AddTable(kPath, {Good("2020-01-01 00:00:00")});
    Outcome outcome = Outcome::kCompleted;
    EXPECT_NO_THROW(outcome = kxcheck::CheckTable(kPath, host, factory));
    EXPECT_EQ(outcome, Outcome::kFailed);
    EXPECT_EQ(probe.live, 0);
  }
  // A complete scan whose LeaveBusy fails still says so.
  FakeDisk disk;
  FakeHost host(disk);
  kxtest::FakeTableFactory factory(disk);
  host.plan.FailCall("LeaveBusy", 1);
  disk.AddTable(kPath, {Good("2020-01-01 00:00:00")});
  EXPECT_EQ(kxcheck::CheckTable(kPath, host, factory), Outcome::kFailed);
  EXPECT_THAT(host.warnings,
              ElementsAre("Check stopped after the last record while leaving "
                          "the busy state: injected failure in LeaveBusy (call "
                          "1, record 0)"));
}

// A warning that cannot be shown for a missing file is not an escape either.
TEST_F(CheckScanTest, MissingFileWarningThatFails) {
  host_.plan.FailAlways("WarnBox");
  Outcome outcome = Outcome::kCompleted;
  EXPECT_NO_THROW(outcome =
                      kxcheck::CheckTable("/data/none.kxt", host_, tables_));
  EXPECT_EQ(outcome, Outcome::kFailed);
  EXPECT_TRUE(host_.events.empty());
}

}  // namespace
