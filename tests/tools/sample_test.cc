// kxtable sample: the series is reproducible, its sound records are valid
// ascending stamps, and its damaged records are seen by the checker's tests
// as the damage they claim to be.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/stamp.h"
#include "core/stamp_time.h"
#include "engine/record_table.h"
#include "tests/tools/support/tool_test_support.h"
#include "tools/kxtable/sample_generator.h"

namespace {

namespace fs = std::filesystem;
using kxcheck::StampTest;
using kxtable::SampleDamage;
using kxtable::SampleGenerator;
using kxtable::SampleOptions;
using kxtest::ReadFile;
using kxtest::Result;

// Future-year damage starts at 2040, so any year up to 2039 serves as "now".
constexpr std::string_view kThisYear = "2026";

// Field 1 and field 2 as the engine reads them, joined into a stamp.
std::set<StampTest> FieldFailures(std::string_view stamp) {
  std::set<StampTest> failed;
  for (StampTest test : kxcheck::kAllStampTests) {
    if (test == StampTest::kOrder) continue;
    if (kxcheck::StampTestFails(test, stamp, "", kThisYear)) {
      failed.insert(test);
    }
  }
  return failed;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// A real calendar moment within the sample's years, written with digits.
bool IsSoundStamp(const std::string& stamp) {
  if (stamp.size() != 19) return false;
  for (int i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) {
    if (stamp[i] < '0' || stamp[i] > '9') return false;
  }
  if (stamp[4] != '-' || stamp[7] != '-' || stamp[10] != ' ' ||
      stamp[13] != ':' || stamp[16] != ':') {
    return false;
  }
  const int year = std::stoi(stamp.substr(0, 4));
  const int month = std::stoi(stamp.substr(5, 2));
  const int day = std::stoi(stamp.substr(8, 2));
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  if (year < kxtable::kSampleFirstYear || year > kxtable::kSampleLastYear ||
      month < 1 || month > 12 || day < 1) {
    return false;
  }
  const int days = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  return day <= days && std::stoi(stamp.substr(11, 2)) < 24 &&
         std::stoi(stamp.substr(14, 2)) < 60 &&
         std::stoi(stamp.substr(17, 2)) < 60;
}

uint64_t Fingerprint(const SampleOptions& options) {
  SampleGenerator generator(options);
  uint64_t hash = 1469598103934665603u;  // FNV-1a
  for (int64_t i = 0; i < options.records; ++i) {
    generator.Next();
    for (unsigned char b : generator.record()) {
      hash = (hash ^ b) * 1099511628211u;
    }
    hash = (hash ^ (generator.deleted() ? 1u : 0u)) * 1099511628211u;
  }
  return hash;
}

TEST(SampleGeneratorTest, SameSeedSameBytesOtherSeedOtherBytes) {
  const SampleOptions base{20000, 1, 0.2};
  EXPECT_EQ(Fingerprint(base), Fingerprint(base));
  EXPECT_NE(Fingerprint(base), Fingerprint({20000, 2, 0.2}));
  EXPECT_NE(Fingerprint(base), Fingerprint({20000, 1, 0.3}));
  EXPECT_NE(Fingerprint({20000, 1, 0.0}), Fingerprint({20000, 2, 0.0}));
}

// Tables made from a seed must stay the same from build to build: any change
// here changes every sample table that scripts and tests rely on.
TEST(SampleGeneratorTest, SeedOneIsPinned) {
  SampleGenerator generator({3, 1, 0.0});
  generator.Next();
  EXPECT_EQ(kxtest::RecordStamp(generator.record()), "2010-05-27 00:26:26");
  EXPECT_EQ(generator.record().substr(17), std::string("TT-101") + "21.52" +
                                               std::string(4, '\0') + "degC" +
                                               "OK" + std::string(2, '\0'));
  EXPECT_EQ(Fingerprint({10000, 1, 0.1}), 5169792855101248734u);
}

TEST(SampleGeneratorTest, WithoutDamageEveryStampIsValidAndAscending) {
  for (uint64_t seed : {1u, 2u, 99u}) {
    SampleGenerator generator({100000, seed, 0.0});
    std::string previous;
    for (int i = 0; i < 100000; ++i) {
      generator.Next();
      ASSERT_EQ(generator.damage(), SampleDamage::kNone);
      ASSERT_EQ(generator.record().size(),
                kxtable::SampleLayout().RecordLength());
      const std::string stamp = kxtest::RecordStamp(generator.record());
      ASSERT_TRUE(IsSoundStamp(stamp)) << i << ": " << stamp;
      ASSERT_GT(stamp, previous) << i;
      previous = stamp;
    }
  }
}

TEST(SampleGeneratorTest, RejectsOptionsOutOfRange) {
  EXPECT_THROW(SampleGenerator({-1, 1, 0.0}), std::invalid_argument);
  EXPECT_THROW(SampleGenerator({int64_t{1} << 31, 1, 0.0}),
               std::invalid_argument);
  EXPECT_THROW(SampleGenerator({10, 1, 1.5}), std::invalid_argument);
  EXPECT_THROW(SampleGenerator({10, 1, -0.1}), std::invalid_argument);
  EXPECT_THROW(SampleGenerator({10, 1, std::nan("")}), std::invalid_argument);
  EXPECT_THROW(SampleGenerator({10, 1, 0.0, 10, 11}), std::invalid_argument);
  EXPECT_THROW(SampleGenerator({10, 1, 0.0, 0, 1}), std::invalid_argument);
  EXPECT_THROW(SampleGenerator({10, 1, 0.0, 86401}), std::invalid_argument);
  EXPECT_THROW(SampleGenerator({200000000, 1, 0.0, 10}),
               std::invalid_argument);  // past 2025
  EXPECT_THROW(SampleGenerator({.records = 10, .block_length = 1}),
               std::invalid_argument);
}

TEST(SampleGeneratorTest, DamageKindsByName) {
  struct Case {
    std::string name;
    bool known;
    SampleDamage kind;
  };
  const std::vector<Case> cases = {
      {"out of order", true, SampleDamage::kOutOfOrder},
      {"Out-Of-Order", true, SampleDamage::kOutOfOrder},
      {"nul_in_stamp", true, SampleDamage::kNulInStamp},
      {"bitflip", true, SampleDamage::kBitFlip},
      {"BLOCK", true, SampleDamage::kBlock},
      {"zerotime", true, SampleDamage::kZeroTime},
      {"none", false, SampleDamage::kNone},
      {"bit flip", false, SampleDamage::kNone},
      {"", false, SampleDamage::kNone},
  };
  for (const Case& c : cases) {
    SampleDamage kind = SampleDamage::kNone;
    EXPECT_EQ(kxtable::SampleDamageNamed(c.name, kind), c.known) << c.name;
    EXPECT_EQ(kind, c.kind) << c.name;
  }
}

int64_t Seconds(const std::string& stamp) {
  int64_t seconds = 0;
  EXPECT_TRUE(kxcheck::ReadStampTime(stamp, 9999, seconds)) << stamp;
  return seconds;
}

// The true stamps of a series at a cadence, with and without jitter.
TEST(SampleGeneratorTest, CadenceAndJitter) {
  struct Case {
    int64_t cadence;
    int64_t jitter;
  };
  for (const Case& c : std::vector<Case>{{10, 0}, {5, 2}, {1, 1}, {3600, 0}}) {
    SampleGenerator generator({.records = 20000,
                               .seed = 3,
                               .cadence = c.cadence,
                               .jitter = c.jitter});
    int64_t previous = 0;
    std::set<int64_t> steps;
    for (int i = 0; i < 20000; ++i) {
      generator.Next();
      char truth[19];
      generator.TrueStamp(truth);
      const std::string stamp(truth, 19);
      ASSERT_EQ(kxtest::RecordStamp(generator.record()), stamp);
      ASSERT_TRUE(IsSoundStamp(stamp)) << stamp;
      const int64_t t = Seconds(stamp);
      if (i > 0) steps.insert(t - previous);
      previous = t;
    }
    SCOPED_TRACE(std::to_string(c.cadence) + " +- " + std::to_string(c.jitter));
    EXPECT_EQ(*steps.begin(), c.cadence - c.jitter);
    EXPECT_EQ(*steps.rbegin(), c.cadence + c.jitter);
    EXPECT_EQ(steps.size(), static_cast<size_t>(2 * c.jitter + 1));
  }
}

// Each kind of storage damage changes the stamp as it says, a damaged block
// is a run of 2 to block_length records, and the share of damaged records is
// the one asked for, blocks included.
TEST(SampleGeneratorTest, StorageDamageIsWhatItClaims) {
  const int kRecords = 200000;
  SampleGenerator generator(
      {.records = kRecords,
       .seed = 8,
       .damage = 0.05,
       .cadence = 10,
       .kinds = {SampleDamage::kBitFlip, SampleDamage::kSmash,
                 SampleDamage::kBlock, SampleDamage::kZeroTime},
       .block_length = 20});
  std::map<SampleDamage, int> made;
  int run = 0;
  std::set<int> runs;
  for (int i = 0; i < kRecords; ++i) {
    generator.Next();
    const SampleDamage damage = generator.damage();
    ++made[damage];
    char truth[19];
    generator.TrueStamp(truth);
    const std::string record(generator.record());
    const std::string stamp = kxtest::RecordStamp(record);
    SCOPED_TRACE("record " + std::to_string(i + 1) + " (" +
                 std::string(kxtable::SampleDamageName(damage)) + ")");
    // The bytes of the date and time that differ from the truth's.
    std::string true_record =
        kxtest::EngineRecord(std::string(truth, 19), "", record.size());
    std::vector<int> differ;
    int bits = 0;
    for (int b = 0; b < 17; ++b) {
      if (record[b] != true_record[b]) {
        differ.push_back(b);
        bits += std::popcount(static_cast<unsigned>(
            static_cast<unsigned char>(record[b] ^ true_record[b])));
      }
    }
    if (damage == SampleDamage::kBlock) {
      ++run;
    } else {
      if (run > 0) runs.insert(run);
      run = 0;
    }
    switch (damage) {
      case SampleDamage::kNone:
        ASSERT_TRUE(differ.empty());
        break;
      case SampleDamage::kBitFlip:
        ASSERT_EQ(bits, 1);
        ASSERT_NE(differ[0], 3);  // never a separator
        ASSERT_NE(differ[0], 6);
        ASSERT_NE(differ[0], 11);
        ASSERT_NE(differ[0], 14);
        break;
      case SampleDamage::kSmash:
        ASSERT_EQ(differ.size(), 1u);
        break;
      case SampleDamage::kZeroTime:
        ASSERT_EQ(stamp.substr(0, 11), std::string(truth, 11));
        ASSERT_EQ(stamp.substr(11), "00:00:00");
        break;
      case SampleDamage::kBlock:
        ASSERT_FALSE(differ.empty());
        break;
      default:
        FAIL() << "a kind not chosen";
    }
  }
  // (Two blocks may follow each other and look like one longer run.)
  EXPECT_EQ(*runs.begin(), 2);
  EXPECT_EQ(runs.count(20), 1u);
  for (SampleDamage kind : {SampleDamage::kBitFlip, SampleDamage::kSmash,
                            SampleDamage::kBlock, SampleDamage::kZeroTime}) {
    EXPECT_GT(made[kind], 100) << kxtable::SampleDamageName(kind);
  }
  EXPECT_NEAR(kRecords - made[SampleDamage::kNone], kRecords * 0.05,
              kRecords * 0.005);
}

// Follows each record through the checker's classification and stamp tests
// and checks that what fails is what the generator says it did.
TEST(SampleGeneratorTest, EachDamageIsSeenAsWhatItClaims) {
  using Tests = std::set<StampTest>;
  // The field tests that fail for a record with one stamp field damaged.
  const std::map<SampleDamage, Tests> kFieldFailures = {
      {SampleDamage::kBadYear, {StampTest::kYear}},
      {SampleDamage::kFutureYear, {StampTest::kYear}},
      {SampleDamage::kBadMonth, {StampTest::kMonth}},
      {SampleDamage::kBadDay, {StampTest::kDay}},
      {SampleDamage::kBadHour, {StampTest::kHour}},
      {SampleDamage::kBadMinute, {StampTest::kMinute}},
      {SampleDamage::kBadSecond, {StampTest::kSecond}},
      {SampleDamage::kOutOfOrder, {}},
      {SampleDamage::kNone, {}},
  };

  const int kRecords = 30000;
  SampleGenerator generator({kRecords, 5, 0.25});
  std::map<SampleDamage, int> made;
  std::map<StampTest, int> failures;
  int nulls = 0, deleted = 0, corrupted = 0, duplicates = 0;
  std::string previous_stamp(kxcheck::kStartStamp);
  std::string previous_record;
  std::string previous_sound;  // last stamp of the undamaged series
  std::string clock_stamp;     // the previous record's, when it shows the clock
  for (int i = 0; i < kRecords; ++i) {
    generator.Next();
    const SampleDamage damage = generator.damage();
    const std::string record(generator.record());
    const std::string stamp = kxtest::RecordStamp(record);
    ++made[damage];
    const std::string clock_before = clock_stamp;
    clock_stamp =
        damage == SampleDamage::kNone || damage == SampleDamage::kDeleted
            ? stamp
            : "";
    SCOPED_TRACE("record " + std::to_string(i + 1) + " (" +
                 std::string(kxtable::SampleDamageName(damage)) + ")");

    // The checker's classification, in its order.
    if (kxcheck::IsCheckNull(record)) {
      ++nulls;
      ASSERT_EQ(damage, SampleDamage::kNull);
      ASSERT_TRUE(kxcheck::IsRepairNull(record));
      continue;
    }
    ASSERT_NE(damage, SampleDamage::kNull);
    if (generator.deleted()) {
      ++deleted;
      ASSERT_TRUE(IsSoundStamp(stamp)) << stamp;
      continue;
    }
    if (!kxcheck::HasSeparatorBytes(record)) {
      ++corrupted;
      ASSERT_TRUE(damage == SampleDamage::kCorrupted ||
                  damage == SampleDamage::kWrongSeparators);
      if (damage == SampleDamage::kWrongSeparators) {
        // Only the separators are wrong: put right, the stamp is sound.
        std::string fixed = stamp;
        for (int at : {4, 7}) {
          ASSERT_TRUE(fixed[at] == '-' || fixed[at] == '/' ||
                      fixed[at] == '.' || fixed[at] == ' ');
          fixed[at] = '-';
        }
        for (int at : {13, 16}) {
          ASSERT_TRUE(fixed[at] == ':' || fixed[at] == '.' ||
                      fixed[at] == '-' || fixed[at] == ' ');
          fixed[at] = ':';
        }
        ASSERT_TRUE(IsSoundStamp(fixed)) << fixed;
        ASSERT_TRUE(kxcheck::StampTestFails(StampTest::kSeparators, stamp, "",
                                            kThisYear));
      }
      continue;
    }
    ASSERT_NE(damage, SampleDamage::kCorrupted);
    ASSERT_NE(damage, SampleDamage::kWrongSeparators);
    if (record == previous_record) {
      ++duplicates;
      ASSERT_EQ(damage, SampleDamage::kDuplicate);
      continue;
    }
    ASSERT_NE(damage, SampleDamage::kDuplicate);

    // Examined: the stamp tests.
    for (StampTest test : kxcheck::kAllStampTests) {
      if (kxcheck::StampTestFails(test, stamp, previous_stamp, kThisYear)) {
        ++failures[test];
      }
    }
    if (damage == SampleDamage::kNulInStamp) {
      ASSERT_NE(stamp.find('\0'), std::string::npos);
      ASSERT_FALSE(FieldFailures(stamp).empty());
    } else {
      ASSERT_EQ(FieldFailures(stamp), kFieldFailures.at(damage)) << stamp;
    }
    if (damage == SampleDamage::kNone) {
      ASSERT_TRUE(IsSoundStamp(stamp)) << stamp;
      ASSERT_GT(stamp, previous_sound);
      previous_sound = stamp;
    }
    if (damage == SampleDamage::kOutOfOrder) {
      ASSERT_TRUE(IsSoundStamp(stamp)) << stamp;
      if (!clock_before.empty()) {
        ASSERT_LT(stamp, clock_before);
      }
    }
    if (damage == SampleDamage::kFutureYear) {
      ASSERT_GE(stamp.substr(0, 4), "2040");
    }
    previous_stamp = stamp;
    previous_record = record;
  }

  // Every kind is made, and every count and test of the checker is hit.
  for (int kind = 0; kind <= kxtable::kSampleDamageKinds; ++kind) {
    EXPECT_GT(made[static_cast<SampleDamage>(kind)], 100)
        << kxtable::SampleDamageName(static_cast<SampleDamage>(kind));
  }
  EXPECT_GT(nulls, 0);
  EXPECT_GT(deleted, 0);
  EXPECT_GT(corrupted, 0);
  EXPECT_GT(duplicates, 0);
  for (StampTest test : kxcheck::kAllStampTests) {
    if (test == StampTest::kSeparators) continue;  // corrupted comes first
    EXPECT_GT(failures[test], 0) << static_cast<int>(test);
  }
  // About a quarter of the records is damaged.
  EXPECT_NEAR(made[SampleDamage::kNone], kRecords * 0.75, kRecords * 0.02);
}

// --- Through the engine and the command line. -----------------------------

class SampleCommandTest : public kxtest::KxtableTest {};

TEST_F(SampleCommandTest, TableHoldsTheGeneratedRecordsAndMarks) {
  ASSERT_EQ(Kxtable("sample t.kxt --records 5000 --seed 3 --damage 0.3").code,
            0);
  kalvex::RecordTable table;
  table.Open((dir_ / "t.kxt").string());
  ASSERT_EQ(table.RecordCount(), 5000);
  EXPECT_EQ(table.Layout().RecordLength(),
            kxtable::SampleLayout().RecordLength());
  SampleGenerator generator({5000, 3, 0.3});
  for (int32_t n = 1; n <= 5000; ++n) {
    generator.Next();
    table.GoToRecord(n);
    ASSERT_EQ(table.RecordBuffer(), generator.record()) << n;
    ASSERT_EQ(table.Deleted(), generator.deleted()) << n;
  }
  table.Close();
}

TEST_F(SampleCommandTest, SameSeedGivesIdenticalFiles) {
  ASSERT_EQ(Kxtable("sample a.kxt --records 3000 --damage 0.1").code, 0);
  ASSERT_EQ(Kxtable("sample b.kxt --records 3000 --seed 1 --damage 0.1").code,
            0);
  ASSERT_EQ(Kxtable("sample c.kxt --records 3000 --seed 2 --damage 0.1").code,
            0);
  for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"}) {
    EXPECT_EQ(ReadFile(dir_ / (std::string("a") + ext)),
              ReadFile(dir_ / (std::string("b") + ext)))
        << ext;
  }
  EXPECT_NE(ReadFile(dir_ / "a.kxd"), ReadFile(dir_ / "c.kxd"));
}

// --truth: the header, then every record's true stamp, deleted, null and
// damaged ones included, as the generator made them.
TEST_F(SampleCommandTest, TruthHasEveryRecordsTrueStamp) {
  ASSERT_EQ(Kxtable("sample t.kxt --records 3000 --seed 4 --damage 0.3 "
                    "--truth truth.csv")
                .code,
            0);
  std::string expected = "record,stamp\n";
  SampleGenerator generator({3000, 4, 0.3});
  int damaged = 0;
  for (int n = 1; n <= 3000; ++n) {
    generator.Next();
    char truth[19];
    generator.TrueStamp(truth);
    expected += std::to_string(n) + "," + std::string(truth, 19) + "\n";
    if (generator.damage() != SampleDamage::kNone) ++damaged;
  }
  EXPECT_GT(damaged, 500);
  EXPECT_EQ(ReadFile(dir_ / "truth.csv"), expected);
  // The table is the one made without --truth.
  ASSERT_EQ(Kxtable("sample u.kxt --records 3000 --seed 4 --damage 0.3").code,
            0);
  EXPECT_EQ(ReadFile(dir_ / "t.kxd"), ReadFile(dir_ / "u.kxd"));
}

TEST_F(SampleCommandTest, NewOptionsExitCodes) {
  kxtest::WriteFile(dir_ / "old.csv", "kept");
  ExpectExits({
      {"sample a.kxt --records 10 --cadence 10 --jitter 2 --kinds "
       "bitflip,out-of-order --truth a.csv",
       0, ""},
      {"sample b.kxt --records 10 --kinds nosuch", 2, "nosuch"},
      {"sample b.kxt --records 10 --jitter 2", 2, "--cadence"},
      {"sample b.kxt --records 10 --cadence 2 --jitter 3", 2, "--jitter"},
      {"sample b.kxt --records 10 --cadence 0", 2, "--cadence"},
      {"sample b.kxt --records 10 --block-length 1", 2, "--block-length"},
      {"sample b.kxt --records 10 --truth old.csv", 1, "exists"},
      {"sample b.kxt --records 10 --truth b.kxd --force", 1, "table's files"},
  });
  // A truth refused leaves no table, and the file there as it was.
  EXPECT_FALSE(fs::exists(dir_ / "b.kxt"));
  EXPECT_EQ(ReadFile(dir_ / "old.csv"), "kept");
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename().string().find(".csv."), std::string::npos)
        << "left behind: " << entry.path();
  }
  // --force replaces the truth.
  EXPECT_EQ(Kxtable("sample b.kxt --records 10 --truth old.csv --force").code,
            0);
  EXPECT_EQ(ReadFile(dir_ / "old.csv").substr(0, 15), "record,stamp\n1,");
}

