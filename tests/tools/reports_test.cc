// kxtable check and repair as scripts use them: exit statuses, whole
// reports, JSON, many tables at once, and the command line's own messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "core/results_log.h"
#include "core/stamp.h"
#include "tests/tools/support/tool_test_support.h"
#include "tools/kxtable/console_host.h"
#include "tools/kxtable/csv_codec.h"

namespace {

using kxtest::Result;

std::string Line(const std::string& stamp, bool deleted = false) {
  return std::string(deleted ? "D " : "- ") +
         kxtest::Hex(kxtest::EngineRecord(stamp, "v", 24)) + "\n";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> RecLines(const std::string& text) {
  std::vector<std::string> lines = Lines(text);
  std::erase_if(lines,
                [](const std::string& l) { return l.rfind("Rec: ", 0); });
  return lines;
}

class ReportsTest : public kxtest::KxtableTest {
 protected:
  void SetUp() override {
    KxtableTest::SetUp();
    const std::string ok =
        Line("2020-01-01 10:00:00") + Line("2020-01-01 10:00:01");
    Load("clean.kxt", ok);
    Load("deleted.kxt", ok + Line("2020-01-01 10:00:02", true));
    Load("damaged.kxt", ok + Line("2020-13-01 10:00:02"));
    Load("null.kxt", ok + "- " + std::string(48, '0') + "\n");
    ASSERT_EQ(
        Kxtable("sample big.kxt --records 20000 --seed 3 --damage 0.2").code,
        0);
    Load("nomarks.kxt", ok);
    std::filesystem::remove(dir_ / "nomarks.kxa");
  }
  void Load(const std::string& name, const std::string& dump) {
    ASSERT_EQ(Kxtable("load " + name, dump).code, 0);
  }
};

TEST_F(ReportsTest, ExitStatusSaysWhatWasFound) {
  struct Case {
    std::string args;
    int code;
    std::string err;  // the start of standard error
  };
  const Case cases[] = {
      {"check clean.kxt", 0, ""},
      {"check deleted.kxt", 0, ""},
      {"check damaged.kxt", 1, ""},
      {"check null.kxt", 1, ""},
      {"check nomarks.kxt", 1, "kxtable: nomarks.kxt: nomarks.kxa: the "},
      {"check none.kxt", 2, "kxtable: none.kxt: Filename does not exist!\n"},
      {"check clean.kxt none.kxt damaged.kxt", 2, "kxtable: none.kxt: "},
      {"check", 2, "kxtable: tables is required"},
      {"check --bogus clean.kxt", 2, "kxtable: The following argument"},
      {"check --json --summary clean.kxt", 2, "kxtable: --json excludes"},
      {"repair clean.kxt", 0, ""},
      {"repair damaged.kxt", 0, ""},
      {"repair clean.kxt", 1, "kxtable: clean.kxt: File '"},  // output exists
      {"repair none.kxt deleted.kxt", 1, "kxtable: none.kxt: "},
      {"bogus", 2, "kxtable: unknown command 'bogus' (commands: info, "},
  };
  for (const Case& c : cases) {
    const Result r = Kxtable(c.args);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'),
              c.err.empty() ? 0 : 1)
        << c.args << "\n"
        << r.err;
  }
}

// The JSON findings, written out as the results box writes finding lines,
// are the finding lines of the whole text report; the counts are the
// summary's.
TEST_F(ReportsTest, JsonHoldsTheFindingsAndCountsOfTheTextReport) {
  const Result text = Kxtable("check --full big.kxt");
  const Result json = Kxtable("check --json big.kxt");
  ASSERT_EQ(text.code, 1);
  ASSERT_EQ(json.code, 1) << json.err;
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["table"], "big.kxt");
  EXPECT_EQ(doc["records"], 20000);
  EXPECT_EQ(doc["complete"], true);
  EXPECT_EQ(doc["status"], "damaged");
  const std::vector<std::string> names = {"order",  "year",      "month",
                                          "day",    "hour",      "minute",
                                          "second", "separators"};
  std::vector<std::string> lines;
  for (const auto& f : doc["findings"]) {
    const auto test = static_cast<size_t>(
        std::find(names.begin(), names.end(), f["test"]) - names.begin());
    ASSERT_LT(test, names.size());
    std::string stamp;
    std::string previous;
    kxtable::UnescapeCell(f["stamp"].get<std::string>(), stamp);
    if (f.contains("previous")) {
      kxtable::UnescapeCell(f["previous"].get<std::string>(), previous);
    }
    std::string line = kxcheck::LogLine(kxcheck::FindingLine(
        f["record"], stamp,
        kxcheck::FindingSuffix(kxcheck::kAllStampTests[test], previous)));
    lines.push_back(line.substr(0, line.size() - 2));
  }
  EXPECT_GT(lines.size(), 1000u);
  EXPECT_EQ(lines, RecLines(text.out));
  for (const char* count : {"Deleted", "Null", "Duplicate", "Corrupted"}) {
    std::string key = count;
    key[0] = static_cast<char>(key[0] - 'A' + 'a');
    const std::string found =
        "Found " + doc["counts"][key].dump() + " " + count + " records\n";
    EXPECT_NE(text.out.find(found), std::string::npos) << found;
  }
}

