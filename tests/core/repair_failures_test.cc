// The repair pass meeting failures: before its record loop (the pass ends,
// the user is warned, the output files it made are removed), a record or a
// mark of the source that cannot be read (the loop ends and no output is
// written), any other failure inside the loop (only the failing action is
// abandoned and the record is reported at itself), and in the summary (a
// warning naming the output).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/operations.h"
#include "tests/core/support/fakes.h"
#include "tests/core/support/repair_rig.h"

namespace {

using ::kxcheck::Outcome;
using ::kxcheck::Phase;
using ::kxcheck::Step;
using ::kxtest::FailAt;
using ::kxtest::FakeRecord;
using ::kxtest::kOut;
using ::kxtest::kOutFiles;
using ::kxtest::kPath;
using ::kxtest::Rec;
using ::kxtest::Severe;
using ::kxtest::WithStamp;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

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
  std::vector<FakeRecord> records = {r1, r2, r3};
  std::vector<FailAt> failures;
  bool skip_deleted = true;
  bool skip_corrupted = false;
  std::vector<std::string> lines;  // per-record lines before the Severe ones
  std::vector<int> severe = {2};   // the records said to meet a Severe error
  // "Skipped " lines of the summary.
  std::vector<std::string> skipped = kDefaultSkipped;
  std::vector<std::string> written;  // the output's records
  // A record could not be appended: the output is removed at the end.
  bool removed = false;
};

class RepairLoopFailureTest : public ::testing::TestWithParam<LoopCase> {};

TEST_P(RepairLoopFailureTest, OnlyTheFailingActionIsAbandoned) {
  const LoopCase& c = GetParam();
  Rig s(c.records);
  for (const FailAt& failure : c.failures) s.plan.Fail(failure);
  s.host.skip_deleted = c.skip_deleted;
  s.host.skip_corrupted = c.skip_corrupted;
  // Ran to its end, but the output may lack something: not plain success.
  EXPECT_EQ(s.Run(), Outcome::kFailed);

  std::vector<std::string> expected = {
      "Filename: " + kPath, "Records:  " + std::to_string(c.records.size())};
  expected.insert(expected.end(), c.lines.begin(), c.lines.end());
  for (int record : c.severe) expected.push_back(Severe(record));
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
              HasSubstr(std::to_string(c.severe.size()) + " record(s)"));
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

const std::string kSeparatorFinding =
    "Rec: 2 - 2021/01/01 00.00.02 --> Separator(s) is invalid!";

