// kxtable dump, load and info through the binary: exact round trips,
// refusals that name the line, --force, and what info reports about damaged
// tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/tools/support/tool_test_support.h"

namespace {

namespace fs = std::filesystem;

using kxtest::Result;
using kxtest::WriteFile;

// One dump line for a record of `length` pseudo-random bytes.
std::string Line(std::mt19937& random, size_t length, bool deleted) {
  std::string bytes(length, '\0');
  for (char& b : bytes) {
    // plenty of NULs
    b = static_cast<char>(random() % 4 == 0 ? 0 : random() % 256);
  }
  return (deleted ? "D " : "- ") + kxtest::Hex(bytes) + "\n";
}

class DumpLoadTest : public kxtest::KxtableTest {
 protected:
  // Names of the files in the test directory other than the std streams.
  std::vector<std::string> TableFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      std::string name = entry.path().filename().string();
      if (name != "stdin" && name != "stdout" && name != "stderr")
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(DumpLoadTest, DumpOfALoadedTableGivesBackItsInputExactly) {
  std::mt19937 random(7);
  for (size_t length : {17u, 18u, 40u, 64u, 301u}) {
    std::string input;
    for (int i = 0; i < 500; ++i) input += Line(random, length, i % 9 == 4);
    Result load = Kxtable("load t.kxt --force", input);
    ASSERT_EQ(load.code, 0) << load.err;
    EXPECT_EQ(load.out, "");
    EXPECT_EQ(load.err, "");
    Result dump = Kxtable("dump t.kxt");
    ASSERT_EQ(dump.code, 0) << dump.err;
    EXPECT_EQ(dump.out, input) << "record length " << length;
    Result info = Kxtable("info t.kxt");
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_NE(
        info.out.find("Record length    " + std::to_string(length) + " bytes"),
        std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("Records          500\n"), std::string::npos);
    EXPECT_NE(info.out.find("Deleted          56\n"), std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("Problems         none"), std::string::npos);
  }
  EXPECT_EQ(TableFiles(),
            (std::vector<std::string>{"t.kxa", "t.kxd", "t.kxi", "t.kxt"}));
}

TEST_F(DumpLoadTest, AnEmptyInputMakesAnEmptyTableOfTheGivenLength) {
  struct Case {
    std::string args;
    std::string length;
  };
  for (const Case& c : {Case{"", "40"}, Case{"--record-length 64", "64"},
                        Case{"--record-length 17", "17"}}) {
    Result load = Kxtable("load e.kxt --force " + c.args);
    ASSERT_EQ(load.code, 0) << load.err;
    Result info = Kxtable("info e.kxt");
    EXPECT_NE(info.out.find("Record length    " + c.length + " bytes"),
              std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("Records          0\n"), std::string::npos);
    Result dump = Kxtable("dump e.kxt");
    EXPECT_EQ(dump.code, 0);
    EXPECT_EQ(dump.out, "");
  }
}

TEST_F(DumpLoadTest, BadLinesAreRefusedWithTheirLineNumber) {
  const std::string good = "- " + std::string(40, '0') + "\n";  // 20 bytes
  struct Case {
    std::string input;
    std::string args;
    std::string message;
    int code = 1;  // a refused line is a problem found; a bad option, usage
  };
  const std::vector<Case> cases = {
      {good + "X " + std::string(40, '0') + "\n", "", "line 2: bad flag 'X'"},
      {good + "d " + std::string(40, '0') + "\n", "", "line 2: bad flag 'd'"},
      {std::string("-").append(40, '0') + "\n", "",
       "line 1: the flag must be followed by one space"},
      {good + good + "- " + std::string(41, '0') + "\n", "",
       "line 3: odd number of hex digits"},
      {"- " + std::string(38, '0') + "Ab\n", "",
       "line 1: bad hex digit at column 41"},
      {"- " + std::string(38, '0') + "0g\n", "",
       "line 1: bad hex digit at column 42"},
      {good + "- " + std::string(42, '0') + "\n", "",
       "line 2: record of 21 bytes, but line 1 has 20"},
      {good + "\n" + good, "", "line 2: empty line"},
      {"- " + std::string(40, '0') + "\r\n", "", "line 1: carriage return"},
      {"- 0011\n", "", "line 1: record of 2 bytes (records are 17 to 65536"},
      {good, "--record-length 30",
       "line 1: record of 20 bytes, but --record-length is 30"},
      {"", "--record-length 16", "record length 16 is outside 17 to 65536", 2},
      {"", "--record-length 70000", "outside 17 to 65536", 2},
  };
  for (const Case& c : cases) {
    Result r = Kxtable("load bad.kxt " + c.args, c.input);
    EXPECT_EQ(r.code, c.code) << c.message;
    EXPECT_EQ(r.err.rfind("kxtable: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos)
        << c.message << " / " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(TableFiles().empty()) << c.message << ": files left behind";
  }
}

TEST_F(DumpLoadTest, AnExistingTableIsReplacedOnlyWithForce) {
  std::mt19937 random(3);
  const std::string first = Line(random, 30, false) + Line(random, 30, true);
  const std::string second = Line(random, 25, false);
  ASSERT_EQ(Kxtable("load t.kxt", first).code, 0);

  Result refused = Kxtable("load t.kxt", second);
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("the table exists (--force replaces it)"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(Kxtable("dump t.kxt").out, first);

  // A refused input leaves the old table alone even with --force.
  Result bad = Kxtable("load t.kxt --force", second + "bad\n");
  EXPECT_EQ(bad.code, 1);
  EXPECT_EQ(Kxtable("dump t.kxt").out, first);

  ASSERT_EQ(Kxtable("load t.kxt --force", second).code, 0);
  EXPECT_EQ(Kxtable("dump t.kxt").out, second);
  EXPECT_EQ(TableFiles(),
            (std::vector<std::string>{"t.kxa", "t.kxd", "t.kxi", "t.kxt"}));
}

TEST_F(DumpLoadTest, UpperCaseTablesGetUpperCaseCompanions) {
  std::mt19937 random(5);
  const std::string input = Line(random, 20, false) + Line(random, 20, true);
  ASSERT_EQ(Kxtable("load T.KXT", input).code, 0);
  EXPECT_EQ(TableFiles(),
            (std::vector<std::string>{"T.KXA", "T.KXD", "T.KXI", "T.KXT"}));
  EXPECT_EQ(Kxtable("dump T.KXT").out, input);
}

TEST_F(DumpLoadTest, UsageErrorsExitWithTwo) {
  for (const char* args :
       {"load", "dump", "info", "load t.kxt --record-length abc",
        "dump a.kxt b.kxt", "load t.kxt --no-such-flag"}) {
    Result r = Kxtable(args);
    EXPECT_EQ(r.code, 2) << args << ": " << r.err;
  }
}

TEST_F(DumpLoadTest, DamagedTablesAreReportedAndDumpedAsFarAsTheyGo) {
  std::mt19937 random(11);
  std::string input;
  for (int i = 0; i < 10; ++i) input += Line(random, 20, i == 3);
  ASSERT_EQ(Kxtable("load t.kxt", input).code, 0);
  // Cut the data file inside record 8; lose the attribute of record 4.
  fs::resize_file(dir_ / "t.kxd", 16 + 7 * 20 + 5);
  fs::resize_file(dir_ / "t.kxa", 16 + 3);

  Result info = Kxtable("info t.kxt");
  EXPECT_EQ(info.code, 1) << info.err;  // the problems are damage
  EXPECT_NE(info.out.find("Records          7\n"), std::string::npos);
  EXPECT_NE(info.out.find("Deleted          0\n"), std::string::npos);
  EXPECT_NE(info.out.find("t.kxd: 161 bytes"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("holds only 7 of the 10 committed records"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("5 stray bytes"), std::string::npos);
  EXPECT_NE(info.out.find("marks for only 3 of the 7"), std::string::npos);

  // The records the data file holds, then the problems.
  Result dump = Kxtable("dump t.kxt");
  EXPECT_EQ(dump.code, 1);
  std::string expected;
  size_t at = 0;
  for (int i = 0; i < 7; ++i) {
    size_t end = input.find('\n', at) + 1;
    std::string line = input.substr(at, end - at);
    line[0] = '-';  // the mark of record 4 is gone
    expected += line;
    at = end;
  }
  EXPECT_EQ(dump.out, expected);
  EXPECT_NE(dump.err.find("kxtable: t.kxd: the data file holds only 7 of the "
                          "10 committed records"),
            std::string::npos)
      << dump.err;

  fs::remove(dir_ / "t.kxi");
  info = Kxtable("info t.kxt");
  EXPECT_NE(info.out.find("Records          7\n"), std::string::npos);
  EXPECT_NE(info.out.find("t.kxi: missing"), std::string::npos);
  EXPECT_NE(info.out.find("the index file is missing; counting the 7 records"),
            std::string::npos)
      << info.out;

  WriteFile(dir_ / "t.kxt", "garbage");
  info = Kxtable("info t.kxt");
  EXPECT_EQ(info.code, 2);  // the table cannot be read at all
  EXPECT_EQ(info.err,
            "kxtable: t.kxt: definition is only 7 bytes long, too "
            "short for its header\n");
  EXPECT_NE(info.out.find("t.kxd: 161 bytes"), std::string::npos);
}

}  // namespace
