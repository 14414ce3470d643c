// kxtable repair with and without --restore on a sample table whose current
// repair spreads stamps: the current rule's report and output stay byte for
// byte what they were, the spread is said on standard error and in the JSON,
// and --restore writes an output that a check finds clean, saying what it
// replaced and why.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/support/tool_test_support.h"

namespace {

using kxtest::Result;

class RestoreTest : public kxtest::KxtableTest {
 protected:
  void SetUp() override {
    KxtableTest::SetUp();
    // Default kinds of damage: the undamaged years end in 2025 and the
    // future-year damage starts in 2040, so the year test gives the same
    // answers in any year up to 2039.
    ASSERT_EQ(
        Kxtable("sample S7.kxt --records 20000 --seed 7 --damage 0.05").code,
        0);
  }

  // SHA-256 of each file, by name.
  std::map<std::string, std::string> Digests(const std::string& files) const {
    const Result r = kxtest::RunIn(dir_, "/usr/bin/sha256sum", files, "");
    EXPECT_EQ(r.code, 0) << r.err;
    std::map<std::string, std::string> digests;
    std::istringstream lines(r.out);
    std::string digest, name;
    while (lines >> digest >> name) digests[name] = digest;
    return digests;
  }
};

// The digests were taken with the kxtable built before the restoring rule
// and the spread warning existed.
TEST_F(RestoreTest, CurrentRuleWritesWhatItWroteBefore) {
  struct Case {
    const char* options;
    std::map<std::string, std::string> digests;
  };
  const std::string kxt =
      "feba8e3a7365b315b17d5ce6881d2ef4464c08fa2d8e9975ceffb308ac1778b3";
  const Case cases[] = {
      {"",
       {{"out.txt",
         "8d506e4227f25e73e6049555301b85d66b8f7df10af52fbdb8c37f60114c1de3"},
        {"S7_REPAIRED.kxt", kxt},
        {"S7_REPAIRED.kxd",
         "fbf15a4296d0cd8e9f6a70dd34bcc4ecc6654b96c559ecafb70b6db7ca282752"},
        {"S7_REPAIRED.kxi",
         "4c43bb63b2a231eaab4730a687a415556f6e571e164fc948544b928c4fe8eaf2"},
        {"S7_REPAIRED.kxa",
         "92b4984791fbddf4d170e0c7ddb7f452b59ea209cfc2048e78e3822f128777e8"}}},
      {"--keep-deleted --keep-duplicates --skip-corrupted --crlf --full",
       {{"out.txt",
         "c592d844028aa6bb815c25618b18b064cbc798411ffb60e85ebcbd5898b04c52"},
        {"S7_REPAIRED.kxt", kxt},
        {"S7_REPAIRED.kxd",
         "c9dffad53bb9ce0f9eb5d8850da4b4864fdeb731618d954cdaad1f0e4bb4cb4b"},
        {"S7_REPAIRED.kxi",
         "e232cc60968579059549eab5f5457a5dabf1cc90c81ba08eebe994aafd1e8a2d"},
        {"S7_REPAIRED.kxa",
         "1735330831e79bc1d1eb626b37fa19f075ba66ba12d9882f6585f795c1dc07ba"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const Result r =
        Kxtable(std::string("repair --replace ") + c.options + " S7.kxt");
    EXPECT_EQ(r.code, 0) << r.err;
    kxtest::WriteFile(dir_ / "out.txt", r.out);
    EXPECT_EQ(Digests("out.txt S7_REPAIRED.kxt S7_REPAIRED.kxd "
                      "S7_REPAIRED.kxi S7_REPAIRED.kxa"),
              c.digests);
  }
}

TEST_F(RestoreTest, CurrentRuleSaysWhereItSpreadAStamp) {
  const Result text = Kxtable("repair S7.kxt");
  EXPECT_EQ(text.code, 0);
  // Stamp bytes that are not UTF-8 are written \xHH, as in names.
  EXPECT_EQ(text.err,
            "kxtable: S7.kxt: the repair gave one stamp to more than 100 "
            "following records: 466 records from 4000 to 4472 took the stamp "
            "of record 3999, 2004-01-15 0\\x7f:1\\:57; 221 records from 5700 "
            "to 5923 took the stamp of record 5699, 2004-0\\xfe-15 10:44:40; "
            "205 records from 8026 to 8231 took the stamp of record 8025, "
            "2004-01-1\\xa2 12:38:42; and 3 more; kxtable repair --restore "
            "restores such stamps from their neighbours\n");

  const Result json = Kxtable("repair --replace --json S7.kxt");
  EXPECT_EQ(json.code, 0);
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["rule"], "current");
  ASSERT_EQ(doc["spread"].size(), 6u);
  EXPECT_EQ(doc["spread"][0],
            nlohmann::json::parse(
                R"({"first": 4000, "last": 4472, "records": 466,
                    "stamp": "2004-01-15 0\\x7f:1\\:57", "source": 3999})"));
  EXPECT_EQ(Kxtable("repair --replace -q S7.kxt").err, "");
}

TEST_F(RestoreTest, RestoreWritesAnOutputThatChecksClean) {
  const Result text = Kxtable("repair --restore S7.kxt");
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_EQ(text.err,
            "kxtable: S7.kxt: the restoring rule replaced 819 stamps: 599 "
            "failed test, 90 out of order, 15 not a real date, 115 "
            "separators\n");
  // The report has the current rule's shape and ends as it does.
  EXPECT_NE(text.out.find("\nRecords Written: 19766\n\n*** Processing "
                          "Complete ***\n"),
            std::string::npos);

  const Result check = Kxtable("check S7_REPAIRED.kxt");
  EXPECT_EQ(check.code, 0) << check.out;

  const Result json = Kxtable("repair --restore --replace --json S7.kxt");
  EXPECT_EQ(json.code, 0);
  // What was replaced is in the document, not on standard error.
  EXPECT_EQ(json.err,
            "kxtable: S7.kxt: File 'S7_REPAIRED.kxt' already exists ... "
            "Replace? -> Yes\n");
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["rule"], "restoring");
  EXPECT_EQ(doc["stamp_set_count"], 819);
  EXPECT_EQ(doc["spread"], nlohmann::json::array());
  std::map<std::string, int> reasons;
  for (const nlohmann::json& record : doc["records"]) {
    if (!record.contains("set")) continue;
    ++reasons[record["reason"].get<std::string>()];
    EXPECT_NE(record["set"], record["stamp"]) << record;
  }
  EXPECT_EQ(reasons, (std::map<std::string, int>{{"failed test", 599},
                                                 {"out of order", 90},
                                                 {"not a real date", 15},
                                                 {"separators", 115}}));
}

}  // namespace