INSTANTIATE_TEST_SUITE_P(
    Actions, RepairLoopFailureTest,
    ::testing::Values(
        LoopCase{.name = "CharacterViewFails",
                 .failures = {{.step = Step::kReadRecord, .record = 2}},
                 .written = {r1.bytes, r2.bytes, r3.bytes}},
        LoopCase{.name = "CharacterViewFailsAndThePreviousViewDecides",
                 .records = {r1, r2_corrupted, r3},
                 .failures = {{.step = Step::kReadRecord, .record = 2}},
                 .skip_corrupted = true,
                 .lines = {kSeparatorFinding,
                           "Rec: 2- Date set to --> 2021-01-01 00:00:02"},
                 .skipped = {"Skipped 0 Deleted records",
                             "Skipped 0 Duplicate records",
                             "Skipped 0 Corrupted records"},
                 .written = {r1.bytes,
                             WithStamp(r2_corrupted, "2021-01-01 00:00:02"),
                             r3.bytes}},
        LoopCase{
            .name = "NullTestCannotReadTheBuffer",
            .failures = {{.step = Step::kNullTest, .record = 2}},
            .skipped = {"Skipped 0 Deleted records", "Skipped 1 Null records",
                        "Skipped 0 Duplicate records"},
            .written = {r1.bytes, r3.bytes}},
        LoopCase{.name = "DeletedOptionUnreadableCountsAsSet",
                 .records = {r1, r2_deleted, r3},
                 .failures = {{.step = Step::kDeletedOption, .record = 2}},
                 .skip_deleted = false,
                 .skipped = {"Skipped 0 Duplicate records"},
                 .written = {r1.bytes, r3.bytes}},
        LoopCase{.name = "DuplicateTestCannotReadTheBuffer",
                 .failures = {{.step = Step::kDuplicateTest, .record = 2}},
                 .skipped = {"Skipped 0 Deleted records",
                             "Skipped 1 Duplicate records"},
                 .written = {r1.bytes, r3.bytes}},
        LoopCase{.name = "StampCannotBeBuiltAndTheLastWrittenIsTested",
                 .records = {r1, r2_bad_hour, r3},
                 .failures = {{.step = Step::kReadStamp, .record = 2}},
                 .written = {r1.bytes, r2_bad_hour.bytes, r3.bytes}},
        LoopCase{.name = "ClockUnreadableFailsTheYearTest",
                 .failures = {{.step = Step::kClock, .record = 2}},
                 .lines = {"Rec: 2 - 2021-01-01 00:00:02 --> Year is invalid!",
                           "Rec: 2- Date set to --> 2021-01-01 00:00:01"},
                 .written = {r1.bytes, WithStamp(r2, "2021-01-01 00:00:01"),
                             r3.bytes}},
        LoopCase{.name = "FindingLineLost",
                 .records = {r1, r2_bad_month, r3},
                 .failures = {{.step = Step::kFinding, .record = 2}},
                 .lines = {"Rec: 2- Date set to --> 2021-01-01 00:00:01"},
                 .written = {r1.bytes,
                             WithStamp(r2_bad_month, "2021-01-01 00:00:01"),
                             r3.bytes}},
        LoopCase{.name = "SeparatorRepairCannotPutTheDate",
                 .records = {r1, r2_corrupted, r3},
                 .failures = {{.step = Step::kPutDate, .record = 2}},
                 .lines = {kSeparatorFinding,
                           "Rec: 2- Date set to --> 2021-01-01 00:00:02"},
                 .written = {r1.bytes,
                             WithStamp(r2_corrupted, "2021/01/01 00:00:02"),
                             r3.bytes}},
        LoopCase{.name = "OutputBufferCannotBeSetSoTheRecordIsLeftOut",
                 .failures = {{.step = Step::kOutputBuffer, .record = 2}},
                 .written = {r1.bytes, r3.bytes}},
        LoopCase{.name = "OutputFieldCannotBePut",
                 .records = {r1, r2_bad_hour, r3},
                 .failures = {{.step = Step::kPutTime, .record = 2}},
                 .lines = {"Rec: 2 - 2021-01-01 25:00:02 --> Hour is invalid!",
                           "Rec: 2- Date set to --> 2021-01-01 00:00:01"},
                 .written = {r1.bytes, r3.bytes}},
        LoopCase{.name = "AppendFailsAndTheRecordIsLost",
                 .failures = {{.step = Step::kAppend, .record = 2}},
                 .written = {r1.bytes, r3.bytes},
                 .removed = true},
        LoopCase{.name = "PreviousRecordUnreadableSoTheNextIsNoDuplicate",
                 .records = {r1, r2, r2},
                 .failures = {{.step = Step::kKeepRecord, .record = 2}},
                 .written = {r1.bytes, r2.bytes, r2.bytes}},
        LoopCase{.name = "PumpFails",
                 .failures = {{.step = Step::kPumpEvents, .record = 2}},
                 .written = {r1.bytes, r2.bytes, r3.bytes}},
        LoopCase{.name = "LastRecordIsReportedBeforeTheSummary",
                 .failures = {{.step = Step::kAppend, .record = 3}},
                 .severe = {3},
                 .written = {r1.bytes, r2.bytes},
                 .removed = true},
        LoopCase{.name = "SeveralFailuresInOneRecordGiveOneLine",
                 .records = {r1, r2_bad_month, r3},
                 .failures = {{.step = Step::kPutDate, .record = 2},
                              {.step = Step::kPutTime, .record = 2},
                              {.step = Step::kPumpEvents, .record = 2}},
                 .lines = {"Rec: 2 - 2021-13-01 00:00:02 --> Month is invalid!",
                           "Rec: 2- Date set to --> 2021-01-01 00:00:01"},
                 .written = {r1.bytes, r3.bytes}},
        LoopCase{.name = "FailuresInTwoRecords",
                 .failures = {{.step = Step::kOutputBuffer, .record = 1},
                              {.step = Step::kAppend, .record = 3}},
                 .severe = {1, 3},
                 .written = {r2.bytes},
                 .removed = true}),
    [](const auto& info) { return std::string(info.param.name); });

