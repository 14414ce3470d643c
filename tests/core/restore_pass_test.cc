// The repair pass with the restoring rule against the in-memory fakes: which
// stamps the output gets, the report's lines and data in table order while
// records wait for the rule, failures among waiting records, and the spread
// the current rule tells about.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/operations.h"
#include "core/stamp_restore.h"
#include "core/stamp_time.h"
#include "tests/core/support/fakes.h"
#include "tests/core/support/repair_rig.h"

namespace {

using ::kxcheck::Outcome;
using ::kxcheck::RecordClass;
using ::kxcheck::RepairRule;
using ::kxcheck::Spread;
using ::kxcheck::StampReason;
using ::kxcheck::Step;
using ::kxtest::FakeRecord;
using ::kxtest::kOut;
using ::kxtest::Rec;
using ::kxtest::SetStamp;
using ::kxtest::Severe;
using ::kxtest::WithStamp;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// The true stamp of record n of a logger writing every 10 seconds.
std::string S(int n) {
  char stamp[20];
  kxcheck::WriteStampTime(
      kxcheck::DaysFromCivil(2021, 3, 1) * 86400 + 10 * int64_t{n}, stamp);
  return std::string(stamp, 19);
}

// Records 1 to 40 of the logger, with one stamp of every kind the rule
// replaces, and a deleted and a null record around a damaged one.
std::vector<FakeRecord> DamagedLogger() {
  std::vector<FakeRecord> records;
  for (int n = 1; n <= 40; ++n) records.push_back(Rec(S(n), n));
  auto put = [&](int n, const std::string& stamp) {
    records[n - 1] = Rec(stamp, n);
  };
  put(20, "2021-06-01 00:00:00");  // far above the records after it
  put(23, "2021-03-01 00:03:53");  // between its neighbours, off the grid
  put(25, "2021-02-01 00:00:00");  // below the stamp before it
  put(28, "2021-03-01 25:04:40");  // hour 25
  put(31, "2021-02-30 00:00:00");  // no such day
  put(34, "2021/03/01 00.05.40");  // separators
  records[36 - 1].deleted = true;
  put(37, "2021-03-01 00:06:61");  // second 61
  records[38 - 1] = {kxtest::NullRecord(), false};
  return records;
}

class RestorePassTest : public ::testing::Test, public kxtest::RepairRig {
 protected:
  RestorePassTest() { options.rule = RepairRule::kRestoring; }
  using RepairRig::Run;

  // The source is only read, by the restoring rule too.
  void TearDown() override {
    if (!source.empty()) ExpectSourceUnchanged(/*deleted_marks=*/true);
  }

