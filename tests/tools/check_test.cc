// kxtable check on real tables, made with kxtable load and kxtable sample:
// standard output must be the report byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system.h"
#include "tests/tools/support/tool_test_support.h"

namespace {

namespace fs = std::filesystem;
using kxtest::Result;

class CheckCommandTest : public kxtest::KxtableTest {};

// A record in the engine's layout, padded to 32 bytes.
std::string Rec(const std::string &stamp, const std::string &payload = "") {
  return kxtest::EngineRecord(stamp, payload, 32);
}

// Tables loaded from dumps, each checked: the report is the text after the
// two header lines, byte for byte; a table cut short is checked as far as
// it goes, with the engine's findings after the report on standard error.
TEST_F(CheckCommandTest, LoadedTablesGiveTheReportByteForByte) {
  std::string corrupted = Rec("2020-01-01 10:00:04", "dddd");
  corrupted[6] = '/';
  std::string nul_second = Rec("2019-01-01 10:01:05", "eeee");
  nul_second[16] = '\0';
  std::string high_day = Rec("2020-02-01 00:00:00", "ffff\xE9");
  high_day[7] = '\xE9';
  std::vector<kxtest::DumpRecord> twenty;
  for (int i = 0; i < 20; ++i) {
    twenty.push_back({Rec("2020-01-01 10:00:" + std::to_string(10 + i))});
  }
  struct Case {
    const char *name;
    std::vector<kxtest::DumpRecord> records;
    size_t cut = 0;  // bytes cut off the end of the data file
    int code = 0;
    int records_read;
    std::string report;    // after the header lines
    const char *err = "";  // a part of standard error, "" when it is empty
  };
  const std::string end = "\r\n*** Processing Complete ***\r\n";
  const Case cases[] = {
      {.name = "every kind of finding",
       .records = {{Rec("2020-01-01 10:00:00", "aaaa")},
                   {Rec("2020-01-01 10:00:01", "zzzz"), true},
                   {std::string(32, '\0')},
                   {Rec("2020-01-01 10:00:00", "aaaa")},
                   {Rec("2020-13-01 10:00:02", "bbbb")},
                   {Rec("2019-01-01 10:00:03", "cccc")},
                   {corrupted},
                   {nul_second},
                   {Rec("2099-12-31 23:59:59", "gggg")},
                   {high_day}},
       .code = 1,
       .records_read = 10,
       .report = "Rec: 5 - 2020-13-01 10:00:02 --> Month is invalid!\r\n"
                 "Rec: 6 - 2019-01-01 10:00:03 Date is out of sequence with "
                 "2020-13-01 10:00:02\r\n"
                 "Rec: 8 - 2019-01-01 10:01:0? --> Second is invalid!\r\n"
                 "Rec: 9 - 2099-12-31 23:59:59 --> Year is invalid!\r\n"
                 "Rec: 10 - 2020-02-\xC3\xA9"
                 "1 00:00:00 Date is out of sequence with 2099-12-31 "
                 "23:59:59\r\n"
                 "Rec: 10 - 2020-02-\xC3\xA9"
                 "1 00:00:00 --> Day is invalid!\r\n"
                 "Found 1 Deleted records\r\n"
                 "Found 1 Null records\r\n"
                 "Found 1 Duplicate records\r\n"
                 "Found 1 Corrupted records\r\n" +
                 end},
      {.name = "empty", .records_read = 0, .report = end},
      {.name = "cut short",
       .records = twenty,
       .cut = 32 * 5 + 1,
       .code = 1,
       .records_read = 14,
       .report = end,
       .err = "holds only 14 of the 20 committed records"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const std::string path = Path("t.kxt");
    const Result load =
        Kxtable("load '" + path + "'", kxtest::DumpText(c.records));
    ASSERT_EQ(load.code, 0) << load.err;
    fs::resize_file(Path("t.kxd"), fs::file_size(Path("t.kxd")) - c.cut);
    const Result check = Kxtable("check --crlf '" + path + "'");
    EXPECT_EQ(check.code, c.code);
    EXPECT_EQ(check.out, "Filename: " + path +
                             "\r\nRecords:  " + std::to_string(c.records_read) +
                             "\r\n" + c.report);
    if (*c.err == '\0') {
      EXPECT_EQ(check.err, "");
    } else {
      EXPECT_TRUE(check.err.starts_with("kxtable: " + path + ": "))
          << check.err;
      EXPECT_NE(check.err.find(c.err), std::string::npos) << check.err;
    }
  }
}

// What the report must be, worked out from the dump of the table: the
// record bytes as the engine stores them, read here without the engine.
std::string ReportFromDump(const std::string &path, const std::string &dump,
                           int year) {
  const std::vector<kxtest::DumpRecord> records = kxtest::ParseDump(dump);
  auto text = [](const std::string &bytes) {
    std::string out;
    for (unsigned char b : bytes) {
      if (b == 0) {
        out += '?';
      } else if (b < 0x80) {
        out += static_cast<char>(b);
      } else {
        out += static_cast<char>(0xC0 | (b >> 6));
        out += static_cast<char>(0x80 | (b & 0x3F));
      }
    }
    return out;
  };
  std::string log = "Filename: " + path +
                    "\r\nRecords:  " + std::to_string(records.size()) + "\r\n";
  int64_t chars = static_cast<int64_t>(log.size());  // ASCII path
  auto add = [&](const std::string &line_text, bool always) {
    if (!always && chars > 65000) return;
    log += line_text + "\r\n";
    for (unsigned char b : line_text) chars += (b & 0xC0) != 0x80;
    chars += 2;
  };
  std::string previous_stamp = "0000-00-00 00-00-00";
  std::string previous;
  int counts[4] = {0, 0, 0, 0};  // deleted, null, duplicate, corrupted
  char y[8];
  std::snprintf(y, sizeof y, "%04d", year);
  const std::string year_text = y;
  for (size_t i = 0; i < records.size(); ++i) {
    const auto &[b, deleted] = records[i];
    bool null = b.size() >= 17 && b.find_first_not_of('\0', 1) >= 17;
    if (null) {
      ++counts[1];
    } else if (deleted) {
      ++counts[0];
    } else if (b.size() < 15 || b[3] != '-' || b[6] != '-' || b[11] != ':' ||
               b[14] != ':') {
      ++counts[3];
    } else if (b == previous) {
      ++counts[2];
    } else {
      const std::string s = kxtest::RecordStamp(b);
      auto part = [&](size_t from, size_t length) {
        return from - 1 < s.size() ? s.substr(from - 1, length) : "";
      };
      auto out = [&](const std::string &low, const std::string &high,
                     const std::string &p) { return p < low || p > high; };
      std::string head = "Rec: " + std::to_string(i + 1) + " - " + text(s);
      if (s < previous_stamp) {
        add(head + " Date is out of sequence with " + text(previous_stamp),
            false);
      }
      const struct {
        size_t from;
        std::string low, high, name;
      } fields[] = {{1, "1990", year_text, "Year"}, {6, "01", "12", "Month"},
                    {9, "01", "31", "Day"},         {12, "00", "23", "Hour"},
                    {15, "00", "59", "Minute"},     {18, "00", "59", "Second"}};
      for (const auto &f : fields) {
        if (out(f.low, f.high, part(f.from, f.from == 1 ? 4 : 2))) {
          add(head + " --> " + f.name + " is invalid!", false);
        }
      }
      if (part(5, 1) != "-" || part(8, 1) != "-" || part(14, 1) != ":" ||
          part(17, 1) != ":") {
        add(head + " --> Separator(s) is invalid!", false);
      }
      previous_stamp = s;
      previous = b;
    }
  }
  if (chars > 65000) add(">>> Output Truncated <<<", true);
  const char *names[] = {" Deleted records", " Null records",
                         " Duplicate records", " Corrupted records"};
  for (int k = 0; k < 4; ++k) {
    if (counts[k] > 0) {
      add("Found " + std::to_string(counts[k]) + names[k], true);
    }
  }
  add("", true);
  add("*** Processing Complete ***", true);
  return log;
}

TEST_F(CheckCommandTest, SampleTablesGiveTheReportOfTheirRecords) {
  struct Case {
    int records;
    int seed;
    double damage;
  };
  const Case cases[] = {{1, 1, 0}, {3000, 7, 0.02}, {20000, 3, 0.3}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.records);
    std::string path = Path("sample" + std::to_string(c.seed) + ".kxt");
    Result sample =
        Kxtable("sample '" + path + "' --records " + std::to_string(c.records) +
                " --seed " + std::to_string(c.seed) + " --damage " +
                std::to_string(c.damage));
    ASSERT_EQ(sample.code, 0) << sample.err;
    Result dump = Kxtable("dump '" + path + "'");
    ASSERT_EQ(dump.code, 0) << dump.err;
    Result check = Kxtable("check --crlf '" + path + "'");
    EXPECT_EQ(check.code, c.damage > 0 ? 1 : 0) << check.err;
    EXPECT_EQ(check.err, "");
    std::string expected =
        ReportFromDump(path, dump.out, platform::CurrentYear());
    EXPECT_EQ(check.out, expected);
    if (c.damage >= 0.3) {
      EXPECT_NE(check.out.find(">>> Output Truncated <<<"), std::string::npos);
    }
  }
}

}  // namespace