// A record or a deletion mark of the source cannot be read: the loop ends
// at that record, no summary follows, the output is removed and an earlier
// output stays as it was.
struct ReadCase {
  const char* name;
  FailAt failure;
  bool skip_deleted = true;
  bool earlier_output = false;
  int record;  // the one that could not be read; its line follows the header
};

class RepairReadFailureTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(RepairReadFailureTest, NoRepairedTableIsWritten) {
  const ReadCase& c = GetParam();
  const FakeRecord old = Rec("1999-01-01 00:00:00", 9);
  Rig s({r1, r2_deleted, r3});
  if (c.earlier_output) {
    s.disk.AddTable(kOut, {old});
    s.host.answer_yes = true;
  }
  s.host.skip_deleted = c.skip_deleted;
  s.plan.Fail(c.failure);
  EXPECT_EQ(s.Run(), Outcome::kFailed);

  EXPECT_THAT(s.host.Lines(), ElementsAre("Filename: " + kPath, "Records:  3",
                                          Severe(c.record)));
  ASSERT_EQ(s.host.warnings.size(), 1u);
  EXPECT_THAT(s.host.warnings[0],
              StartsWith("No repaired table was written: record " +
                         std::to_string(c.record) + " of '" + kPath +
                         "' could not be read (injected failure"));
  EXPECT_EQ(s.host.events.back(), "LeaveBusy");
  EXPECT_FALSE(s.AnyStagedFile());
  if (c.earlier_output) {
    EXPECT_THAT(s.host.warnings[0],
                HasSubstr("the earlier '" + kOut + "' is as it was."));
    EXPECT_EQ(s.Output(), std::vector<std::string>{old.bytes});
  } else {
    EXPECT_FALSE(s.AnyOutputFile());
  }
  s.ExpectSourceUnchanged(/*deleted_marks=*/true);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, RepairReadFailureTest,
    ::testing::Values(
        ReadCase{.name = "FirstRecord",
                 .failure = {.step = Step::kPositioning, .record = 1},
                 .record = 1},
        ReadCase{.name = "LastRecordWithAnEarlierOutput",
                 .failure = {.step = Step::kPositioning, .record = 3},
                 .earlier_output = true,
                 .record = 3},
        ReadCase{.name = "DeletionMark",
                 .failure = {.step = Step::kDeletionMark, .record = 2},
                 .record = 2},
        ReadCase{.name = "DeletionMarkWithAnEarlierOutput",
                 .failure = {.step = Step::kDeletionMark, .record = 1},
                 .earlier_output = true,
                 .record = 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Without the deleted option no mark is read, so none can fail.
TEST(RepairReadFailure, MarksAreReadOnlyForTheDeletedOption) {
  Rig s({r1, r2_deleted, r3});
  s.host.skip_deleted = false;
  s.plan.Fail({.step = Step::kDeletionMark});
  EXPECT_EQ(s.Run(), Outcome::kCompleted);
  EXPECT_EQ(s.Output(),
            (std::vector<std::string>{r1.bytes, r2_deleted.bytes, r3.bytes}));
}

TEST(RepairLoopFailure, ProgressLabelFailureKeepsTheRecord) {
  std::vector<FakeRecord> records;
  for (int i = 0; i < 1000; ++i) {
    records.push_back(Rec("2021-01-01 00:00:00", i));
  }
  Rig s(records);
  s.plan.Fail({.step = Step::kShowProgress, .record = 1000});
  EXPECT_EQ(s.Run(), Outcome::kFailed);
  EXPECT_EQ(s.Output().size(), 1000u);
  std::vector<std::string> lines = s.host.Lines();
  EXPECT_EQ(lines[2], Severe(1000));
  EXPECT_EQ(lines[3], "Skipped 0 Deleted records");
}

// A call of the summary or of the closing fails.
struct SummaryCase {
  const char* name;
  FailAt failure;
  std::vector<std::string> lines;  // the log after the header
  const char* warning;
};

class RepairSummaryFailureTest : public ::testing::TestWithParam<SummaryCase> {
};

TEST_P(RepairSummaryFailureTest, WarnsNamingTheOutput) {
  const SummaryCase& c = GetParam();
  Rig s({r1, r2, r3});
  s.plan.Fail(c.failure);
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
        SummaryCase{.name = "SourceCannotBeClosed",
                    .failure = {.step = Step::kCloseSource},
                    .lines = kFullSummary,
                    .warning = "Could not close the source table"},
        SummaryCase{
            .name = "LogLengthUnreadableGivesTheNotice",
            .failure = {.step = Step::kMeasureLog},
            .lines = {">>> Output Truncated <<<", "Skipped 0 Deleted records",
                      "Skipped 0 Duplicate records", "", "Output -> " + kOut,
                      "Records Written: 3", "", "*** Processing Complete ***"},
            .warning = "Could not measure the results log"},
        SummaryCase{
            .name = "OptionUnreadableGivesItsLine",
            .failure = {.step = Step::kCorruptedOption, .phase = Phase::kAfter},
            .lines = {"Skipped 0 Deleted records",
                      "Skipped 0 Duplicate records",
                      "Skipped 0 Corrupted records", "", "Output -> " + kOut,
                      "Records Written: 3", "", "*** Processing Complete ***"},
            .warning = "Could not read a skip option"},
        SummaryCase{
            .name = "OutputCountUnreadable",
            .failure = {.step = Step::kCountWritten},
            .lines = {"Skipped 0 Deleted records",
                      "Skipped 0 Duplicate records", "", "Output -> " + kOut,
                      "", "*** Processing Complete ***"},
            .warning = "Could not count the records written"},
        SummaryCase{
            .name = "ClosingLinesLost",
            .failure = {.step = Step::kClosingLines},
            .lines = {"Skipped 0 Deleted records",
                      "Skipped 0 Duplicate records", "Records Written: 3"},
            .warning = "Could not write the results log"}),
    [](const auto& info) { return std::string(info.param.name); });

// An output that cannot be committed or put in place is removed; an
// earlier output stays as it was.
TEST(RepairSummaryFailure, OutputThatCannotBeFinishedIsRemoved) {
  const struct {
    Step step;
    bool earlier_output;
    const char* warning;
  } cases[] = {
      {Step::kCloseOutput, false, "could not be committed (injected failure"},
      {Step::kCloseOutput, true, "could not be committed (injected failure"},
      {Step::kPublishOutput, true,
       "could not be put in place (injected failure"},
  };
  const FakeRecord old = Rec("1999-01-01 00:00:00", 9);
  for (const auto& c : cases) {
    SCOPED_TRACE(kxcheck::RepairWords(c.step, kPath));
    Rig s({r1, r2, r3});
    if (c.earlier_output) {
      s.disk.AddTable(kOut, {old});
      s.host.answer_yes = true;
    }
    s.plan.Fail({.step = c.step});
    EXPECT_EQ(s.Run(), Outcome::kFailed);
    const std::vector<std::string> lines = s.host.Lines();
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 2, lines.end()),
                ElementsAreArray(kFullSummary));
    ASSERT_EQ(s.host.warnings.size(), 1u);
    EXPECT_THAT(s.host.warnings[0],
                StartsWith("No repaired table was written: '" + kOut + "' " +
                           c.warning));
    EXPECT_FALSE(s.AnyStagedFile());
    if (c.earlier_output) {
      EXPECT_EQ(s.Output(), std::vector<std::string>{old.bytes});
    } else {
      EXPECT_FALSE(s.AnyOutputFile());
    }
    s.ExpectSourceUnchanged(/*deleted_marks=*/false);
  }
}

