// kxtable check and repair as scripts use them: exit statuses, whole
// reports, JSON, many tables at once, and the command line's own messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/results_log.h"
#include "core/stamp.h"
#include "engine/table_format.h"
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

// Copies the files of the table `from` (a path without its extension) that
// are there to the same names at `to`.
void CopyTable(const std::filesystem::path& from,
               const std::filesystem::path& to) {
  for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"}) {
    const std::filesystem::path file = std::filesystem::path(from).concat(ext);
    if (std::filesystem::exists(file)) {
      std::filesystem::copy_file(file, std::filesystem::path(to).concat(ext));
    }
  }
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
    // A table whose writer never finished: its index carries the mark.
    Load("unfinished.kxt", ok);
    kxtest::WriteFile(
        dir_ / "unfinished.kxi",
        kalvex::format::EncodeIndex(2, 24, kalvex::format::kIndexIncomplete));
    std::filesystem::create_directories(dir_ / "logs/old");
    std::filesystem::create_directories(dir_ / "empty");
    for (const char* name : {"clean", "damaged"}) {
      CopyTable(dir_ / name, dir_ / "logs" / name);
    }
    Load("logs/old/deleted.kxt", ok + Line("2020-01-01 10:00:02", true));
    kxtest::WriteFile(dir_ / "good.csv",
                      "date,time,v\n2024-01-05,10:00:00,a\n");
  }
  void Load(const std::string& name, const std::string& dump) {
    ASSERT_EQ(Kxtable("load " + name, dump).code, 0);
  }
};

