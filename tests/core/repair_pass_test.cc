// The repair pass against the in-memory fakes: what reaches the results log,
// which records the output table gets, and how the pass meets failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/operations.h"
#include "core/results_log.h"
#include "engine/record_codec.h"
#include "tests/core/support/fakes.h"
#include "tests/core/support/repair_rig.h"

namespace {

using ::kxcheck::Outcome;
using ::kxcheck::RepairTable;
using ::kxtest::FakeRecord;
using ::kxtest::kOut;
using ::kxtest::kOutFiles;
using ::kxtest::kPath;
using ::kxtest::NullRecord;
using ::kxtest::Rec;
using ::kxtest::WithStamp;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// The stamp a record's bytes carry, read as the engine reads its fields.
std::string StampOf(const std::string& bytes) {
  std::string stamp;
  stamp += kalvex::CenturyHigh(bytes.at(0));
  stamp += kalvex::CenturyLow(bytes.at(0));
  stamp += bytes.substr(1, 8) + " " + bytes.substr(9, 8);
  return stamp;
}

// The closing lines after the "Skipped " lines.
std::vector<std::string> Closing(int written) {
  return {"", "Output -> " + kOut,
          "Records Written: " + std::to_string(written), "",
          "*** Processing Complete ***"};
}

class RepairPassTest : public ::testing::Test, public kxtest::RepairRig {
 protected:
  using RepairRig::Run;  // not ::testing::Test's

  std::vector<std::string> OutputStamps() {
    std::vector<std::string> stamps;
    for (const std::string& bytes : Output()) stamps.push_back(StampOf(bytes));
    return stamps;
  }

  // The log lines from the first per-record line on (the two header lines
  // dropped).
  std::vector<std::string> Body() {
    std::vector<std::string> lines = host.Lines();
    EXPECT_GE(lines.size(), 2u);
    if (lines.size() >= 2) {
      EXPECT_EQ(lines[0], "Filename: " + kPath);
      EXPECT_EQ(lines[1], "Records:  " + std::to_string(source.size()));
      lines.erase(lines.begin(), lines.begin() + 2);
    }
    return lines;
  }