// Past the cap the window's report stops listing findings; --full lists
// them all, ends the same way, and gives no notice.
TEST_F(ReportsTest, FullReportGoesOnWhereTheCappedOneStops) {
  const Result capped = Kxtable("check big.kxt");
  const Result full = Kxtable("check --full big.kxt");
  const std::vector<std::string> short_lines = Lines(capped.out);
  const std::vector<std::string> all_lines = Lines(full.out);
  ASSERT_NE(capped.out.find(">>> Output Truncated <<<\n"), std::string::npos);
  EXPECT_EQ(full.out.find("Truncated"), std::string::npos);
  const auto notice = std::find(short_lines.begin(), short_lines.end(),
                                ">>> Output Truncated <<<");
  EXPECT_TRUE(std::equal(short_lines.begin(), notice, all_lines.begin()));
  EXPECT_TRUE(std::equal(notice + 1, short_lines.end(),
                         all_lines.end() - (short_lines.end() - notice - 1)));
  EXPECT_GT(RecLines(full.out).size(), 2 * RecLines(capped.out).size());
}

TEST_F(ReportsTest, ManyTables) {
  const Result summary = Kxtable("check clean.kxt damaged.kxt --summary");
  EXPECT_EQ(summary.code, 1);
  EXPECT_EQ(summary.out,
            "clean.kxt: 2 records, 0 findings, 0 null, 0 deleted, 0 "
            "duplicate, 0 corrupted, clean\n"
            "damaged.kxt: 3 records, 1 findings, 0 null, 0 deleted, 0 "
            "duplicate, 0 corrupted, damaged\n"
            "total: 2 tables, 5 records, 1 findings, 0 null, 0 deleted, 0 "
            "duplicate, 0 corrupted, damaged\n");
  const Result text = Kxtable("check clean.kxt deleted.kxt --crlf");
  EXPECT_EQ(text.code, 0);
  EXPECT_EQ(text.out.rfind("==> clean.kxt <==\r\nFilename: clean.kxt\r\n", 0),
            0u);
  EXPECT_NE(text.out.find("Complete ***\r\n\r\n==> deleted.kxt <==\r\n"),
            std::string::npos);
  const Result json = Kxtable("check --json none.kxt clean.kxt");
  const nlohmann::json docs = nlohmann::json::parse(json.out);
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[0]["status"], "missing");
  EXPECT_EQ(docs[1]["status"], "clean");
}

TEST_F(ReportsTest, RepairJsonNamesTheOutputAndTheStampsSet) {
  const Result r = Kxtable("repair --json damaged.kxt");
  ASSERT_EQ(r.code, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["output"], "damaged_REPAIRED.kxt");
  EXPECT_EQ(doc["records_written"], 3);
  EXPECT_EQ(doc["replaced_stamps"],
            nlohmann::json::parse(
                R"([{"record": 3, "stamp": "2020-01-01 10:00:01"}])"));
}

TEST_F(ReportsTest, HelpFitsEightyColumnsAndShowsAnExample) {
  for (const char* command : {"", "info", "dump", "load", "import", "export",
                              "sample", "check", "repair"}) {
    const Result help = Kxtable(std::string("help ") + command);
    EXPECT_EQ(help.code, 0) << command;
    EXPECT_NE(help.out.find("Usage: kxtable"), std::string::npos) << command;
    if (*command) {
      EXPECT_NE(help.out.find("  kxtable "), std::string::npos);
    }
    for (const std::string& line : Lines(help.out)) {
      EXPECT_LT(line.size(), 80u) << command << ": " << line;
    }
  }
  EXPECT_EQ(Kxtable("--version").out.rfind("kxtable ", 0), 0u);
}

TEST_F(ReportsTest, BashCompletesCommandsOptionsAndTables) {
  const std::pair<std::string, std::string> cases[] = {
      {"kxtable ch", "check"},
      {"kxtable check --su", "--summary"},
      {"kxtable repair cl", "clean.kxt"},
      {"kxtable import --delimiter t", "tab"},
      {"kxtable help re", "repair"},
      {"kxtable sample t.kxt --kinds bitflip,zer", "bitflip,zerotime"},
  };
  for (const auto& [words, expected] : cases) {
    const int last =
        static_cast<int>(std::count(words.begin(), words.end(), ' '));
    kxtest::WriteFile(dir_ / "complete.sh",
                      "source " KX_SOURCE_DIR
                      "/tools/kxtable/kxtable.bash\n"
                      "COMP_WORDS=(" +
                          words + ")\nCOMP_CWORD=" + std::to_string(last) +
                          "\n_kxtable\necho \"${COMPREPLY[*]}\"\n");
    const Result r = kxtest::RunIn(dir_, "/bin/bash", "complete.sh", "");
    EXPECT_EQ(r.out, expected + "\n") << words << "\n" << r.err;
  }
}

TEST(ErrorLineTest, NamesTheTableOnce) {
  const std::pair<std::string, std::string> cases[] = {
      {"Filename does not exist!", "kxtable: t.kxt: Filename does not exist!"},
      {"Cannot open t.kxt: t.kxt: bad header",
       "kxtable: t.kxt: Cannot open: "
       "bad header"},
      {"Cannot open t.kxt: t.kxd: short",
       "kxtable: t.kxt: Cannot open: "
       "t.kxd: short"},
      {"Could not open 't.kxt': t.kxt: no",
       "kxtable: t.kxt: Could not open: "
       "no"},
      {"Stopped.\nCould not remove 'x'",
       "kxtable: t.kxt: Stopped. Could not "
       "remove 'x'"},
  };
  for (const auto& [message, line] : cases) {
    EXPECT_EQ(kxtable::ErrorLine("t.kxt", message), line);
  }
  EXPECT_EQ(kxtable::ErrorLine("", "a table path is empty"),
            "kxtable: a table path is empty");
}

}  // namespace