// One contract for every command: 0 success (a clean table for check and
// info), 1 damage or problems found or an output refused, 2 the work could
// not be done. Every error is one line; a closed standard output none.
TEST_F(ReportsTest, ExitStatusSaysWhatWasFound) {
  struct Case {
    std::string args;
    int code;
    std::string err;  // the start of standard error; "" when it is empty
    bool closed_pipe = false;  // standard output's reader has gone
    std::string input = "";
  };
  const std::string missing = "No such file or directory\n";
  const Case cases[] = {
      {"check clean.kxt", 0, ""},
      {"check deleted.kxt", 0, ""},
      {"check damaged.kxt", 1, ""},
      {"check null.kxt", 1, ""},
      {"check nomarks.kxt", 1, "kxtable: nomarks.kxt: nomarks.kxa: the "},
      {"check unfinished.kxt", 1,
       "kxtable: unfinished.kxt: unfinished.kxi: "
       "the table is incomplete"},
      {"check none.kxt", 2, "kxtable: none.kxt: " + missing},
      {"check clean.kxt none.kxt damaged.kxt", 2, "kxtable: none.kxt: "},
      {"check 'a\nb.kxt'", 2, "kxtable: a\\x0ab.kxt: " + missing},
      {"check logs", 1, ""},
      {"check -q logs/old", 0, ""},
      {"check empty", 2, "kxtable: empty: no table (.kxt) in this folder"},
      {"check --full big.kxt", 2, "", true},
      {"check --summary --jobs 2 big.kxt big.kxt", 2, "", true},
      {"check", 2, "kxtable: tables is required"},
      {"check --bogus clean.kxt", 2, "kxtable: The following argument"},
      {"check --json --summary clean.kxt", 2, "kxtable: --json excludes"},
      {"check --json empty", 2, "kxtable: empty: no table (.kxt) in this"},
      {"check --json big.kxt", 2, "", true},
      {"check --format tsv clean.kxt", 2, "kxtable: --format requires"},
      {"check --jobs 0 clean.kxt", 2, "kxtable: --jobs: Value 0 not in"},
      {"info clean.kxt", 0, ""},
      {"info nomarks.kxt", 1, ""},
      {"info unfinished.kxt", 1, ""},
      {"info -q unfinished.kxt", 1, "kxtable: unfinished.kxt: unfinished.kxi:"},
      {"info none.kxt", 2, "kxtable: none.kxt: " + missing},
      {"info logs", 2, "kxtable: logs: Is a directory\n"},
      {"info clean.kxt", 2, "", true},
      {"info --json clean.kxt", 0, ""},
      {"info --json unfinished.kxt", 1, ""},
      {"info --json none.kxt", 2, "kxtable: none.kxt: " + missing},
      {"info --json clean.kxt", 2, "", true},
      {"dump clean.kxt", 0, ""},
      {"dump nomarks.kxt", 1, "kxtable: nomarks.kxa: the "},
      {"dump none.kxt", 2, "kxtable: none.kxt: " + missing},
      {"dump big.kxt", 2, "", true},
      {"export clean.kxt", 0, ""},
      {"export clean.kxt out.csv", 0, ""},
      {"export clean.kxt out.csv", 1, "kxtable: out.csv: the file exists"},
      {"export none.kxt", 2, "kxtable: none.kxt: " + missing},
      {"export big.kxt", 2, "", true},
      {"import good.csv new.kxt", 0, ""},
      {"import good.csv new.kxt", 1, "kxtable: new.kxt: the table exists"},
      {"import none.csv other.kxt", 2, "kxtable: none.csv: " + missing},
      {"import - other.kxt", 1, "kxtable: standard input: line 2, column 1: ",
       false, "date,time\n05.01.2024,10:00:00\n"},
      {"load loaded.kxt", 1, "kxtable: standard input line 1: bad flag", false,
       "x\n"},
      {"sample clean.kxt --records 1", 1, "kxtable: clean.kxt: the table "},
      {"repair clean.kxt", 0, ""},
      {"repair damaged.kxt", 0, ""},
      {"repair clean.kxt", 1, "kxtable: clean.kxt: File '"},  // output exists
      {"repair none.kxt", 2, "kxtable: none.kxt: " + missing},
      {"repair none.kxt deleted.kxt", 2, "kxtable: none.kxt: "},
      {"repair logs/damaged.kxt", 2, "", true},
      {"bogus", 2, "kxtable: unknown command 'bogus' (commands: info, "},
  };
  for (const Case& c : cases) {
    const Result r = c.closed_pipe ? KxtableIntoClosedPipe(c.args)
                                   : Kxtable(c.args, c.input);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'),
              c.err.empty() ? 0 : 1)
        << c.args << "\n"
        << r.err;
  }
  // The repair into a closed pipe wrote its table whole all the same.
  EXPECT_EQ(Kxtable("info -q logs/damaged_REPAIRED.kxt").code, 0);
}