  // The source is only ever read: its records and files stay as they were.
  void TearDown() override {
    if (source.empty() && !disk.Table(kPath)) return;
    ExpectSourceUnchanged(/*deleted_marks=*/true);
  }
};

TEST_F(RepairPassTest, CleanTableIsCopiedWithTheDefaultSummary) {
  Source({Rec("2021-01-01 00:00:01", 1), Rec("2021-01-01 00:00:02", 2),
          Rec("2021-01-01 00:00:03", 3)});
  EXPECT_EQ(Run(), Outcome::kCompleted);
  EXPECT_EQ(host.Log().Text(),
            "Filename: /d/t.kxt\r\nRecords:  3\r\n"
            "Skipped 0 Deleted records\r\nSkipped 0 Duplicate records\r\n"
            "\r\nOutput -> /d/t_REPAIRED.kxt\r\nRecords Written: 3\r\n\r\n"
            "*** Processing Complete ***\r\n");
  EXPECT_THAT(
      host.events,
      ElementsAre("EnterBusy", "ClearResults",
                  "Stage /d/t.kxt -> /d/t_REPAIRED.kxt", "Progress 0 / 3",
                  "Progress 3 / 3", "Publish /d/t_REPAIRED.kxt", "LeaveBusy"));
  std::vector<std::string> expected;
  for (const FakeRecord& r : source) expected.push_back(r.bytes);
  EXPECT_EQ(Output(), expected);
  EXPECT_TRUE(disk.Table(kOut)->closed_cleanly);
  EXPECT_EQ(host.pumps, 3);
  EXPECT_THAT(host.warnings, IsEmpty());
}

TEST_F(RepairPassTest, EmptyPathAndMissingFile) {
  EXPECT_EQ(RepairTable("", host, tables), Outcome::kNothing);
  EXPECT_THAT(host.events, IsEmpty());
  EXPECT_EQ(RepairTable("/d/none.kxt", host, tables), Outcome::kNotFound);
  EXPECT_THAT(host.events, ElementsAre("Warn Filename does not exist!"));
  EXPECT_EQ(tables.created(), 0);
}

TEST_F(RepairPassTest, EmptyTable) {
  Source({});
  EXPECT_EQ(Run(), Outcome::kCompleted);
  EXPECT_THAT(Body(), ElementsAre("Skipped 0 Deleted records",
                                  "Skipped 0 Duplicate records", "",
                                  "Output -> " + kOut, "Records Written: 0", "",
                                  "*** Processing Complete ***"));
  EXPECT_THAT(host.progress, ElementsAre("0 / 0", "0 / 0"));
}

// Each case: the source stamps in order and what the output and log get.
struct StampCase {
  const char* name;
  std::vector<std::string> stamps;
  std::vector<std::string> written;
  std::vector<std::string> lines;
};

class RepairStampTest : public RepairPassTest,
                        public ::testing::WithParamInterface<StampCase> {};

TEST_P(RepairStampTest, ReplacementStamps) {
  const StampCase& c = GetParam();
  std::vector<FakeRecord> records;
  for (size_t i = 0; i < c.stamps.size(); ++i) {
    records.push_back(Rec(c.stamps[i], static_cast<int>(i)));
  }
  Source(records);
  EXPECT_EQ(Run(), Outcome::kCompleted);
  EXPECT_EQ(OutputStamps(), c.written);
  std::vector<std::string> expected = c.lines;
  expected.push_back("Skipped 0 Deleted records");
  expected.push_back("Skipped 0 Duplicate records");
  for (const std::string& line : Closing(static_cast<int>(c.written.size()))) {
    expected.push_back(line);
  }
  EXPECT_THAT(Body(), ElementsAreArray(expected));
  // Only the stamps change: the rest of every record is written as read.
  std::vector<std::string> output = Output();
  for (size_t i = 0; i < output.size(); ++i) {
    EXPECT_EQ(output[i], WithStamp(records[i], c.written[i]));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Chains, RepairStampTest,
    ::testing::Values(
        StampCase{"FirstBadGetsTheFixedStampThenRunsCarryTheLastGood",
                  {"2020-13-01 00:00:00", "2021-05-05 10:00:00",
                   "2021-05-05 25:00:00", "2021-05-05 10:00:61"},
                  {"2000-01-01 00:00:00", "2021-05-05 10:00:00",
                   "2021-05-05 10:00:00", "2021-05-05 10:00:00"},
                  {"Rec: 1 - 2020-13-01 00:00:00 --> Month is invalid!",
                   "Rec: 1- Date set to --> 2000-01-01 00:00:00",
                   "Rec: 3 - 2021-05-05 25:00:00 --> Hour is invalid!",
                   "Rec: 3- Date set to --> 2021-05-05 10:00:00",
                   "Rec: 4 - 2021-05-05 10:00:61 --> Second is invalid!",
                   "Rec: 4- Date set to --> 2021-05-05 10:00:00"}},
        StampCase{"OneLateStampHoldsUntilPassed",
                  {"2021-01-01 00:00:00", "2024-06-01 00:00:00",
                   "2022-01-01 00:00:00", "2023-01-01 00:00:00",
                   "2025-01-01 00:00:00"},
                  {"2021-01-01 00:00:00", "2024-06-01 00:00:00",
                   "2024-06-01 00:00:00", "2024-06-01 00:00:00",
                   "2025-01-01 00:00:00"},
                  {"Rec: 3 - 2022-01-01 00:00:00 Date is out of sequence "
                   "with 2024-06-01 00:00:00",
                   "Rec: 3- Date set to --> 2024-06-01 00:00:00",
                   "Rec: 4 - 2023-01-01 00:00:00 Date is out of sequence "
                   "with 2024-06-01 00:00:00",
                   "Rec: 4- Date set to --> 2024-06-01 00:00:00"}},
        StampCase{"EveryTestFailsAndEqualStampsAreInOrder",
                  {"2021-01-01 00:00:00", "1989-00-32 24:60:60",
                   "2021-01-01 00:00:00"},
                  {"2021-01-01 00:00:00", "2021-01-01 00:00:00",
                   "2021-01-01 00:00:00"},
                  {"Rec: 2 - 1989-00-32 24:60:60 Date is out of sequence "
                   "with 2021-01-01 00:00:00",
                   "Rec: 2 - 1989-00-32 24:60:60 --> Year is invalid!",
                   "Rec: 2 - 1989-00-32 24:60:60 --> Month is invalid!",
                   "Rec: 2 - 1989-00-32 24:60:60 --> Day is invalid!",
                   "Rec: 2 - 1989-00-32 24:60:60 --> Hour is invalid!",
                   "Rec: 2 - 1989-00-32 24:60:60 --> Minute is invalid!",
                   "Rec: 2 - 1989-00-32 24:60:60 --> Second is invalid!",
                   "Rec: 2- Date set to --> 2021-01-01 00:00:00"}},
        StampCase{"YearBounds",
                  {"1990-01-01 00:00:00", "2026-12-31 23:59:59",
                   "2027-01-01 00:00:00"},
                  {"1990-01-01 00:00:00", "2026-12-31 23:59:59",
                   "2026-12-31 23:59:59"},
                  {"Rec: 3 - 2027-01-01 00:00:00 --> Year is invalid!",
                   "Rec: 3- Date set to --> 2026-12-31 23:59:59"}},
        StampCase{"SeparatorsAloneAreRepaired",
                  {"2021/03/04 10.11.12", "2021-03-04 10:11:12"},
                  {"2021-03-04 10:11:12", "2021-03-04 10:11:12"},
                  {"Rec: 1 - 2021/03/04 10.11.12 --> Separator(s) is invalid!",
                   "Rec: 1- Date set to --> 2021-03-04 10:11:12"}},
        StampCase{"SeparatorsAreNotTestedWhenAnotherTestFailed",
                  {"2021/13/04 10.11.12", "2021-03-04 10:11:12"},
                  {"2000-01-01 00:00:00", "2021-03-04 10:11:12"},
                  {"Rec: 1 - 2021/13/04 10.11.12 --> Month is invalid!",
                   "Rec: 1- Date set to --> 2000-01-01 00:00:00"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RepairPassTest, SeparatorRepairFeedsTheDuplicateTest) {
  // The repaired buffer becomes the previous record, so an identical damaged
  // record next is no duplicate of it and is repaired in its turn.
  FakeRecord damaged = Rec("2021/03/04 10.11.12", 1);
  Source({damaged, damaged});
  EXPECT_EQ(Run(), Outcome::kCompleted);
  EXPECT_EQ(Output(), std::vector<std::string>(
                          2, WithStamp(damaged, "2021-03-04 10:11:12")));
  EXPECT_THAT(Body(), ::testing::Contains("Skipped 0 Duplicate records"));
}

// The corrupted rule comes before the duplicate rule: a damaged record that
// was written while the corrupted option was off becomes the previous record,
// and its twin, met once the option is on, is corrupted, not a duplicate.
TEST_F(RepairPassTest, CorruptedRuleComesBeforeTheDuplicateRule) {
  FakeRecord damaged = Rec("2021/13/04 10.11.12", 1);  // bad month too
  Source({damaged, damaged});
  host.skip_corrupted = false;
  host.on_pump = [&](int64_t pump) {
    if (pump == 1) host.skip_corrupted = true;
  };
  EXPECT_EQ(Run(), Outcome::kCompleted);
  EXPECT_EQ(Output(), std::vector<std::string>{
                          WithStamp(damaged, "2000-01-01 00:00:00")});
  std::vector<std::string> expected = {
      "Rec: 1 - 2021/13/04 10.11.12 --> Month is invalid!",
      "Rec: 1- Date set to --> 2000-01-01 00:00:00",
      "Skipped 0 Deleted records", "Skipped 0 Duplicate records",
      "Skipped 1 Corrupted records"};
  for (const std::string& line : Closing(1)) expected.push_back(line);
  EXPECT_THAT(Body(), ElementsAreArray(expected));
}

// The fixed replacement goes to the first record kept, not to record 1.
TEST_F(RepairPassTest, FirstKeptRecordAfterANullOneGetsTheFixedStamp) {
  FakeRecord bad = Rec("2021-13-01 00:00:00", 2);
  Source({{NullRecord(41), false}, bad});
  EXPECT_EQ(Run(), Outcome::kCompleted);
  EXPECT_EQ(Output(),
            std::vector<std::string>{WithStamp(bad, "2000-01-01 00:00:00")});
  std::vector<std::string> expected = {
      "Rec: 2 - 2021-13-01 00:00:00 --> Month is invalid!",
      "Rec: 2- Date set to --> 2000-01-01 00:00:00",
      "Skipped 0 Deleted records", "Skipped 1 Null records",
      "Skipped 0 Duplicate records"};
  for (const std::string& line : Closing(1)) expected.push_back(line);
  EXPECT_THAT(Body(), ElementsAreArray(expected));
}

TEST_F(RepairPassTest, NullRuleLooksAtBytesTwoToThirtyThree) {
  struct Case {
    const char* name;
    std::string bytes;
    bool null;
  };
  auto zeros_with = [](size_t length, size_t at, char c) {
    std::string bytes(length, '\0');
    if (at < length) bytes[at] = c;
    return bytes;
  };
  std::string check_null_only(17, '\0');  // null for the check scan
  check_null_only += "payload-bytes-0123456789";
  const Case cases[] = {
      {"34 zero bytes", NullRecord(34), true},
      {"33 zero bytes", NullRecord(33), false},
      {"long zero record", NullRecord(60), true},
      {"byte 0 set", zeros_with(34, 0, 0x20), true},
      {"byte 1 set", zeros_with(34, 1, 'x'), true},
      {"byte 2 set", zeros_with(34, 2, 'x'), false},
      {"byte 33 set", zeros_with(34, 33, 'x'), false},
      {"byte 34 set", zeros_with(40, 34, 'x'), true},
      {"null for the check scan only", check_null_only, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::RepairRig rig;
    rig.disk.AddTable(kPath, {{c.bytes, false}});
    EXPECT_EQ(rig.Run(), Outcome::kCompleted);
    std::vector<std::string> lines = rig.host.Lines();
    bool skipped = std::find(lines.begin(), lines.end(),
                             "Skipped 1 Null records") != lines.end();
    EXPECT_EQ(skipped, c.null);
    EXPECT_EQ(rig.disk.Table(kOut)->records.size(), c.null ? 0u : 1u);
  }
}

TEST_F(RepairPassTest, SkipOptionCombinations) {
  const FakeRecord good1 = Rec("2021-01-01 00:00:00", 1);
  const FakeRecord deleted = Rec("2021-01-03 00:00:00", 3, true);
  const FakeRecord corrupted = Rec("2021/01/04 00.00.00", 4);
  const FakeRecord good6 = Rec("2021-01-06 00:00:00", 6);
  const std::vector<FakeRecord> records = {
      good1, good1, deleted, corrupted, {NullRecord(41), false}, good6};
  for (int mask = 0; mask < 8; ++mask) {
    bool del = mask & 1, dup = mask & 2, cor = mask & 4;
    SCOPED_TRACE("deleted " + std::to_string(del) + " duplicates " +
                 std::to_string(dup) + " corrupted " + std::to_string(cor));
    kxtest::RepairRig rig;
    rig.disk.AddTable(kPath, records);
    rig.host.skip_deleted = del;
    rig.host.skip_duplicates = dup;
    rig.host.skip_corrupted = cor;
    EXPECT_EQ(rig.Run(), Outcome::kCompleted);

    std::vector<std::string> written = {good1.bytes};
    std::vector<std::string> lines = {"Filename: " + kPath, "Records:  6"};
    if (!dup) written.push_back(good1.bytes);
    if (!del) written.push_back(deleted.bytes);
    if (!cor) {
      written.push_back(WithStamp(corrupted, "2021-01-04 00:00:00"));
      lines.push_back(
          "Rec: 4 - 2021/01/04 00.00.00 --> Separator(s) is "
          "invalid!");
      lines.push_back("Rec: 4- Date set to --> 2021-01-04 00:00:00");
    }
    written.push_back(good6.bytes);
    if (del) lines.push_back("Skipped 1 Deleted records");
    lines.push_back("Skipped 1 Null records");
    if (dup) lines.push_back("Skipped 1 Duplicate records");
    if (cor) lines.push_back("Skipped 1 Corrupted records");
    for (const std::string& line : Closing(static_cast<int>(written.size()))) {
      lines.push_back(line);
    }
    EXPECT_THAT(rig.host.Lines(), ElementsAreArray(lines));
    std::vector<std::string> output;
    for (const FakeRecord& r : rig.disk.Table(kOut)->records) {
      output.push_back(r.bytes);
      EXPECT_FALSE(r.deleted);
    }
    EXPECT_EQ(output, written);
  }
}

TEST_F(RepairPassTest, OptionsAreReadAtEveryUse) {
  // Records 2 and 3 are deleted; the deleted option is switched between
  // them, and the summary follows the option as it is at the end.
  const std::vector<FakeRecord> records = {
      Rec("2021-01-01 00:00:00", 1), Rec("2021-01-02 00:00:00", 2, true),
      Rec("2021-01-03 00:00:00", 3, true), Rec("2021-01-04 00:00:00", 4)};
  struct Case {
    bool start;
    int written;
    bool summary_line;
  };
  for (const Case& c : {Case{true, 3, false}, Case{false, 3, true}}) {
    SCOPED_TRACE(c.start);
    kxtest::RepairRig rig;
    rig.disk.AddTable(kPath, records);
    rig.host.skip_deleted = c.start;
    rig.host.on_pump = [&](int64_t pump) {
      if (pump == 2) rig.host.skip_deleted = !c.start;
    };
    EXPECT_EQ(rig.Run(), Outcome::kCompleted);
    EXPECT_EQ(rig.disk.Table(kOut)->records.size(),
              static_cast<size_t>(c.written));
    std::vector<std::string> lines = rig.host.Lines();
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), "Skipped 1 Deleted records"),
        c.summary_line ? 1 : 0);
    // Three option reads for every record that passes them all, fewer for
    // one left out early, and three for the summary; never cached.
    EXPECT_EQ(rig.host.Calls("SkipOption"),
              c.start ? 3 + 1 + 3 + 3 + 3 : 3 + 3 + 1 + 3 + 3);
  }
}

TEST_F(RepairPassTest, ProgressEveryThousandRecords) {
  std::vector<FakeRecord> records;
  for (int i = 0; i < 2500; ++i) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "2021-01-01 %02d:%02d:%02d", i / 3600,
                  i / 60 % 60, i % 60);
    records.push_back(Rec(stamp, i));
  }
  Source(records);
  EXPECT_EQ(Run(), Outcome::kCompleted);
  EXPECT_THAT(host.progress, ElementsAre("0 / 2500", "1000 / 2500",
                                         "2000 / 2500", "2500 / 2500"));
  EXPECT_EQ(Output().size(), 2500u);
}

TEST_F(RepairPassTest, LogCapAndTruncationNotice) {
  std::vector<FakeRecord> records;
  for (int i = 0; i < 1000; ++i)
    records.push_back(Rec("2021-13-01 00:00:00", i));
  Source(records);
  EXPECT_EQ(Run(), Outcome::kCompleted);
  std::vector<std::string> lines = host.Lines();
  EXPECT_GT(host.Log().Length(), kxcheck::ResultsLog::kCap);
  // Per-record lines stop at the cap; the summary still comes.
  EXPECT_THAT(lines,
              ::testing::Not(::testing::Contains(StartsWith("Rec: 1000 "))));
  ASSERT_GE(lines.size(), 8u);
  EXPECT_THAT(
      std::vector<std::string>(lines.end() - 8, lines.end()),
      ElementsAre(">>> Output Truncated <<<", "Skipped 0 Deleted records",
                  "Skipped 0 Duplicate records", "", "Output -> " + kOut,
                  "Records Written: 1000", "", "*** Processing Complete ***"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), ">>> Output Truncated <<<"),
            1);
}