TEST(RepairSummaryFailure, LeavingBusyFails) {
  Rig s({r1});
  s.plan.Fail({.step = Step::kLeaveBusy});
  EXPECT_EQ(s.Run(), Outcome::kFailed);
  ASSERT_EQ(s.host.warnings.size(), 1u);
  EXPECT_THAT(s.host.warnings[0],
              StartsWith("Could not return the window to idle"));
}

// A call before the record loop fails: the pass ends there.
struct SetupCase {
  const char* name;
  std::vector<FailAt> failures;
  bool old_output = false;  // an output of an earlier pass, to be replaced
  const char* warning;      // its beginning
  const char* also = "";    // a part of its rest
  bool busy = true;         // the window went busy and must be idle again
  std::vector<std::string> output_files_left;
};

class RepairSetupFailureTest : public ::testing::TestWithParam<SetupCase> {};

TEST_P(RepairSetupFailureTest, WarnsAndRemovesWhatItMade) {
  const SetupCase& c = GetParam();
  Rig s({r1, r2});
  for (const FailAt& failure : c.failures) s.plan.Fail(failure);
  if (c.old_output) {
    s.disk.AddTable(kOut, {r1});
    s.host.answer_yes = true;
  }
  EXPECT_EQ(s.Run(), Outcome::kFailed);
  ASSERT_EQ(s.host.warnings.size(), 1u);
  EXPECT_THAT(s.host.warnings[0], StartsWith(c.warning));
  EXPECT_THAT(s.host.warnings[0], HasSubstr("injected failure"));
  EXPECT_THAT(s.host.warnings[0], HasSubstr(c.also));
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
        SetupCase{.name = "SourceLookupFails",
                  .failures = {{.step = Step::kLookForSource}},
                  .warning = "Could not look for '/d/t.kxt': ",
                  .busy = false},
        SetupCase{.name = "EnterBusyFails",
                  .failures = {{.step = Step::kEnterBusy}},
                  .warning = "Could not enter the busy state: "},
        SetupCase{.name = "SourceOpenFails",
                  .failures = {{.step = Step::kOpenSource}},
                  .warning = "Could not open '/d/t.kxt': "},
        SetupCase{.name = "EarlierOutputStaysWhenTheOutputCannotBeOpened",
                  .failures = {{.step = Step::kOpenOutput}},
                  .old_output = true,
                  .warning = "Could not open the output table "
                             "'/d/t_REPAIRED.kxt': ",
                  .output_files_left = kOutFiles},
        SetupCase{.name = "EarlierOutputStaysWhenTheLockIsHeld",
                  .failures = {{.step = Step::kLockOutput}},
                  .old_output = true,
                  .warning = "Could not lock '/d/t_REPAIRED.kxt' for writing: ",
                  .output_files_left = kOutFiles},
        SetupCase{
            .name = "CopyFails",
            .failures = {{.step = Step::kCopyDefinition}},
            .warning = "Could not copy '/d/t.kxt' to '/d/t_REPAIRED.kxt': "},
        SetupCase{.name = "OutputOpenFails",
                  .failures = {{.step = Step::kOpenOutput}},
                  .warning = "Could not open the output table "
                             "'/d/t_REPAIRED.kxt': "},
        SetupCase{.name = "HeaderLineFails",
                  .failures = {{.step = Step::kHeaderLines}},
                  .warning = "Could not write the results log: "},
        SetupCase{.name = "MadeFilesCannotBeRemoved",
                  .failures = {{.step = Step::kOpenOutput},
                               {.step = Step::kRemoveOutput}},
                  .warning = "Could not open the output table "
                             "'/d/t_REPAIRED.kxt': ",
                  .also = "Could not remove the unfinished output "
                          "'/d/t_REPAIRED.kxt'"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