// The JSON line's findings, written out as the results box writes finding
// lines, are the finding lines of the whole text report; its records of each
// class are as many as the summary counts, and its counts are the summary's.
TEST_F(ReportsTest, JsonHoldsTheFindingsAndCountsOfTheTextReport) {
  const Result text = Kxtable("check --full big.kxt");
  const Result json = Kxtable("check --json big.kxt");
  ASSERT_EQ(text.code, 1);
  ASSERT_EQ(json.code, 1) << json.err;
  ASSERT_EQ(Lines(json.out).size(), 1u);
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["schema"], 1);
  EXPECT_EQ(doc["table"], "big.kxt");
  EXPECT_EQ(doc["record_count"], 20000);
  EXPECT_EQ(doc["complete"], true);
  EXPECT_EQ(doc["status"], "damaged");
  EXPECT_EQ(doc["exit_status"], 1);
  std::vector<std::string> lines;
  std::map<std::string, int64_t> classes;
  int64_t last = 0;
  for (const auto& r : doc["records"]) {
    EXPECT_GT(r["record"], last);  // in table order, each once
    last = r["record"];
    if (r.contains("class")) ++classes[r["class"]];
    if (!r.contains("findings")) continue;
    std::string stamp;
    kxtable::UnescapeCell(r["stamp"].get<std::string>(), stamp);
    for (const auto& f : r["findings"]) {
      const std::string name = f["test"];
      const auto test = std::find_if(kxcheck::kAllStampTests.begin(),
                                     kxcheck::kAllStampTests.end(),
                                     [&](kxcheck::StampTest t) {
                                       return name == kxcheck::StampTestName(t);
                                     });
      ASSERT_NE(test, kxcheck::kAllStampTests.end()) << name;
      std::string previous;
      if (f.contains("previous")) {
        kxtable::UnescapeCell(f["previous"].get<std::string>(), previous);
      }
      std::string line = kxcheck::LogLine(kxcheck::FindingLine(
          r["record"], stamp, kxcheck::FindingSuffix(*test, previous)));
      lines.push_back(line.substr(0, line.size() - 2));
    }
  }
  EXPECT_GT(lines.size(), 1000u);
  EXPECT_EQ(lines, RecLines(text.out));
  EXPECT_EQ(doc["finding_count"], lines.size());
  int64_t by_test = 0;
  for (const auto& [test, count] : doc["findings_by_test"].items()) {
    by_test += count.get<int64_t>();
  }
  EXPECT_EQ(by_test, static_cast<int64_t>(lines.size()));
  for (const char* count : {"Deleted", "Null", "Duplicate", "Corrupted"}) {
    std::string key = count;
    key[0] = static_cast<char>(key[0] - 'A' + 'a');
    EXPECT_GT(classes[key], 0) << key;
    EXPECT_EQ(doc["counts"][key], classes[key]) << key;
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
  // One JSON line per table, whether one is named or several.
  const std::vector<std::string> json =
      Lines(Kxtable("check --json none.kxt clean.kxt").out);
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(nlohmann::json::parse(json[0])["status"], "missing");
  EXPECT_EQ(nlohmann::json::parse(json[1])["status"], "clean");
  EXPECT_EQ(Kxtable("check --json clean.kxt").out, json[1] + "\n");
}

// Each count of --summary stands in its own column and is the count of the
// table's own report; the total line adds them up.
TEST_F(ReportsTest, SummaryColumnsAreTheReportsCounts) {
  ASSERT_EQ(
      Kxtable("sample other.kxt --records 5000 --seed 8 --damage 0.3").code, 0);
  struct Counts {
    int64_t records = 0, findings = 0, null = 0, deleted = 0, duplicate = 0,
            corrupted = 0;
  };
  auto counts_of = [&](const std::string& table) {
    const Result full = Kxtable("check --full " + table);
    Counts c;
    for (const std::string& line : Lines(full.out)) {
      int64_t n = 0;
      char what[16] = {};
      if (line.rfind("Rec: ", 0) == 0) ++c.findings;
      if (std::sscanf(line.c_str(), "Records: %" SCNd64, &n) == 1) {
        c.records = n;
      }
      if (std::sscanf(line.c_str(), "Found %" SCNd64 " %15s records", &n,
                      what) == 2) {
        const std::string name = what;
        (name == "Null"        ? c.null
         : name == "Deleted"   ? c.deleted
         : name == "Duplicate" ? c.duplicate
                               : c.corrupted) = n;
      }
    }
    return c;
  };
  const Counts big = counts_of("big.kxt");
  const Counts other = counts_of("other.kxt");
  for (const Counts& c : {big, other}) {
    // Every column differs from every other, so no count can stand for
    // another unseen.
    const std::set<int64_t> distinct = {c.records, c.findings,  c.null,
                                        c.deleted, c.duplicate, c.corrupted};
    ASSERT_EQ(distinct.size(), 6u);
    ASSERT_GT(c.null, 0);
  }
  auto line = [](const std::string& head, const Counts& c,
                 const std::string& status) {
    return head + " " + std::to_string(c.records) + " records, " +
           std::to_string(c.findings) + " findings, " + std::to_string(c.null) +
           " null, " + std::to_string(c.deleted) + " deleted, " +
           std::to_string(c.duplicate) + " duplicate, " +
           std::to_string(c.corrupted) + " corrupted, " + status + "\n";
  };
  auto row = [](const std::string& table, const Counts& c) {
    return table + "\t" + std::to_string(c.records) + "\t" +
           std::to_string(c.findings) + "\t" + std::to_string(c.null) + "\t" +
           std::to_string(c.deleted) + "\t" + std::to_string(c.duplicate) +
           "\t" + std::to_string(c.corrupted) + "\tdamaged\n";
  };
  const Counts total = {
      big.records + other.records,     big.findings + other.findings,
      big.null + other.null,           big.deleted + other.deleted,
      big.duplicate + other.duplicate, big.corrupted + other.corrupted};
  EXPECT_EQ(Kxtable("check --summary big.kxt other.kxt").out,
            line("big.kxt:", big, "damaged") +
                line("other.kxt:", other, "damaged") +
                line("total: 2 tables,", total, "damaged"));
  EXPECT_EQ(Kxtable("check --summary --format tsv big.kxt other.kxt").out,
            "table\trecords\tfindings\tnull\tdeleted\tduplicate\tcorrupted\t"
            "status\n" +
                row("big.kxt", big) + row("other.kxt", other));
}