// The notice appears exactly when the log holds more than 65000 characters
// after the loop: a long path brings the header to the limit.
TEST_F(RepairPassTest, TruncationNoticeOnlyAbove65000) {
  const std::string header = "Filename: \r\nRecords:  0\r\n";
  for (int64_t length : {65000, 65001}) {
    SCOPED_TRACE(length);
    kxtest::RepairRig rig;
    std::string base = "/";
    base.append(static_cast<size_t>(length) - header.size() - 5, 'p');
    rig.disk.AddTable(base + ".kxt", {});
    ASSERT_EQ(RepairTable(base + ".kxt", rig.host, rig.tables),
              Outcome::kCompleted);
    std::vector<std::string> lines = rig.host.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2] == ">>> Output Truncated <<<", length == 65001);
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), ">>> Output Truncated <<<"),
        length == 65001 ? 1 : 0);
    EXPECT_EQ(lines.back(), "*** Processing Complete ***");
  }
}

TEST_F(RepairPassTest, ExistingOutputDeclined) {
  Source({Rec("2021-01-01 00:00:00", 1)});
  disk.AddTable(kOut, {Rec("1999-01-01 00:00:00", 9)});
  host.answer_yes = false;
  EXPECT_EQ(Run(), Outcome::kDeclined);
  EXPECT_THAT(host.events,
              ElementsAre("EnterBusy", "ClearResults",
                          "Ask File '/d/t_REPAIRED.kxt' already exists ... "
                          "Replace?",
                          "LeaveBusy"));
  EXPECT_EQ(host.Log().Text(), "");
  EXPECT_EQ(OutputStamps(), std::vector<std::string>{"1999-01-01 00:00:00"});
  for (const std::string& file : kOutFiles) EXPECT_TRUE(disk.Exists(file));
  EXPECT_EQ(tables.Calls(0, "Close"), 0);
}

