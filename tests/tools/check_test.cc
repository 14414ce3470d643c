// kxtable check on real tables, made with kxtable load and kxtable sample:
// standard output must be the report byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/record_codec.h"
#include "platform/system.h"
#include "tests/tools/support/tool_test_support.h"

namespace {

namespace fs = std::filesystem;
using kxtest::Hex;
using kxtest::Result;

class CheckCommandTest : public kxtest::KxtableTest {};

// A record in the engine's layout, padded to 32 bytes.
std::string Rec(const std::string& stamp, const std::string& payload = "") {
  return kxtest::EngineRecord(stamp, payload, 32);
}

std::string DumpLine(const std::string& record, bool deleted = false) {
  return std::string(deleted ? "D " : "- ") + Hex(record) + "\n";
}

TEST_F(CheckCommandTest, LoadedTableGivesTheReportByteForByte) {
  std::string corrupted = Rec("2020-01-01 10:00:04", "dddd");
  corrupted[6] = '/';
  std::string nul_second = Rec("2019-01-01 10:01:05", "eeee");
  nul_second[16] = '\0';
  std::string high_day = Rec("2020-02-01 00:00:00", "ffff\xE9");
  high_day[7] = '\xE9';
  std::string dump = DumpLine(Rec("2020-01-01 10:00:00", "aaaa")) +
                     DumpLine(Rec("2020-01-01 10:00:01", "zzzz"), true) +
                     DumpLine(std::string(32, '\0')) +
                     DumpLine(Rec("2020-01-01 10:00:00", "aaaa")) +
                     DumpLine(Rec("2020-13-01 10:00:02", "bbbb")) +
                     DumpLine(Rec("2019-01-01 10:00:03", "cccc")) +
                     DumpLine(corrupted) + DumpLine(nul_second) +
                     DumpLine(Rec("2099-12-31 23:59:59", "gggg")) +
                     DumpLine(high_day);
  std::string path = Path("line4.kxt");
  Result load = Kxtable("load '" + path + "'", dump);
  ASSERT_EQ(load.code, 0) << load.err;

  Result check = Kxtable("check --crlf '" + path + "'");
  EXPECT_EQ(check.code, 1);
  EXPECT_EQ(check.err, "");
  EXPECT_EQ(check.out,
            "Filename: " + path +
                "\r\n"
                "Records:  10\r\n"
                "Rec: 5 - 2020-13-01 10:00:02 --> Month is invalid!\r\n"
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
                "Found 1 Corrupted records\r\n"
                "\r\n"
                "*** Processing Complete ***\r\n");
}

TEST_F(CheckCommandTest, EmptyTable) {
  std::string path = Path("empty.kxt");
  ASSERT_EQ(Kxtable("load '" + path + "'").code, 0);
  Result check = Kxtable("check --crlf '" + path + "'");
  EXPECT_EQ(check.code, 0);
  EXPECT_EQ(check.out, "Filename: " + path +
                           "\r\nRecords:  0\r\n\r\n*** Processing Complete "
                           "***\r\n");
}

// A data file cut short: the scan reads the records it holds, and the
// engine's findings follow the report on standard error.
TEST_F(CheckCommandTest, TableCutShortIsCheckedAsFarAsItGoes) {
  std::string dump;
  for (int i = 0; i < 20; ++i) {
    dump += DumpLine(Rec("2020-01-01 10:00:" + std::to_string(10 + i)));
  }
  std::string path = Path("cut.kxt");
  ASSERT_EQ(Kxtable("load '" + path + "'", dump).code, 0);
  fs::path data = Path("cut.kxd");
  fs::resize_file(data, fs::file_size(data) - 32 * 5 - 1);

  Result check = Kxtable("check --crlf '" + path + "'");
  EXPECT_EQ(check.code, 1);
  EXPECT_EQ(check.out, "Filename: " + path +
                           "\r\nRecords:  14\r\n\r\n*** Processing Complete "
                           "***\r\n");
  EXPECT_EQ(check.err.rfind("kxtable: " + path + ": ", 0), 0u) << check.err;
  EXPECT_NE(check.err.find("holds only 14 of the 20 committed records"),
            std::string::npos)
      << check.err;
}

// What the report must be, worked out from the dump of the table: the
// record bytes as the engine stores them, read here without the engine.
std::string ReportFromDump(const std::string& path, const std::string& dump,
                           int year) {
  std::vector<std::pair<bool, std::string>> records;
  std::istringstream lines(dump);
  std::string line;
  while (std::getline(lines, line)) {
    std::string bytes;
    for (size_t i = 2; i + 1 < line.size(); i += 2) {
      bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    }
    records.emplace_back(line[0] == 'D', bytes);
  }
  auto text = [](const std::string& bytes) {
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
  auto add = [&](const std::string& line_text, bool always) {
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
    const auto& [deleted, b] = records[i];
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
      std::string date, time;
      if (b.substr(0, 9).find_first_not_of('\0') != std::string::npos) {
        date += kalvex::CenturyHigh(b[0]);
        date += kalvex::CenturyLow(b[0]);
        date += b.substr(1, 8);
      }
      if (b.substr(9, 8).find_first_not_of('\0') != std::string::npos) {
        time = b.substr(9, 8);
      }
      std::string s = date + " " + time;
      auto part = [&](size_t from, size_t length) {
        return from - 1 < s.size() ? s.substr(from - 1, length) : "";
      };
      auto out = [&](const std::string& low, const std::string& high,
                     const std::string& p) { return p < low || p > high; };
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
      for (const auto& f : fields) {
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
  const char* names[] = {" Deleted records", " Null records",
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
  for (const Case& c : cases) {
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
