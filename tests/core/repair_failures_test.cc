// The repair pass meeting failures: before its record loop (the pass ends,
// the user is warned, the output files it made are removed), inside the loop
// (only the failing action is abandoned and the record is reported at
// itself), and in the summary (a warning naming the output).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/operations.h"
#include "tests/core/support/fakes.h"
#include "tests/core/support/repair_rig.h"

namespace {

using ::kxcheck::Outcome;
using ::kxtest::FakeRecord;
using ::kxtest::kOut;
using ::kxtest::kOutFiles;
using ::kxtest::kPath;
using ::kxtest::Rec;
using ::kxtest::WithStamp;
using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

std::string Severe(int n) {
  return "Rec: " + std::to_string(n) +
         " - Encountered a Severe error - skipping!";
}

const FakeRecord r1 = Rec("2021-01-01 00:00:01", 1);
const FakeRecord r2 = Rec("2021-01-01 00:00:02", 2);
const FakeRecord r3 = Rec("2021-01-01 00:00:03", 3);
const FakeRecord r2_deleted = Rec("2021-01-01 00:00:02", 2, true);
const FakeRecord r2_corrupted = Rec("2021/01/01 00.00.02", 2);
const FakeRecord r2_bad_month = Rec("2021-13-01 00:00:02", 2);
const FakeRecord r2_bad_hour = Rec("2021-01-01 25:00:02", 2);

const std::vector<std::string> kDefaultSkipped = {
    "Skipped 0 Deleted records", "Skipped 0 Duplicate records"};

using Rig = kxtest::RepairRig;

// One action of the record loop fails.
struct LoopCase {
  const char* name;
  std::vector<FakeRecord> records;
  std::function<void(Rig&)> plan;
  std::vector<std::string> lines;    // per-record lines
  std::vector<std::string> skipped;  // "Skipped " lines of the summary
  std::vector<std::string> written;  // the output's records
  int severe_records = 1;
  // A record could not be appended: the output is removed at the end.
  bool removed = false;
};

class RepairLoopFailureTest : public ::testing::TestWithParam<LoopCase> {};

TEST_P(RepairLoopFailureTest, OnlyTheFailingActionIsAbandoned) {
  const LoopCase& c = GetParam();
  Rig s(c.records);
  c.plan(s);
  // Ran to its end, but the output may lack something: not plain success.
  EXPECT_EQ(s.Run(), Outcome::kFailed);

  std::vector<std::string> expected = {
      "Filename: " + kPath, "Records:  " + std::to_string(c.records.size())};
  expected.insert(expected.end(), c.lines.begin(), c.lines.end());
  expected.insert(expected.end(), c.skipped.begin(), c.skipped.end());
  for (const std::string& line :
       {std::string(""), "Output -> " + kOut,
        "Records Written: " + std::to_string(c.written.size()), std::string(""),
        std::string("*** Processing Complete ***")}) {
    expected.push_back(line);
  }
  EXPECT_THAT(s.host.Lines(), ElementsAreArray(expected));

  ASSERT_EQ(s.host.warnings.size(), 1u);
  EXPECT_THAT(s.host.warnings[0], HasSubstr("'" + kOut + "'"));
  EXPECT_THAT(s.host.warnings[0],
              HasSubstr(std::to_string(c.severe_records) + " record(s)"));
  EXPECT_THAT(s.host.warnings[0], HasSubstr("injected failure"));
  EXPECT_EQ(s.host.events.back(), "LeaveBusy");
  if (c.removed) {
    EXPECT_THAT(s.host.warnings[0],
                StartsWith("No repaired table was written: '" + kOut +
                           "' could not be written in full (record "));
    EXPECT_FALSE(s.AnyOutputFile());
  } else {
    EXPECT_EQ(s.Output(), c.written);
    EXPECT_TRUE(s.disk.Table(kOut)->closed_cleanly);
  }
  s.ExpectSourceUnchanged(/*deleted_marks=*/false);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, RepairLoopFailureTest,
    ::testing::Values(LoopCase{"PositioningFailsAndTheRecordIsLeftOut",
                               {r1, r2, r3},
                               [](Rig& s) {
                                 s.tables.plan(0).FailNthAtRecord("GoToRecord",
                                                                  2, 1);
                               },
                               {Severe(2)},
                               kDefaultSkipped,
                               {r1.bytes, r3.bytes}},
                      LoopCase{"CharacterViewFails",
                               {r1, r2, r3},
                               [](Rig& s) {
                                 s.tables.plan(0).FailNthAtRecord(
                                     "RecordBuffer", 2, 1);
                               },
                               {Severe(2)},
                               kDefaultSkipped,
                               {r1.bytes, r2.bytes, r3.bytes}},
                      LoopCase{"CharacterViewFailsAndThePreviousViewDecides",
                               {r1, r2_corrupted, r3},
                               [](Rig& s) {
                                 s.host.skip_corrupted = true;
                                 s.tables.plan(0).FailNthAtRecord(
                                     "RecordBuffer", 2, 1);
                               },
                               {"Rec: 2 - 2021/01/01 00.00.02 --> Separator(s) "
                                "is invalid!",
                                "Rec: 2- Date set to --> 2021-01-01 00:00:02",
                                Severe(2)},
                               {"Skipped 0 Deleted records",
                                "Skipped 0 Duplicate records",
                                "Skipped 0 Corrupted records"},
                               {r1.bytes,
                                WithStamp(r2_corrupted, "2021-01-01 00:00:02"),
                                r3.bytes}},
                      LoopCase{"NullTestCannotReadTheBuffer",
                               {r1, r2, r3},
                               [](Rig& s) {
                                 s.tables.plan(0).FailNthAtRecord(
                                     "RecordBuffer", 2, 2);
                               },
                               {Severe(2)},
                               {"Skipped 0 Deleted records",
                                "Skipped 1 Null records",
                                "Skipped 0 Duplicate records"},
                               {r1.bytes, r3.bytes}},
                      LoopCase{"DeletedOptionUnreadableCountsAsSet",
                               {r1, r2_deleted, r3},
                               [](Rig& s) {
                                 s.host.skip_deleted = false;
                                 s.host.plan.FailCall("SkipOption", 4);
                               },
                               {Severe(2)},
                               {"Skipped 0 Duplicate records"},
                               {r1.bytes, r3.bytes}},
                      LoopCase{"DeletionMarkUnreadableCountsAsDeleted",
                               {r1, r2, r3},
                               [](Rig& s) {
                                 s.tables.plan(0).FailNthAtRecord("Deleted", 2,
                                                                  1);
                               },
                               {Severe(2)},
                               {"Skipped 1 Deleted records",
                                "Skipped 0 Duplicate records"},
                               {r1.bytes, r3.bytes}},
                      LoopCase{"DuplicateTestCannotReadTheBuffer",
                               {r1, r2, r3},
                               [](Rig& s) {
                                 s.tables.plan(0).FailNthAtRecord(
                                     "RecordBuffer", 2, 3);
                               },
                               {Severe(2)},
                               {"Skipped 0 Deleted records",
                                "Skipped 1 Duplicate records"},
                               {r1.bytes, r3.bytes}},
                      LoopCase{"StampCannotBeBuiltAndTheLastWrittenIsTested",
                               {r1, r2_bad_hour, r3},
                               [](Rig& s) {
                                 s.tables.plan(0).FailNthAtRecord("FieldGet", 2,
                                                                  2);
                               },
                               {Severe(2)},
                               kDefaultSkipped,
                               {r1.bytes, r2_bad_hour.bytes, r3.bytes}},
                      LoopCase{
                          "ClockUnreadableFailsTheYearTest",
                          {r1, r2, r3},
                          [](Rig& s) {
                            s.host.plan.FailCall("CurrentYear", 2);
                          },
                          {"Rec: 2 - 2021-01-01 00:00:02 --> Year is invalid!",
                           "Rec: 2- Date set to --> 2021-01-01 00:00:01",
                           Severe(2)},
                          kDefaultSkipped,
                          {r1.bytes, WithStamp(r2, "2021-01-01 00:00:01"),
                           r3.bytes}},
                      LoopCase{
                          "FindingLineLost",
                          {r1, r2_bad_month, r3},
                          [](Rig& s) { s.host.plan.FailCall("AddResult", 3); },
                          {"Rec: 2- Date set to --> 2021-01-01 00:00:01",
                           Severe(2)},
                          kDefaultSkipped,
                          {r1.bytes,
                           WithStamp(r2_bad_month, "2021-01-01 00:00:01"),
                           r3.bytes}},
                      LoopCase{"SeparatorRepairCannotPutTheDate",
                               {r1, r2_corrupted, r3},
                               [](Rig& s) {
                                 s.tables.plan(0).FailNthAtRecord("FieldPut", 2,
                                                                  1);
                               },
                               {"Rec: 2 - 2021/01/01 00.00.02 --> Separator(s) "
                                "is invalid!",
                                "Rec: 2- Date set to --> 2021-01-01 00:00:02",
                                Severe(2)},
                               kDefaultSkipped,
                               {r1.bytes,
                                WithStamp(r2_corrupted, "2021/01/01 00:00:02"),
                                r3.bytes}},
                      LoopCase{"OutputBufferCannotBeSetSoTheRecordIsLeftOut",
                               {r1, r2, r3},
                               [](Rig& s) {
                                 s.tables.plan(1).FailCall("SetRecordBuffer",
                                                           2);
                               },
                               {Severe(2)},
                               kDefaultSkipped,
                               {r1.bytes, r3.bytes}},
                      LoopCase{
                          "OutputFieldCannotBePut",
                          {r1, r2_bad_hour, r3},
                          [](Rig& s) {
                            s.tables.plan(1).FailCall("FieldPut", 2);
                          },
                          {"Rec: 2 - 2021-01-01 25:00:02 --> Hour is invalid!",
                           "Rec: 2- Date set to --> 2021-01-01 00:00:01",
                           Severe(2)},
                          kDefaultSkipped,
                          {r1.bytes, r3.bytes}},
                      LoopCase{"AppendFailsAndTheRecordIsLost",
                               {r1, r2, r3},
                               [](Rig& s) {
                                 s.tables.plan(1).FailCall("AppendRecord", 2);
                               },
                               {Severe(2)},
                               kDefaultSkipped,
                               {r1.bytes, r3.bytes},
                               1,
                               true},
                      LoopCase{"PreviousRecordUnreadableSoTheNextIsNoDuplicate",
                               {r1, r2, r2},
                               [](Rig& s) {
                                 s.tables.plan(0).FailNthAtRecord(
                                     "RecordBuffer", 2, 5);
                               },
                               {Severe(2)},
                               kDefaultSkipped,
                               {r1.bytes, r2.bytes, r2.bytes}},
                      LoopCase{
                          "PumpFails",
                          {r1, r2, r3},
                          [](Rig& s) { s.host.plan.FailCall("PumpEvents", 2); },
                          {Severe(2)},
                          kDefaultSkipped,
                          {r1.bytes, r2.bytes, r3.bytes}},
                      LoopCase{"LastRecordIsReportedBeforeTheSummary",
                               {r1, r2, r3},
                               [](Rig& s) {
                                 s.tables.plan(1).FailCall("AppendRecord", 3);
                               },
                               {Severe(3)},
                               kDefaultSkipped,
                               {r1.bytes, r2.bytes},
                               1,
                               true},
                      LoopCase{
                          "SeveralFailuresInOneRecordGiveOneLine",
                          {r1, r2_bad_month, r3},
                          [](Rig& s) {
                            s.tables.plan(1).FailCall("FieldPut", 1);
                            s.tables.plan(1).FailCall("FieldPut", 2);
                            s.host.plan.FailCall("PumpEvents", 2);
                          },
                          {"Rec: 2 - 2021-13-01 00:00:02 --> Month is invalid!",
                           "Rec: 2- Date set to --> 2021-01-01 00:00:01",
                           Severe(2)},
                          kDefaultSkipped,
                          {r1.bytes, r3.bytes}},
                      LoopCase{"FailuresInTwoRecords",
                               {r1, r2, r3},
                               [](Rig& s) {
                                 s.tables.plan(0).FailNthAtRecord("GoToRecord",
                                                                  1, 1);
                                 s.tables.plan(1).FailCall("AppendRecord", 2);
                               },
                               {Severe(1), Severe(3)},
                               kDefaultSkipped,
                               {r2.bytes},
                               2,
                               true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RepairLoopFailure, ProgressLabelFailureKeepsTheRecord) {
  std::vector<FakeRecord> records;
  for (int i = 0; i < 1000; ++i) {
    records.push_back(Rec("2021-01-01 00:00:00", i));
  }
  Rig s(records);
  s.host.plan.FailCall("ShowProgress", 2);  // "1000 / 1000"
  EXPECT_EQ(s.Run(), Outcome::kFailed);
  EXPECT_EQ(s.Output().size(), 1000u);
  std::vector<std::string> lines = s.host.Lines();
  EXPECT_EQ(lines[2], Severe(1000));
  EXPECT_EQ(lines[3], "Skipped 0 Deleted records");
}

// A call of the summary or of the closing fails.
struct SummaryCase {
  const char* name;
  std::function<void(Rig&)> plan;
  std::vector<std::string> lines;  // the log after the header
  const char* warning;
};

class RepairSummaryFailureTest : public ::testing::TestWithParam<SummaryCase> {
};

TEST_P(RepairSummaryFailureTest, WarnsNamingTheOutput) {
  const SummaryCase& c = GetParam();
  Rig s({r1, r2, r3});
  c.plan(s);
  EXPECT_EQ(s.Run(), Outcome::kFailed);
  std::vector<std::string> lines = s.host.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 2, lines.end()),
              ElementsAreArray(c.lines));
  ASSERT_EQ(s.host.warnings.size(), 1u);
  EXPECT_THAT(s.host.warnings[0], StartsWith("The repaired table '" + kOut +
                                             "' may be incomplete"));
  EXPECT_THAT(s.host.warnings[0], HasSubstr(c.warning));
  EXPECT_THAT(s.host.warnings[0], HasSubstr("injected failure"));
  EXPECT_EQ(s.Output().size(), 3u);
  s.ExpectSourceUnchanged(/*deleted_marks=*/false);
}

const std::vector<std::string> kFullSummary = {
    "Skipped 0 Deleted records",  "Skipped 0 Duplicate records", "",
    "Output -> " + kOut,          "Records Written: 3",          "",
    "*** Processing Complete ***"};

INSTANTIATE_TEST_SUITE_P(
    Steps, RepairSummaryFailureTest,
    ::testing::Values(
        SummaryCase{"SourceCannotBeClosed",
                    [](Rig& s) { s.tables.plan(0).FailCall("Close", 1); },
                    kFullSummary, "Could not close the source table"},
        SummaryCase{"LogLengthUnreadableGivesTheNotice",
                    [](Rig& s) { s.host.plan.FailCall("ResultsLength", 1); },
                    {">>> Output Truncated <<<", "Skipped 0 Deleted records",
                     "Skipped 0 Duplicate records", "", "Output -> " + kOut,
                     "Records Written: 3", "", "*** Processing Complete ***"},
                    "Could not measure the results log"},
        SummaryCase{"OptionUnreadableGivesItsLine",
                    [](Rig& s) { s.host.plan.FailCall("SkipOption", 12); },
                    {"Skipped 0 Deleted records", "Skipped 0 Duplicate records",
                     "Skipped 0 Corrupted records", "", "Output -> " + kOut,
                     "Records Written: 3", "", "*** Processing Complete ***"},
                    "Could not read a skip option"},
        SummaryCase{
            "OutputCountUnreadable",
            [](Rig& s) { s.tables.plan(1).FailCall("RecordCount", 1); },
            {"Skipped 0 Deleted records", "Skipped 0 Duplicate records", "",
             "Output -> " + kOut, "", "*** Processing Complete ***"},
            "Could not count the records written"},
        SummaryCase{"ClosingLineLost",
                    [](Rig& s) { s.host.plan.FailCall("AddResultAlways", 7); },
                    {"Skipped 0 Deleted records", "Skipped 0 Duplicate records",
                     "", "Output -> " + kOut, "Records Written: 3", ""},
                    "Could not write the results log"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RepairSummaryFailure, OutputThatCannotBeCommittedIsRemoved) {
  Rig s({r1, r2, r3});
  s.tables.plan(1).FailCall("Close", 1);
  EXPECT_EQ(s.Run(), Outcome::kFailed);
  const std::vector<std::string> lines = s.host.Lines();
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 2, lines.end()),
              ElementsAreArray(kFullSummary));
  ASSERT_EQ(s.host.warnings.size(), 1u);
  EXPECT_THAT(s.host.warnings[0],
              StartsWith("No repaired table was written: '" + kOut +
                         "' could not be committed (injected failure"));
  EXPECT_FALSE(s.AnyOutputFile());
  s.ExpectSourceUnchanged(/*deleted_marks=*/false);
}

TEST(RepairSummaryFailure, LeavingBusyFails) {
  Rig s({r1});
  s.host.plan.FailCall("LeaveBusy", 1);
  EXPECT_EQ(s.Run(), Outcome::kFailed);
  ASSERT_EQ(s.host.warnings.size(), 1u);
  EXPECT_THAT(s.host.warnings[0],
              StartsWith("Could not return the window to idle"));
}

// A call before the record loop fails: the pass ends there.
struct SetupCase {
  const char* name;
  std::function<void(Rig&)> plan;
  const char* warning;  // its beginning
  bool busy;            // the window went busy and must be idle again
  std::vector<std::string> output_files_left;
};

class RepairSetupFailureTest : public ::testing::TestWithParam<SetupCase> {};

TEST_P(RepairSetupFailureTest, WarnsAndRemovesWhatItMade) {
  const SetupCase& c = GetParam();
  Rig s({r1, r2});
  c.plan(s);
  EXPECT_EQ(s.Run(), Outcome::kFailed);
  ASSERT_EQ(s.host.warnings.size(), 1u);
  EXPECT_THAT(s.host.warnings[0], StartsWith(c.warning));
  EXPECT_THAT(s.host.warnings[0], HasSubstr("injected failure"));
  if (c.busy) {
    EXPECT_EQ(s.host.events.back(), "LeaveBusy");
  } else {
    EXPECT_THAT(s.host.events, Not(Contains("LeaveBusy")));
  }
  std::vector<std::string> left;
  for (const std::string& file : kOutFiles) {
    if (s.disk.Exists(file)) left.push_back(file);
  }
  EXPECT_EQ(left, c.output_files_left);
  EXPECT_THAT(s.host.Lines(), Not(Contains("*** Processing Complete ***")));
  s.ExpectSourceUnchanged(/*deleted_marks=*/false);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RepairSetupFailureTest,
    ::testing::Values(
        SetupCase{"SourceLookupFails",
                  [](Rig& s) { s.host.plan.FailCall("FileExists", 1); },
                  "Could not look for '/d/t.kxt': ",
                  false,
                  {}},
        SetupCase{"EnterBusyFails",
                  [](Rig& s) { s.host.plan.FailCall("EnterBusy", 1); },
                  "Could not enter the busy state: ",
                  true,
                  {}},
        SetupCase{"SourceOpenFails",
                  [](Rig& s) { s.tables.plan(0).FailCall("Open", 1); },
                  "Could not open '/d/t.kxt': ",
                  true,
                  {}},
        SetupCase{
            "OldOutputCannotBeDeleted",
            [](Rig& s) {
              s.disk.AddTable(kOut, {r1});
              s.host.answer_yes = true;
              s.host.plan.FailCall("DeleteFile", 2);
            },
            "Could not delete '/d/t_REPAIRED.kxd': ",
            true,
            // The old files are not this pass's to remove.
            {"/d/t_REPAIRED.kxd", "/d/t_REPAIRED.kxi", "/d/t_REPAIRED.kxa"}},
        SetupCase{"CopyFails",
                  [](Rig& s) { s.host.plan.FailCall("CopyFile", 1); },
                  "Could not copy '/d/t.kxt' to '/d/t_REPAIRED.kxt': ",
                  true,
                  {}},
        SetupCase{"OutputOpenFails",
                  [](Rig& s) { s.tables.plan(1).FailCall("Open", 1); },
                  "Could not open the output table '/d/t_REPAIRED.kxt': ",
                  true,
                  {}},
        SetupCase{"HeaderLineFails",
                  [](Rig& s) { s.host.plan.FailCall("AddResult", 1); },
                  "Could not write the results log: ",
                  true,
                  {}},
        SetupCase{"MadeFilesCannotBeRemoved",
                  [](Rig& s) {
                    s.tables.plan(1).FailCall("Open", 1);
                    s.host.plan.FailAlways("DeleteFile");
                  },
                  "Could not open the output table '/d/t_REPAIRED.kxt': ",
                  true,
                  {"/d/t_REPAIRED.kxt"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RepairSetupFailure, UnremovableFilesAreNamedInTheWarning) {
  Rig s({r1});
  s.tables.plan(1).FailCall("Open", 1);
  s.host.plan.FailAlways("DeleteFile");
  EXPECT_EQ(s.Run(), Outcome::kFailed);
  ASSERT_EQ(s.host.warnings.size(), 1u);
  EXPECT_THAT(s.host.warnings[0],
              HasSubstr("Could not remove '/d/t_REPAIRED.kxt'"));
}

}  // namespace