// A folder stands for its tables in sorted order (with --recursive for those
// below it too), and the reports come in that order whatever the number of
// jobs: a long table first finishes after the short ones behind it.
TEST_F(ReportsTest, ManyTablesComeInOrderWhateverTheJobs) {
  std::filesystem::create_directories(dir_ / "many/sub");
  CopyTable(dir_ / "big", dir_ / "many/a");
  CopyTable(dir_ / "null", dir_ / "many/B");
  CopyTable(dir_ / "clean", dir_ / "many/c");
  CopyTable(dir_ / "damaged", dir_ / "many/d");
  CopyTable(dir_ / "deleted", dir_ / "many/sub/e");
  CopyTable(dir_ / "nomarks", dir_ / "many/f");
  kxtest::WriteFile(dir_ / "many/notes.txt", "not a table");
  const Result listed = Kxtable("check --summary many");
  std::vector<std::string> tables;
  for (const std::string& l : Lines(listed.out)) {
    tables.push_back(l.substr(0, l.find(':')));
  }
  const std::vector<std::string> sorted = {"many/B.kxt", "many/a.kxt",
                                           "many/c.kxt", "many/d.kxt",
                                           "many/f.kxt", "total"};
  EXPECT_EQ(tables, sorted);
  for (const char* options : {"--summary", "--summary --format tsv", "--full",
                              "--json", "-r --summary", "-r --crlf"}) {
    const std::string args = std::string("check ") + options + " many";
    const Result one = Kxtable(args);
    EXPECT_EQ(one.code, 1) << args;
    EXPECT_NE(one.err.find("many/f.kxa: the "), std::string::npos) << args;
    for (int jobs : {2, 3, 8}) {
      const Result many = Kxtable(args + " --jobs " + std::to_string(jobs));
      EXPECT_EQ(many.code, one.code) << args << " --jobs " << jobs;
      EXPECT_TRUE(many.out == one.out) << args << " --jobs " << jobs;
      EXPECT_EQ(many.err, one.err) << args << " --jobs " << jobs;
    }
  }
  EXPECT_NE(Kxtable("check -r --summary many").out.find("many/sub/e.kxt: "),
            std::string::npos);
  const Result quiet = Kxtable("check -q --jobs 2 --summary many");
  EXPECT_EQ(quiet.code, 1);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err,
            "kxtable: many/f.kxt: many/f.kxa: the attribute file "
            "is missing; no record reads as deleted\n");
}