// The new output is written beside the old one and takes its place at the
// end.
TEST_F(RepairPassTest, ExistingOutputReplaced) {
  Source({Rec("2021-01-01 00:00:00", 1)});
  disk.AddTable(kOut, {Rec("1999-01-01 00:00:00", 9)});
  host.answer_yes = true;
  EXPECT_EQ(Run(), Outcome::kCompleted);
  EXPECT_THAT(
      host.events,
      ElementsAre("EnterBusy", "ClearResults",
                  "Ask File '/d/t_REPAIRED.kxt' already exists ... "
                  "Replace?",
                  "Stage /d/t.kxt -> /d/t_REPAIRED.kxt", "Progress 0 / 1",
                  "Progress 1 / 1", "Publish /d/t_REPAIRED.kxt", "LeaveBusy"));
  EXPECT_EQ(OutputStamps(), std::vector<std::string>{"2021-01-01 00:00:00"});
}

TEST_F(RepairPassTest, UpperCaseExtensionAndRepeatedSuffix) {
  const struct {
    std::string source;
    std::string output;
  } cases[] = {{"/d/T.KXT", "/d/T_REPAIRED.kxt"},
               {"/d/t_REPAIRED.kxt", "/d/t_REPAIRED_REPAIRED.kxt"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    kxtest::RepairRig rig;
    rig.disk.AddTable(c.source, {Rec("2021-01-01 00:00:00", 1)});
    EXPECT_EQ(RepairTable(c.source, rig.host, rig.tables), Outcome::kCompleted);
    EXPECT_THAT(rig.host.events,
                ::testing::Contains("Stage " + c.source + " -> " + c.output));
    EXPECT_THAT(rig.host.Lines(), ::testing::Contains("Output -> " + c.output));
    ASSERT_NE(rig.disk.Table(c.output), nullptr);
    EXPECT_EQ(rig.disk.Table(c.output)->records.size(), 1u);
  }
}

// Stopped, the pass removes what it wrote; an output of an earlier pass is
// as it was.
TEST_F(RepairPassTest, StopRequestEndsAfterTheRecordAndRemovesTheOutput) {
  for (const bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "with an earlier output" : "without one");
    kxtest::RepairRig rig({Rec("2021-01-01 00:00:01", 1),
                           Rec("2021-01-01 00:00:02", 2),
                           Rec("2021-01-01 00:00:03", 3)});
    if (earlier) rig.disk.AddTable(kOut, {Rec("1999-01-01 00:00:00", 9)});
    rig.host.answer_yes = true;
    rig.host.on_pump = [&](int64_t pump) {
      if (pump == 2) rig.host.stop_requested = true;
    };
    EXPECT_EQ(rig.Run(), Outcome::kStopped);
    EXPECT_EQ(rig.host.pumps, 2);
    EXPECT_EQ(rig.AnyOutputFile(), earlier);
    if (earlier) {
      EXPECT_EQ(rig.Output(),
                std::vector<std::string>{Rec("1999-01-01 00:00:00", 9).bytes});
    }
    EXPECT_FALSE(rig.AnyStagedFile());
    EXPECT_THAT(rig.host.Lines(),
                ElementsAre("Filename: " + kPath, "Records:  3"));
    EXPECT_THAT(rig.host.events, ::testing::Contains("Discard " + kOut));
    EXPECT_EQ(rig.host.events.back(), "LeaveBusy");
    EXPECT_EQ(rig.tables.Calls(0, "Close"), 1);  // the source
    EXPECT_EQ(rig.tables.Calls(1, "Close"), 0);  // the output: never committed
    EXPECT_THAT(rig.host.warnings, IsEmpty());
  }
}

}  // namespace