  // The log lines between the header and the "Skipped " lines.
  std::vector<std::string> RecordLines() {
    std::vector<std::string> lines = host.Lines();
    std::vector<std::string> body;
    for (size_t i = 2; i < lines.size(); ++i) {
      if (lines[i].rfind("Skipped ", 0) == 0) break;
      body.push_back(lines[i]);
    }
    return body;
  }
};

TEST_F(RestorePassTest, RestoresFromKeptNeighboursAndSaysWhy) {
  Source(DamagedLogger());
  host.want_notes = true;
  ASSERT_EQ(Run(), Outcome::kCompleted);

  // Every examined record is written with its true stamp; a stamp that was
  // kept is written byte for byte as read.
  std::vector<std::string> expected;
  for (int n = 1; n <= 40; ++n) {
    if (n == 36 || n == 38) continue;
    expected.push_back(WithStamp(source[n - 1], S(n)));
  }
  EXPECT_EQ(Output(), expected);

  // The current rule's tests against the stamp written before; a stamp
  // that is kept has no finding but wrong separators.
  EXPECT_THAT(
      RecordLines(),
      ElementsAre(
          "Rec: 20- Date set to --> " + S(20),
          "Rec: 23- Date set to --> " + S(23),
          "Rec: 25 - 2021-02-01 00:00:00 Date is out of sequence with " + S(24),
          "Rec: 25- Date set to --> " + S(25),
          "Rec: 28 - 2021-03-01 25:04:40 --> Hour is invalid!",
          "Rec: 28- Date set to --> " + S(28),
          "Rec: 31 - 2021-02-30 00:00:00 Date is out of sequence with " + S(30),
          "Rec: 31- Date set to --> " + S(31),
          "Rec: 34 - 2021/03/01 00.05.40 --> Separator(s) is invalid!",
          "Rec: 34- Date set to --> " + S(34),
          "Rec: 37 - 2021-03-01 00:06:61 --> Second is invalid!",
          "Rec: 37- Date set to --> " + S(37)));
  EXPECT_THAT(
      host.stamps_set,
      ElementsAre(
          SetStamp{20, S(20), "2021-06-01 00:00:00", StampReason::kSpike},
          SetStamp{23, S(23), "2021-03-01 00:03:53", StampReason::kOffCadence},
          SetStamp{25, S(25), "2021-02-01 00:00:00", StampReason::kOutOfOrder},
          SetStamp{28, S(28), "2021-03-01 25:04:40", StampReason::kFailedTest},
          SetStamp{31, S(31), "2021-02-30 00:00:00",
                   StampReason::kNotARealDate},
          SetStamp{34, S(34), "2021/03/01 00.05.40", StampReason::kSeparators},
          SetStamp{37, S(37), "2021-03-01 00:06:61",
                   StampReason::kFailedTest}));
  EXPECT_THAT(host.spreads, IsEmpty());

  // Every record noted once, in table order, though the examined ones
  // waited for the rule and the left-out ones did not.
  ASSERT_EQ(host.notes.size(), 40u);
  for (int n = 1; n <= 40; ++n) {
    const kxtest::Noted& note = host.notes[n - 1];
    EXPECT_EQ(note.record, n);
    EXPECT_EQ(note.kind, n == 36   ? RecordClass::kDeleted
                         : n == 38 ? RecordClass::kNull
                                   : RecordClass::kExamined)
        << n;
    EXPECT_EQ(note.left_out, n == 36 || n == 38) << n;
  }
  EXPECT_EQ(host.notes[25 - 1].stamp, "2021-02-01 00:00:00");
  EXPECT_EQ(host.notes[25 - 1].failed_tests,
            kxcheck::Bit(kxcheck::StampTest::kOrder));
}

// A table far longer than the rule's look-ahead: records reach the output
// while the pass goes on, never more than kMaxPending behind, and the notes
// of a long run of deleted records still come in order.
TEST_F(RestorePassTest, WritesAsItGoesWithABoundedLookAhead) {
  std::vector<FakeRecord> records;
  for (int n = 1; n <= 6000; ++n) {
    records.push_back(Rec(S(n), n, /*deleted=*/n > 3000 && n <= 4000));
  }
  records[4500 - 1] = Rec("1989-01-01 00:00:00", 4500);
  Source(records);
  host.want_notes = true;
  int64_t largest_lag = 0;
  host.on_pump = [&](int64_t pump) {
    const int64_t examined =
        pump <= 3000 ? pump : std::max<int64_t>(pump - 1000, 3000);
    // The output is written under its staged name until it is whole.
    const int64_t written = static_cast<int64_t>(
        disk.Table("/d/.staged-t_REPAIRED.kxt")->records.size());
    largest_lag = std::max(largest_lag, examined - written);
  };
  ASSERT_EQ(Run(), Outcome::kCompleted);
  EXPECT_LE(largest_lag,
            static_cast<int64_t>(kxcheck::StampRestorer::kMaxPending));
  EXPECT_GT(largest_lag, 0);
  EXPECT_EQ(Output().size(), 5000u);
  EXPECT_EQ(Output()[4500 - 1000 - 1], WithStamp(records[4500 - 1], S(4500)));
  ASSERT_EQ(host.notes.size(), 6000u);
  for (size_t i = 0; i < host.notes.size(); ++i) {
    ASSERT_EQ(host.notes[i].record, static_cast<int64_t>(i) + 1);
  }
  EXPECT_THAT(host.stamps_set,
              ElementsAre(SetStamp{4500, S(4500), "1989-01-01 00:00:00",
                                   StampReason::kFailedTest}));
}

// A failure met while a waiting record is written belongs to that record:
// its severe-error line follows its own lines, before the next record's.
// A record that cannot be positioned gets its line in table order too, and
// ends the loop.
TEST_F(RestorePassTest, FailuresAreReportedAtTheirRecordInOrder) {
  struct Case {
    const char* name;
    kxtest::FailAt failure;
    std::vector<std::string> lines_from_20;  // up to record 25's first line
  };
  const Case cases[] = {
      {.name = "append of a restored record",
       .failure = {.step = Step::kAppend, .record = 23},
       .lines_from_20 = {"Rec: 20- Date set to --> " + S(20),
                         "Rec: 23- Date set to --> " + S(23), Severe(23),
                         "Rec: 25 - 2021-02-01 00:00:00 Date is out of "
                         "sequence with " +
                             S(24)}},
      // A record that cannot be read ends the loop: the records waiting
      // before it get their lines first, decided from what was read, and
      // the log ends with its line.
      {.name = "positioning while records wait",
       .failure = {.step = Step::kPositioning, .record = 21},
       .lines_from_20 = {"Rec: 20- Date set to --> " + S(19), Severe(21)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::RepairRig rig(DamagedLogger());
    rig.options.rule = RepairRule::kRestoring;
    rig.plan.Fail(c.failure);
    EXPECT_EQ(rig.Run(), Outcome::kFailed);
    const std::vector<std::string> lines = rig.host.Lines();
    auto first = std::find(lines.begin(), lines.end(), c.lines_from_20[0]);
    ASSERT_NE(first, lines.end());
    EXPECT_EQ(std::vector<std::string>(first, first + c.lines_from_20.size()),
              c.lines_from_20);
    EXPECT_FALSE(rig.AnyOutputFile());
    ASSERT_EQ(rig.host.warnings.size(), 1u);
  }
}

TEST_F(RestorePassTest, AnAgreedReplaceIsNotAskedAgain) {
  Source({Rec(S(1), 1)});
  disk.AddTable(kOut, {Rec("1999-01-01 00:00:00", 9)});
  options.replace_agreed = true;
  host.answer_yes = false;
  EXPECT_EQ(Run(), Outcome::kCompleted);
  EXPECT_EQ(host.Calls("AskYesNo"), 0);
  EXPECT_EQ(Output(), std::vector<std::string>{source[0].bytes});
}

// The current rule gives a record that fails a test the stamp written
// before it: record 2's stamp, far ahead, goes to every record after it
// until one passes it. Told as data only past 100 such records.
TEST(SpreadTest, ToldPastAHundredFollowingRecords) {
  const std::string ahead = "2025-01-01 00:00:00";
  struct Case {
    const char* name;
    int following;      // records after record 2 below its stamp
    bool ends_passing;  // a record past `ahead` ends the table
    int deleted = 0;    // this record among the following is deleted
    RepairRule rule = RepairRule::kCurrent;
    std::vector<Spread> spreads;
  };
  const Case cases[] = {
      {.name = "100", .following = 100, .ends_passing = true},
      {.name = "101",
       .following = 101,
       .ends_passing = true,
       .spreads = {{2, ahead, 3, 103, 101}}},
      {.name = "101 to the last record",
       .following = 101,
       .ends_passing = false,
       .spreads = {{2, ahead, 3, 103, 101}}},
      {.name = "a deleted record inside is not counted",
       .following = 102,
       .ends_passing = true,
       .deleted = 50,
       .spreads = {{2, ahead, 3, 104, 101}}},
      {.name = "101 deleted leaves 100",
       .following = 101,
       .ends_passing = true,
       .deleted = 50},
      {.name = "the restoring rule spreads nothing",
       .following = 101,
       .ends_passing = true,
       .rule = RepairRule::kRestoring},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<FakeRecord> records = {Rec(S(1), 1), Rec(ahead, 2)};
    for (int i = 0; i < c.following; ++i) {
      const int n = 3 + i;
      records.push_back(Rec(S(n), n, /*deleted=*/n == c.deleted));
    }
    if (c.ends_passing) records.push_back(Rec("2025-06-01 00:00:00", 0));
    kxtest::RepairRig rig(records);
    rig.options.rule = c.rule;
    ASSERT_EQ(rig.Run(), Outcome::kCompleted);
    EXPECT_EQ(rig.host.spreads, c.spreads);
    for (const std::string& line : rig.host.Lines()) {
      EXPECT_EQ(line.find("took the stamp"), std::string::npos);
    }
  }
}

TEST(CurrentRuleTest, TellsWhyEachStampWasSet) {
  kxtest::RepairRig rig({Rec(S(1), 1), Rec(S(0), 2),
                         Rec("2021-13-01 00:00:30", 3),
                         Rec("2021/03/01 00.00.40", 4)});
  ASSERT_EQ(rig.Run(), Outcome::kCompleted);
  EXPECT_THAT(
      rig.host.stamps_set,
      ElementsAre(
          SetStamp{2, S(1), S(0), StampReason::kOutOfOrder},
          SetStamp{3, S(1), "2021-13-01 00:00:30", StampReason::kFailedTest},
          SetStamp{4, S(4), "2021/03/01 00.00.40", StampReason::kSeparators}));
}

}  // namespace