TEST_F(SampleCommandTest, ExitCodes) {
  ExpectExits({
      {"sample t.kxt --records 10", 0, ""},
      {"sample t.kxt --records 10", 1, "exists"},
      {"sample t.kxt --records 20 --force", 0, ""},
      {"sample e.kxt --records 0", 0, ""},
      {"sample t.kxt", 2, "--records"},
      {"sample t.kxt --records -1 --force", 2, "--records"},
      {"sample t.kxt --records 2147483648 --force", 2, "--records"},
      {"sample t.kxt --records 10 --damage 1.5 --force", 2, "--damage"},
      {"sample t.kxt --records 10 --damage nan --force", 2, "--damage"},
      {"sample t.kxt --records 10 --seed x --force", 2, "--seed"},
      {"sample t.csv --records 10", 2, ".kxt"},
      {"sample nodir/t.kxt --records 10", 2, "nodir"},  // cannot write
  });
  // --force replaced the first table rather than adding to it.
  kalvex::RecordTable table;
  table.Open((dir_ / "t.kxt").string());
  EXPECT_EQ(table.RecordCount(), 20);
  table.Close();
  kalvex::RecordTable empty;
  empty.Open((dir_ / "e.kxt").string());
  EXPECT_EQ(empty.RecordCount(), 0);
  empty.Close();
  EXPECT_FALSE(fs::exists(dir_ / "t.csv"));
}

}  // namespace
