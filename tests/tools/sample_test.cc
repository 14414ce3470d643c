// kxtable sample: the series is reproducible, its sound records are valid
// ascending stamps, and its damaged records are seen by the checker's tests
// as the damage they claim to be.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/stamp.h"
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
std::string StampOf(std::string_view record) {
  std::string date, time;
  if (record.substr(0, 9).find_first_not_of('\0') != std::string_view::npos) {
    date +=
        static_cast<char>('0' + (static_cast<unsigned char>(record[0]) >> 4));
    date +=
        static_cast<char>('0' + (static_cast<unsigned char>(record[0]) & 15));
    date.append(record.substr(1, 8));
  }
  if (record.substr(9, 8).find_first_not_of('\0') != std::string_view::npos) {
    time.append(record.substr(9, 8));
  }
  return kxcheck::MakeStamp(date, time);
}

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
  EXPECT_EQ(StampOf(generator.record()), "2010-05-27 00:26:26");
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
      const std::string stamp = StampOf(generator.record());
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
    const std::string stamp = StampOf(record);
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

TEST_F(SampleCommandTest, ExitCodes) {
  struct Case {
    std::string args;
    int code;
    std::string message;  // part of the one line on standard error
  };
  const std::vector<Case> cases = {
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
  };
  for (const Case& c : cases) {
    const Result result = Kxtable(c.args);
    EXPECT_EQ(result.code, c.code) << c.args << "\n" << result.err;
    if (c.code == 1) {
      EXPECT_EQ(result.err.find("kxtable: "), 0u) << result.err;
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1)
          << result.err;
    }
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.args << "\n"
                                                             << result.err;
  }
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
