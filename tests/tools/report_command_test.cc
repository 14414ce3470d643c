// kxtable report: the page it writes for each kind of table, its exit
// status, where the page goes and what it never writes over.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/tools/support/tool_test_support.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using kxtest::Result;

// The data a page carries.
Json PageData(const std::string& page) {
  const std::string open = "<script type=\"application/json\" id=\"kx-data\">";
  const size_t at = page.find(open);
  if (at == std::string::npos) return nullptr;
  const size_t from = at + open.size();
  return Json::parse(page.substr(from, page.find("</script>", from) - from));
}

class ReportCommandTest : public kxtest::KxtableTest {
 protected:
  void Sample(const std::string& name, const std::string& options) {
    const Result made =
        Kxtable("sample '" + Path(name) + "' --seed 3 " + options);
    ASSERT_EQ(made.code, 0) << made.err;
  }
};

TEST_F(ReportCommandTest, PageAndStatusForEachKindOfTable) {
  struct Case {
    const char* name;
    const char* sample = "";  // kxtable sample's options; "" for no table
    const char* remove = "";  // a companion file taken away
    const char* text = "";    // the .kxt's bytes when there is no sample
    int code;                 // 2: no page
    const char* status = "";
    const char* err = "";  // in standard error
  };
  const std::vector<Case> cases = {
      {.name = "clean",
       .sample = "--records 300",
       .code = 0,
       .status = "clean"},
      {.name = "damaged",
       .sample = "--records 300 --damage 0.1",
       .code = 1,
       .status = "damaged"},
      {.name = "empty", .sample = "--records 0", .code = 0, .status = "clean"},
      {.name = "no_index",
       .sample = "--records 300",
       .remove = ".kxi",
       .code = 1,
       .status = "damaged",
       .err = "the index file is missing"},
      {.name = "missing", .code = 2, .err = "No such file or directory"},
      {.name = "not_a_table",
       .text = "these are not the bytes of a table\n",
       .code = 2,
       .err = "Cannot open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string table = Path(std::string(c.name) + ".kxt");
    const std::string page = Path(std::string(c.name) + ".report.html");
    if (*c.sample) Sample(std::string(c.name) + ".kxt", c.sample);
    if (*c.remove) fs::remove(Path(std::string(c.name) + c.remove));
    if (*c.text) kxtest::WriteFile(table, c.text);

    const Result r = Kxtable("report --no-progress '" + table + "'");
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    // The same status as the check of the table.
    EXPECT_EQ(Kxtable("check -q '" + table + "'").code, c.code);
    ASSERT_EQ(fs::exists(page), c.code != 2);
    if (c.code == 2) {
      EXPECT_EQ(r.out, "");
      continue;
    }
    EXPECT_EQ(r.out, page + "\n");
    const Json data = PageData(kxtest::ReadFile(page));
    ASSERT_TRUE(data.is_object());
    EXPECT_EQ(data["table"]["path"], table);
    EXPECT_EQ(data["table"]["exit_status"], c.code);
    EXPECT_EQ(data["table"]["status"], c.status);
    EXPECT_EQ(data["table"]["complete"], true);
    EXPECT_NE(data["table"]["layout"].get<std::string>().find("bytes a record"),
              std::string::npos);
    EXPECT_EQ(data["table"]["problems"].empty(), !*c.remove);
  }
}

// The map is fed by the check itself: the page counts what check --json
// reports, kind by kind, on a table with every kind of damage.
TEST_F(ReportCommandTest, PageCountsWhatTheCheckFinds) {
  Sample("all.kxt", "--records 5000 --damage 0.2");
  const Result report = Kxtable("report -q -o - '" + Path("all.kxt") + "'");
  ASSERT_EQ(report.code, 1) << report.err;
  const Json page = PageData(report.out);
  const Result check = Kxtable("check --json '" + Path("all.kxt") + "'");
  const Json doc = Json::parse(check.out);

  for (const auto& [test, count] : doc["findings_by_test"].items()) {
    EXPECT_EQ(page["totals"][test], count) << test;
  }
  for (const char* kind : {"null", "deleted", "duplicate", "corrupted"}) {
    EXPECT_EQ(page["totals"][kind], doc["counts"][kind]) << kind;
  }
  EXPECT_GT(page["totals"]["null"].get<int>(), 0);
  EXPECT_EQ(page["table"]["records"], doc["record_count"]);
  EXPECT_EQ(page["totals"]["noted"], doc["record_count"]);
  // With -o - the page is all of standard output.
  EXPECT_EQ(report.out.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_FALSE(fs::exists(Path("all.report.html")));
}

TEST_F(ReportCommandTest, PageNeverGoesOverWhatIsThere) {
  struct Case {
    const char* name;
    const char* args;         // after "report", before the table
    const char* before = "";  // x.report.html's bytes; "" for none
    const char* link = "";    // x.report.html is a link to this
    int code;
    const char* page_bytes;  // x.report.html after, "?" for a new page
    const char* err = "";
  };
  const std::vector<Case> cases = {
      {.name = "new page", .args = "", .code = 0, .page_bytes = "?"},
      {.name = "existing page kept",
       .args = "",
       .before = "old",
       .code = 1,
       .page_bytes = "old",
       .err = "exists (--force replaces it)"},
      {.name = "existing page replaced",
       .args = "--force",
       .before = "old",
       .code = 0,
       .page_bytes = "?"},
      {.name = "link to the data file refused",
       .args = "--force",
       .link = "x.kxd",
       .code = 1,
       .page_bytes = "",
       .err = "is the same file as the table's"},
      {.name = "link elsewhere replaced, not followed",
       .args = "--force",
       .link = "other.txt",
       .code = 0,
       .page_bytes = "?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    Sample("x.kxt", "--records 100");
    kxtest::WriteFile(Path("other.txt"), "other");
    const std::string data_before = kxtest::ReadFile(Path("x.kxd"));
    const std::string page = Path("x.report.html");
    if (*c.before) kxtest::WriteFile(page, c.before);
    if (*c.link) fs::create_symlink(c.link, page);

    const Result r =
        Kxtable("report " + std::string(c.args) + " '" + Path("x.kxt") + "'");
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(kxtest::ReadFile(Path("x.kxd")), data_before);
    EXPECT_EQ(kxtest::ReadFile(Path("other.txt")), "other");
    if (std::string(c.page_bytes) == "?") {
      EXPECT_FALSE(fs::is_symlink(page));
      EXPECT_TRUE(PageData(kxtest::ReadFile(page)).is_object());
    } else if (*c.page_bytes) {
      EXPECT_EQ(kxtest::ReadFile(page), c.page_bytes);
    }
    // Nothing staged is left behind.
    for (const auto& entry : fs::directory_iterator(dir_)) {
      EXPECT_EQ(entry.path().filename().string().find(".report.html."),
                std::string::npos);
    }
  }

  // -o naming the table's own file, under another name for its folder.
  const std::string data_before = kxtest::ReadFile(Path("x.kxd"));
  fs::create_directory_symlink(dir_, Path("same"));
  const Result own =
      Kxtable("report --force -o same/x.kxd '" + Path("x.kxt") + "'");
  EXPECT_EQ(own.code, 1);
  EXPECT_NE(own.err.find("is the same file as the table's"), std::string::npos);
  EXPECT_EQ(kxtest::ReadFile(Path("x.kxd")), data_before);
}

TEST_F(ReportCommandTest, OnePageForEachTableOfAFolder) {
  fs::create_directories(Path("logs/sub"));
  Sample("logs/a.kxt", "--records 50");
  Sample("logs/sub/b.kxt", "--records 50 --damage 0.2");
  const Result r = Kxtable("report -r logs");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(r.out, "logs/a.report.html\nlogs/sub/b.report.html\n");
  EXPECT_EQ(
      PageData(kxtest::ReadFile(Path("logs/a.report.html")))["table"]["status"],
      "clean");
  EXPECT_EQ(PageData(kxtest::ReadFile(
                Path("logs/sub/b.report.html")))["table"]["status"],
            "damaged");

  // -o names one page: neither several tables nor a folder.
  for (const char* args :
       {"-o p.html logs/a.kxt logs/sub/b.kxt", "-o p.html logs"}) {
    const Result refused = Kxtable(std::string("report ") + args);
    EXPECT_EQ(refused.code, 2) << args;
    EXPECT_NE(refused.err.find("-o names the page of one table"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(Path("p.html")));
  }
}

// --repair reads T_REPAIRED.kxt beside the table; --restore reads no output.
TEST_F(ReportCommandTest, RepairAndRestoreOverlays) {
  Sample("t.kxt", "--records 3000 --damage 0.1");
  ASSERT_EQ(
      Kxtable("sample other.kxt --records 3000 --damage 0.1 --seed 9").code, 0);
  struct Case {
    const char* name;
    const char* args;
    const char* before = "";  // a shell command run first, in the folder
    int code;
    const char* err = "";  // in standard error
    bool dry_run = false;
    bool warning = false;
  };
  const std::vector<Case> cases = {
      {.name = "no output yet",
       .args = "--repair",
       .code = 2,
       .err = "t_REPAIRED.kxt: No such file or directory\n"},
      {.name = "both",
       .args = "--repair --restore",
       .code = 2,
       .err = "excludes"},
      {.name = "restore", .args = "--restore", .code = 1, .dry_run = true},
      {.name = "repair", .args = "--repair", .before = "repair -q", .code = 1},
      {.name = "another table's repair",
       .args = "--repair --repaired other_REPAIRED.kxt",
       .before = "repair -q other.kxt",
       .code = 1,
       .err = "does not match the table",
       .warning = true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (*c.before) {
      const std::string what = c.before;
      const Result made = Kxtable(what + (what.find(".kxt") == std::string::npos
                                              ? " '" + Path("t.kxt") + "'"
                                              : ""));
      ASSERT_LE(made.code, 1) << made.err;
    }
    const Result r = Kxtable("report -q -o - " + std::string(c.args) + " '" +
                             Path("t.kxt") + "'");
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    if (c.code == 2) {
      EXPECT_EQ(r.out, "");
      continue;
    }
    const Json repair = PageData(r.out)["repair"];
    ASSERT_TRUE(repair.is_object());
    EXPECT_EQ(repair["dry_run"], c.dry_run);
    EXPECT_EQ(repair["warning"].is_null(), !c.warning);
    if (!c.warning) EXPECT_GT(repair["replaced"].get<int>(), 0);
  }
  // The repair replaced what its log says it set.
  const Result log = Kxtable("repair --full --replace '" + Path("t.kxt") + "'");
  size_t set = 0;
  for (size_t at = 0;
       (at = log.out.find("- Date set to --> ", at)) != std::string::npos;
       ++at) {
    ++set;
  }
  const Json page =
      PageData(Kxtable("report -q -o - --repair '" + Path("t.kxt") + "'").out);
  EXPECT_EQ(page["repair"]["replaced"].get<size_t>() +
                page["repair"]["separators"].get<size_t>(),
            set);
}

}  // namespace
