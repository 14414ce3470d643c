// The per-record note: the check and the repair tell a report that wants it
// about every record they classify, in order; a report that does not want it
// is asked once and told nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/operations.h"
#include "core/stamp.h"
#include "tests/core/support/fakes.h"
#include "tests/core/support/repair_rig.h"

namespace {

using ::kxcheck::Bit;
using ::kxcheck::Outcome;
using ::kxcheck::RecordClass;
using ::kxcheck::StampTest;
using ::kxcheck::Step;
using ::kxtest::FailAt;
using ::kxtest::FakeRecord;
using ::kxtest::kPath;
using ::kxtest::Noted;
using ::kxtest::Rec;

constexpr RecordClass kNull = RecordClass::kNull;
constexpr RecordClass kDeleted = RecordClass::kDeleted;
constexpr RecordClass kCorrupted = RecordClass::kCorrupted;
constexpr RecordClass kDuplicate = RecordClass::kDuplicate;
constexpr RecordClass kExamined = RecordClass::kExamined;

// 1 good, 2 a copy of 1, 3 null, 4 deleted, 5 wrong separators in the bytes
// and the fields, 6 a bad month, 7 earlier than 6 (and than what the repair
// writes for 6).
const std::vector<FakeRecord> kRecords = {
    Rec("2021-01-01 00:00:01", 1),
    Rec("2021-01-01 00:00:01", 1),
    {kxtest::NullRecord(), false},
    Rec("2021-01-01 00:00:04", 4, /*deleted=*/true),
    Rec("2021/01/01 00.00.05", 5),
    Rec("2021-13-01 00:00:06", 6),
    Rec("2020-01-01 00:00:07", 7),
};

struct NoteCase {
  const char* name;
  bool repair = false;
  bool wants = true;
  bool skip_deleted = true;
  bool skip_duplicates = true;
  bool skip_corrupted = false;
  std::vector<FailAt> failures;
  std::vector<Noted> notes;
};

class RecordNotesTest : public ::testing::TestWithParam<NoteCase> {};

TEST_P(RecordNotesTest, EveryClassifiedRecordIsNoted) {
  const NoteCase& c = GetParam();
  kxtest::RepairRig rig(kRecords);
  rig.host.want_notes = c.wants;
  rig.host.skip_deleted = c.skip_deleted;
  rig.host.skip_duplicates = c.skip_duplicates;
  rig.host.skip_corrupted = c.skip_corrupted;
  for (const FailAt& failure : c.failures) rig.plan.Fail(failure);
  const Outcome outcome =
      c.repair ? rig.Run()
               : kxcheck::CheckTable(kPath, rig.host, rig.tables, &rig.plan);
  EXPECT_EQ(outcome,
            c.failures.empty() ? Outcome::kCompleted : Outcome::kFailed);
  EXPECT_THAT(rig.host.notes, ::testing::ElementsAreArray(c.notes));
  EXPECT_EQ(rig.host.Calls("WantsRecordNotes"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, RecordNotesTest,
    ::testing::Values(
        NoteCase{.name = "Check",
                 .notes = {{1, kExamined, false, "2021-01-01 00:00:01", 0},
                           {2, kDuplicate},
                           {3, kNull},
                           {4, kDeleted},
                           {5, kCorrupted},
                           {6, kExamined, false, "2021-13-01 00:00:06",
                            Bit(StampTest::kMonth)},
                           {7, kExamined, false, "2020-01-01 00:00:07",
                            Bit(StampTest::kOrder)}}},
        NoteCase{.name = "NoneUnlessWanted", .wants = false},
        NoteCase{.name = "RepairLeavesOutWhatItSkips",
                 .repair = true,
                 .notes = {{1, kExamined, false, "2021-01-01 00:00:01", 0},
                           {2, kDuplicate, true},
                           {3, kNull, true},
                           {4, kDeleted, true},
                           {5, kExamined, false, "2021/01/01 00.00.05",
                            Bit(StampTest::kSeparators)},
                           {6, kExamined, false, "2021-13-01 00:00:06",
                            Bit(StampTest::kMonth)},
                           {7, kExamined, false, "2020-01-01 00:00:07",
                            Bit(StampTest::kOrder)}}},
        NoteCase{.name = "RepairWithOtherOptions",
                 .repair = true,
                 .skip_deleted = false,
                 .skip_duplicates = false,
                 .skip_corrupted = true,
                 .notes = {{1, kExamined, false, "2021-01-01 00:00:01", 0},
                           {2, kExamined, false, "2021-01-01 00:00:01", 0},
                           {3, kNull, true},
                           {4, kExamined, false, "2021-01-01 00:00:04", 0},
                           {5, kCorrupted, true},
                           {6, kExamined, false, "2021-13-01 00:00:06",
                            Bit(StampTest::kMonth)},
                           {7, kExamined, false, "2020-01-01 00:00:07",
                            Bit(StampTest::kOrder)}}},
        // A record that could not be appended is left out too; one that
        // could not be read was not classified, and ends the pass.
        NoteCase{.name = "RepairRecordsThatFailed",
                 .repair = true,
                 .failures = {{.step = Step::kAppend, .record = 1},
                              {.step = Step::kPositioning, .record = 6}},
                 .notes = {{1, kExamined, true, "2021-01-01 00:00:01", 0},
                           {2, kDuplicate, true},
                           {3, kNull, true},
                           {4, kDeleted, true},
                           {5, kExamined, false, "2021/01/01 00.00.05",
                            Bit(StampTest::kSeparators)}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