// Repair over many tables leaves out the outputs of earlier repairs and says
// so once; a table named alone is repaired whatever its name.
TEST_F(ReportsTest, RepairLeavesOutEarlierOutputs) {
  ASSERT_EQ(Kxtable("repair -q logs").code, 0);
  for (const char* args : {"repair --replace --summary logs",
                           "repair --replace --jobs 2 logs/*.kxt logs/old",
                           "repair --replace -q logs/*.kxt"}) {
    const Result again = Kxtable(args);
    EXPECT_EQ(again.code, 0) << args;
    if (std::string(args).find(" -q ") == std::string::npos) {
      EXPECT_EQ(Lines(again.err).front(),
                "kxtable: left out 2 tables that are the outputs of an "
                "earlier repair (*_REPAIRED.kxt); name one alone to repair "
                "it again")
          << args;
    } else {
      EXPECT_EQ(again.err, "") << args;
    }
    EXPECT_FALSE(
        std::filesystem::exists(dir_ / "logs/damaged_REPAIRED_REPAIRED.kxt"));
  }
  EXPECT_EQ(Kxtable("repair -q logs/damaged_REPAIRED.kxt").code, 0);
  EXPECT_TRUE(
      std::filesystem::exists(dir_ / "logs/damaged_REPAIRED_REPAIRED.kxt"));
}

// Names with a line break or a tab stay on their one line, or in their one
// cell.
TEST_F(ReportsTest, NamesAreEscapedToOneLine) {
  CopyTable(dir_ / "clean", dir_ / "tab\there");
  const Result tsv =
      Kxtable("check --summary --format tsv 'tab\there.kxt' 'gone\nnow.kxt'");
  EXPECT_EQ(tsv.code, 2);
  EXPECT_EQ(tsv.out,
            "table\trecords\tfindings\tnull\tdeleted\tduplicate\tcorrupted\t"
            "status\n"
            "tab\\x09here.kxt\t2\t0\t0\t0\t0\t0\tclean\n"
            "gone\\x0anow.kxt\t0\t0\t0\t0\t0\t0\tmissing\n");
  EXPECT_EQ(tsv.err, "kxtable: gone\\x0anow.kxt: No such file or directory\n");
  EXPECT_EQ(Kxtable("check 'tab\there.kxt' clean.kxt")
                .out.rfind("==> tab\\x09here.kxt <==\n", 0),
            0u);
}

TEST_F(ReportsTest, RepairJsonNamesTheOutputAndTheStampsSet) {
  const Result r = Kxtable("repair --json damaged.kxt");
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(Lines(r.out).size(), 1u);
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["command"], "repair");
  EXPECT_EQ(doc["output"], "damaged_REPAIRED.kxt");
  EXPECT_EQ(doc["records_written"], 3);
  EXPECT_EQ(doc["output_removed"], false);
  EXPECT_EQ(doc["stamp_set_count"], 1);
  EXPECT_EQ(doc["records"], nlohmann::json::parse(R"([{"record": 3,
      "stamp": "2020-13-01 10:00:02", "findings": [{"test": "month"}],
      "set": "2020-01-01 10:00:01", "reason": "failed test"}])"));
  EXPECT_EQ(doc["rule"], "current");
  EXPECT_EQ(doc["spread"], nlohmann::json::array());
}

TEST_F(ReportsTest, HelpFitsEightyColumnsAndShowsAnExample) {
  for (const char* command : {"", "info", "dump", "load", "import", "export",
                              "sample", "check", "repair", "report"}) {
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
      {"kxtable help rep", "repair report"},
      {"kxtable report --fo", "--force"},
      {"kxtable sample t.kxt --kinds bitflip,zer", "bitflip,zerotime"},
      {"kxtable check --jo", "--jobs"},
      {"kxtable check --summary --format t", "text tsv"},
      {"kxtable import --date", "--date-format"},
      {"kxtable repair lo", "logs"},
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
  EXPECT_EQ(kxtable::ErrorLine("a\nb\x01.kxt",
                               "Could not open 'a\nb\x01.kxt': "
                               "a\nb\x01.kxt: no"),
            "kxtable: a\\x0ab\\x01.kxt: Could not open: no");
}

}  // namespace
