// kxtable import and export: CSV quoting, the escaping of bytes that are not
// text, refusals that name the line, and exact round trips of tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/record_table.h"
#include "tests/tools/support/tool_test_support.h"
#include "tools/kxtable/csv_codec.h"
#include "tools/kxtable/csv_convert.h"
#include "tools/kxtable/sample_generator.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

using kxtest::ReadFile;
using kxtest::Result;
using kxtest::WriteFile;

// --- Cells -----------------------------------------------------------------

TEST(CsvCellTest, EscapesWhatIsNotText) {
  struct Case {
    std::string bytes;
    std::string cell;
  };
  const std::vector<Case> cases = {
      {"2024-01-05", "2024-01-05"},
      {"", ""},
      {"a\0b"s, "a\\x00b"},
      {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
      {"tab\there\r\nline", "tab\there\r\nline"},  // quoting carries these
      {"C:\\data\\new", "C:\\data\\new"},          // plain backslashes
      {"\\x41", "\\x5cx41"},                       // would read as an escape
      {"\\xg1\\x4", "\\xg1\\x4"},
      {"\\\\x41", "\\\\x5cx41"},
      {"25\xc2\xb0"
       "C",
       "25\xc2\xb0"
       "C"},                                     // valid UTF-8 stays
      {"\xe2\x82\xac", "\xe2\x82\xac"},          // euro sign
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},  // 4-byte sequence
      {"\xff\xfe", "\\xff\\xfe"},
      {"\xc0\x80", "\\xc0\\x80"},           // overlong
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},  // surrogate
      {"\xe2\x82", "\\xe2\\x82"},           // cut short
      {"\xc2", "\\xc2"},
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // above U+10FFFF
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kxtable::EscapeCell(c.bytes), c.cell) << c.cell;
    std::string back;
    kxtable::UnescapeCell(c.cell, back);
    EXPECT_EQ(back, c.bytes) << c.cell;
  }
  // Reading takes \xHH in either case and leaves the rest alone.
  std::string bytes;
  kxtable::UnescapeCell("\\x4A\\x4b\\x\\x4\\q\\", bytes);
  EXPECT_EQ(bytes, "JK\\x\\x4\\q\\");
}

TEST(CsvCellTest, AnyBytesSurviveEscapingAsCleanText) {
  std::mt19937_64 random(7);
  const std::string alphabet = "\\x0aF,\"\n\r \xc2\xb0\xff\x80\x00"s;
  for (int round = 0; round < 5000; ++round) {
    std::string bytes(random() % 12, '\0');
    for (char& b : bytes) {
      b = round % 2 ? static_cast<char>(random())
                    : alphabet[random() % alphabet.size()];
    }
    const std::string cell = kxtable::EscapeCell(bytes);
    std::string back;
    kxtable::UnescapeCell(cell, back);
    ASSERT_EQ(back, bytes) << cell;
    for (unsigned char c : cell) {
      ASSERT_TRUE(c >= 0x20 || c == '\t' || c == '\n' || c == '\r') << cell;
      ASSERT_NE(c, 0x7f) << cell;
    }
  }
}

TEST(CsvCellTest, QuotesWhereNeeded) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"},           {"", ""},
      {"a,b", "\"a,b\""},           {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"\"", "\"\"\"\""},           {"two\nlines", "\"two\nlines\""},
      {"cr\rhere", "\"cr\rhere\""}, {" lead", "\" lead\""},
      {"trail\t", "\"trail\t\""},   {"in side", "in side"},
  };
  for (const auto& [cell, written] : cases) {
    std::string line = "x,";
    kxtable::AppendCsvCell(line, cell);
    EXPECT_EQ(line, "x," + written);
  }
}

TEST(CsvCellTest, ColumnHeadings) {
  struct Case {
    std::string heading;
    std::string name;
    uint32_t width;
  };
  const std::vector<Case> cases = {
      {"value", "value", 0},   {"value:9", "value", 9},   {"a:b:12", "a:b", 12},
      {"temp:C", "temp:C", 0}, {"x:0", "x:0", 0},         {"x:07", "x:07", 0},
      {"x:65535", "x", 65535}, {"x:65536", "x:65536", 0}, {"x:", "x:", 0},
      {":5", "", 5},           {"x:1e3", "x:1e3", 0},     {"x: 5", "x: 5", 0},
  };
  for (const Case& c : cases) {
    const kxtable::ColumnHeading heading =
        kxtable::ParseColumnHeading(c.heading);
    EXPECT_EQ(heading.name, c.name) << c.heading;
    EXPECT_EQ(heading.width, c.width) << c.heading;
    if (c.width != 0) {
      EXPECT_EQ(kxtable::FormatColumnHeading(heading), c.heading);
    }
  }
}

// --- Files -----------------------------------------------------------------

class CsvFileTest : public kxtest::KxtableTest {
 protected:
  std::string Csv(const std::string& text) {
    WriteFile(dir_ / "in.csv", text);
    return Path("in.csv");
  }

  std::string Export(const std::string& table) {
    const std::string out = Path("export.csv");
    std::FILE* file = std::fopen(out.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    kxtable::ExportCsv(table, file);
    std::fclose(file);
    return ReadFile(out);
  }
};

TEST_F(CsvFileTest, ReaderFollowsQuotingAndNamesStartingLines) {
  struct Row {
    int64_t line;
    std::vector<std::string> cells;
    bool operator==(const Row&) const = default;
  };
  const std::string path =
      Csv("a,b,c\r\n"
          "\"x,1\",\"say \"\"hi\"\"\", plain \r\n"
          "\r\n"
          "\"two\nlines\",\"three\r\n\r\nlines\",\n"
          ",,\n"
          "\n"
          "\"\",\"\"\"\",\\x41\n"
          "nul\0byte,\xff,last"s);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  kxtable::CsvReader reader(file, path, '\0');
  std::vector<Row> rows;
  std::span<const std::string> cells;
  int64_t line = 0;
  while (reader.ReadRow(cells, line)) {
    rows.push_back({line, {cells.begin(), cells.end()}});
  }
  std::fclose(file);
  const std::vector<Row> expected = {
      {1, {"a", "b", "c"}},
      {2, {"x,1", "say \"hi\"", " plain "}},
      {4, {"two\nlines", "three\r\n\r\nlines", ""}},
      {8, {"", "", ""}},
      {10, {"", "\"", "\\x41"}},
      {11, {"nul\0byte"s, "\xff", "last"}},
  };
  EXPECT_EQ(rows, expected);
}

TEST_F(CsvFileTest, ImportRefusesBadInputNamingTheLine) {
  struct Case {
    std::string csv;
    std::string message;
  };
  const std::string header = "date,time,v\n";
  const std::vector<Case> cases = {
      {"", "in.csv: line 1: no header row"},
      {"date\n", "line 1: the header needs the date and time columns"},
      {"date,time,\n", "line 1: column 3 has no name"},
      {"date,time,:4\n", "line 1: column 3 has no name"},
      {header + "2024-01-05,10:00:00,a\n2024-01-05,10:00:01\n",
       "line 3: 2 columns, the first row has 3"},
      {header + "2024-01-05,10:00:00,a,b\n", "line 2: 4 columns"},
      {header + "\n\n2024-1-5,10:00:00,a\n",
       "line 4, column 1: date \"2024-1-5\" is not YYYY-MM-DD"},
      {header + "AB24-01-05,10:00:00,a\n",
       "line 2, column 1: date \"AB24-01-05\" is not YYYY-MM-DD"},
      {header + "\\x40024-01-05,10:00:00,a\n",
       "line 2, column 1: date \"\\x40024-01-05\" is not led by two digits"},
      {header + "2024-01-05,10:00,a\n",
       "line 2, column 2: time \"10:00\" is not HH:MM:SS (--time-format"},
      {header + "2024-01-05,10:00:00,ab\"c\n", "line 2: misplaced quote"},
      {header + "2024-01-05,10:00:00,\"ab\"c\n", "line 2: misplaced quote"},
      {header + "2024-01-05,10:00:00,a\n2024-01-05,10:00:00,\"open\n\n",
       "line 3: a quoted field is not closed before the end of the file"},
      {"date,time,deleted\n2024-01-05,10:00:00,yes\n",
       "line 2: deleted must be 0 or 1, not \"yes\""},
      {header + "2024-01-05,\"1\n:00\",a\n",
       "line 2, column 2: time \"1\\x0a:00\" is not HH:MM:SS"},
  };
  for (const Case& c : cases) {
    const std::string csv = Csv(c.csv);
    try {
      kxtable::ImportCsv(csv, Path("t.kxt"), false);
      ADD_FAILURE() << "accepted: " << c.csv;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << e.what();
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
    for (const char* file : {"t.kxt", "t.kxd", "t.kxa", "t.kxi"}) {
      EXPECT_FALSE(fs::exists(dir_ / file)) << file << " left by " << c.csv;
    }
  }
}

TEST_F(CsvFileTest, ImportSizesFieldsAndExportWritesTheCanonicalForm) {
  const std::string csv =
      "Datum,Zeit,name,\"note, long\",code:6,deleted\r\n"
      "2024-01-05,10:00:00,\"a \"\"b\"\"\",\"x\r\ny\",7,1\r\n"
      "\r\n"
      "2024-01-06,10:00:01,,z,,\r\n"
      ",,plain,C:\\data,\\x00\\xff,0\r\n"
      "1999-13-45,25:61:61,\xc2\xb0,\\x5cx41,12345678,0";  // no final newline
  const kxtable::ImportResult result =
      kxtable::ImportCsv(Csv(csv), Path("t.kxt"), false);
  EXPECT_EQ(result.records, 4);
  EXPECT_EQ(result.deleted, 1);

  kalvex::RecordTable table;
  table.Open(Path("t.kxt"));
  const std::vector<kalvex::FieldDef> expected_fields = {
      {"name", 5}, {"note, long", 7}, {"code", 8}};
  ASSERT_EQ(table.Layout().payload.size(), expected_fields.size());
  for (size_t i = 0; i < expected_fields.size(); ++i) {
    EXPECT_EQ(table.Layout().payload[i].name, expected_fields[i].name);
    EXPECT_EQ(table.Layout().payload[i].width, expected_fields[i].width);
  }
  ASSERT_EQ(table.RecordCount(), 4);
  table.GoToRecord(1);
  EXPECT_TRUE(table.Deleted());
  EXPECT_EQ(table.RecordBuffer(),
            "\x20"
            "24-01-0510:00:00a \"b\"x\r\ny\0\0\0"
            "7\0\0\0\0\0\0\0"s);
  table.GoToRecord(3);
  EXPECT_FALSE(table.Deleted());
  EXPECT_EQ(table.RecordBuffer(), std::string(17, '\0') +
                                      "plain"
                                      "C:\\data"
                                      "\0\xff\0\0\0\0\0\0"s);
  table.GoToRecord(4);
  EXPECT_EQ(table.FieldGet(1), "1999-13-45");
  EXPECT_EQ(table.FieldGet(2), "25:61:61");
  table.Close();

  EXPECT_EQ(Export(Path("t.kxt")),
            "date,time,name:5,\"note, long:7\",code:8,deleted\n"
            "2024-01-05,10:00:00,\"a \"\"b\"\"\",\"x\r\ny\",7,1\n"
            "2024-01-06,10:00:01,,z,,0\n"
            ",,plain,C:\\data,\\x00\\xff,0\n"
            "1999-13-45,25:61:61,\xc2\xb0,\\x5cx41,12345678,0\n");
}

// Every byte of every record, and every mark, comes back.
TEST_F(CsvFileTest, ExportThenImportGivesBackTheSameTable) {
  kalvex::TableLayout layout;
  layout.payload = {{"a", 3}, {"b,\"c\"", 5}, {"x:2", 1}};
  kalvex::RecordTable::CreateDefinition(Path("src.kxt"), layout, false);
  std::vector<std::string> records;
  std::vector<bool> marks;
  {
    kalvex::RecordTable table;
    table.SetAccessMode(kalvex::kAppend);
    table.Open(Path("src.kxt"));
    std::mt19937_64 random(11);
    const std::string pool = "0123456789-: ,\"\n\r\\x\0\xff\xc2\xb0"s;
    for (int i = 0; i < 3000; ++i) {
      std::string record(layout.RecordLength(), '\0');
      for (char& b : record) {
        switch (random() % 4) {
          case 0:
            b = static_cast<char>(random());
            break;
          case 1:
            b = '\0';
            break;
          default:
            b = pool[random() % pool.size()];
        }
      }
      if (i % 7 == 0) record = std::string(record.size(), '\0');
      records.push_back(record);
      marks.push_back(i % 5 == 0);
      table.SetRecordBuffer(record);
      if (marks.back()) {
        table.AppendDeletedRecord();
      } else {
        table.AppendRecord(0);
      }
    }
    table.Close();
  }
  const std::string csv = Export(Path("src.kxt"));
  WriteFile(dir_ / "copy.csv", csv);
  const kxtable::ImportResult result =
      kxtable::ImportCsv(Path("copy.csv"), Path("copy.kxt"), false);
  EXPECT_EQ(result.records, 3000);
  EXPECT_EQ(Export(Path("copy.kxt")), csv);

  kalvex::RecordTable copy;
  copy.Open(Path("copy.kxt"));
  ASSERT_EQ(copy.Layout().payload.size(), 3u);
  EXPECT_EQ(copy.Layout().payload[1].name, "b,\"c\"");
  EXPECT_EQ(copy.Layout().payload[2].name, "x:2");
  ASSERT_EQ(copy.RecordCount(), 3000);
  for (int32_t n = 1; n <= 3000; ++n) {
    copy.GoToRecord(n);
    ASSERT_EQ(copy.RecordBuffer(), records[n - 1]) << n;
    ASSERT_EQ(copy.Deleted(), marks[n - 1]) << n;
  }
  copy.Close();
}

TEST_F(CsvFileTest, DamagedSampleRoundTripsThroughTheCommandLine) {
  ASSERT_EQ(Kxtable("sample s.kxt --records 4000 --seed 9 --damage 0.5").code,
            0);
  const Result exported = Kxtable("export s.kxt");
  ASSERT_EQ(exported.code, 0) << exported.err;
  WriteFile(dir_ / "s.csv", exported.out);
  ASSERT_EQ(Kxtable("import s.csv t.kxt").code, 0);
  for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"}) {
    EXPECT_EQ(ReadFile(dir_ / ("s"s + ext)), ReadFile(dir_ / ("t"s + ext)))
        << ext;
  }
}

// `text` (UTF-8 of the Basic Multilingual Plane) as UTF-16 with its byte
// order mark, as Excel writes "Unicode text".
std::string Utf16(const std::string& text, bool little_endian) {
  std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned code = static_cast<unsigned char>(text[i]);
    if (code >= 0xc0) {
      code =
          (code & 0x1f) << 6 | (static_cast<unsigned char>(text[++i]) & 0x3f);
    }
    const char high = static_cast<char>(code >> 8);
    const char low = static_cast<char>(code & 0xff);
    out += little_endian ? std::string{low, high} : std::string{high, low};
  }
  return out;
}

// What spreadsheets write: a byte order mark, semicolons or tabs, no header
// row, UTF-16, dates and times in other layouts. Each case gives the export
// of the imported table, or the refusal.
TEST_F(CsvFileTest, SpreadsheetFilesImportAsTheyRead) {
  struct Case {
    std::string flags;  // after "import"; "-" reads the input from stdin
    std::string csv;
    std::string exported;  // or the start of the message after "kxtable: "
  };
  const std::string table = "date,time,v:1,deleted\n2024-01-05,10:00:00,a,0\n";
  const std::vector<Case> cases = {
      {"in.csv",
       "\xEF\xBB\xBF\"date\",\"time\",\"v\"\r\n2024-01-05,10:00:00,a\r\n",
       table},
      {"-", "date;time;v\n2024-01-05;10:00:00;a\n", table},
      {"-", "date\ttime\tv\n2024-01-05\t10:00:00\ta\n", table},
      {"- --delimiter tab", "d,1\tt\tv\n2024-01-05\t10:00:00\ta\n",
       "date,time,v:1,deleted\n2024-01-05,10:00:00,a,0\n"},
      {"- --no-header", "2024-01-05,10:00:00,a\n",
       "date,time,field3:1,deleted\n2024-01-05,10:00:00,a,0\n"},
      {"- --no-header --delimiter ';'", "2024-01-05;10:00:00;a;1\n",
       "date,time,field3:1,field4:1,deleted\n2024-01-05,10:00:00,a,1,0\n"},
      {"-", "2024-01-05,10:00:00,a\n",
       "standard input: line 1: the first row holds a date and a time, not "
       "column names (--no-header"},
      {"- --delimiter ,", "date;time;v\n",
       "standard input: line 1: the header needs the date and time columns "
       "first, found 1 column (if the file is separated by ';' or tabs"},
      // A comma inside quotes does not make the file comma-separated.
      {"-", "date;time;\"v,w\"\n2024-01-05;10:00:00;a\n",
       "date,time,\"v,w:1\",deleted\n2024-01-05,10:00:00,a,0\n"},
      {"in.csv --date-format %d/%m/%Y --time-format %H:%M",
       Utf16("date\ttime\tv\r\n01/03/2024\t08:00\t25\u00b0\r\n", true),
       "date,time,v:4,deleted\n2024-03-01,08:00:00,25\u00b0,0\n"},
      {"-", Utf16("date,time,v\n2024-01-05,10:00:00,a\n", false), table},
      {"in.csv",
       "\xFF\xFE"
       "d\0"
       "\x00\xDC"
       "x\0"s,
       "in.csv: byte 5: not UTF-16 text"},
      // Dates and times in another layout are refused, naming the cell,
      // unless a format says how to read them; damaged stamps written as
      // export writes them are kept.
      {"-", "date,time,v\n01/03/2024,08:00:00,a\n",
       "standard input: line 2, column 1: date \"01/03/2024\" is not "
       "YYYY-MM-DD (--date-format"},
      {"- --date-format %m/%d/%y --time-format '%I:%M:%S %p'",
       "date,time,v\n1/3/24,01:02:03 PM,a\n",
       "date,time,v:1,deleted\n2024-01-03,13:02:03,a,0\n"},
      {"- --date-format %d/%m/%Y", "date,time,v\n2024-01-03,08:00:00,a\n",
       "standard input: line 2, column 1: date \"2024-01-03\" does not match "
       "--date-format '%d/%m/%Y'"},
      {"- --date-format %d.%m.%Y --time-format %H:%M", "05.01.2024,10:00,a\n",
       "standard input: line 1: the first row holds a date and a time"},
      {"- --no-header --date-format %d.%m.%Y --time-format %H:%M",
       "05.01.2024,10:00,a\n",
       "date,time,field3:1,deleted\n2024-01-05,10:00:00,a,0\n"},
      {"-",
       "date,time,v\n2024-13-45,25:61:61,a\n"
       "2024\\x2f01\\x2f05,10\\x2e00\\x2e00,b\n",
       "date,time,v:1,deleted\n2024-13-45,25:61:61,a,0\n"
       "2024\\x2f01\\x2f05,10\\x2e00\\x2e00,b,0\n"},
  };
  for (const Case& c : cases) {
    fs::remove(dir_ / "t.kxt");
    WriteFile(dir_ / "in.csv", c.csv);
    const Result import =
        Kxtable("import " + c.flags + " t.kxt --force", c.csv);
    if (import.code != 0) {
      EXPECT_EQ(import.err.rfind("kxtable: " + c.exported, 0), 0u)
          << c.flags << ": " << import.err;
      continue;
    }
    EXPECT_EQ(Kxtable("export t.kxt -").out, c.exported) << c.flags;
    EXPECT_EQ(Kxtable("export t.kxt").out, c.exported) << c.flags;
  }
}

TEST_F(CsvFileTest, ExportToAFileAppearsWholeAndReplacesOnlyWithForce) {
  WriteFile(dir_ / "in.csv", "date,time,v\n2024-01-05,10:00:00,a\n");
  ASSERT_EQ(Kxtable("import in.csv t.kxt").code, 0);
  WriteFile(dir_ / "out.csv", "old");
  const Result refused = Kxtable("export t.kxt out.csv");
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.err,
            "kxtable: out.csv: the file exists (--force "
            "replaces it)\n");
  EXPECT_EQ(ReadFile(dir_ / "out.csv"), "old");
  EXPECT_EQ(Kxtable("export t.kxt out.csv --force").code, 0);
  EXPECT_EQ(Kxtable("export t.kxt new.csv").code, 0);
  for (const char* name : {"out.csv", "new.csv"}) {
    EXPECT_EQ(ReadFile(dir_ / name),
              "date,time,v:1,deleted\n2024-01-05,10:00:00,a,0\n");
  }
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().string().find(".csv."), std::string::npos)
        << "left under a temporary name: " << entry.path();
  }
}

TEST_F(CsvFileTest, ExitCodesAndExistingTables) {
  WriteFile(dir_ / "good.csv", "date,time,v\n2024-01-05,10:00:00,a\n");
  WriteFile(dir_ / "two.csv",
            "date,time,v\n2024-01-05,10:00:00,a\n2024-01-05,10:00:01,b\n");
  WriteFile(dir_ / "bad.csv", "date,time,v\n2024-01-05,10:00:00\n");
  ExpectExits({
      {"import two.csv t.kxt", 0, ""},
      {"import good.csv t.kxt", 1, "t.kxt: the table exists"},
      {"import bad.csv t.kxt --force", 1, "bad.csv: line 2: 2 columns"},
      {"import missing.csv u.kxt", 2,
       "kxtable: missing.csv: No such file or directory\n"},
      {"import good.csv", 2, "table"},
      {"import good.csv t.txt", 2, ".kxt"},
      {"import", 2, "csv"},
      {"export missing.kxt", 2, "missing.kxt: No such file or directory"},
      {"export", 2, "table"},
      {"export two.csv", 2, ".kxt"},
  });
  EXPECT_FALSE(fs::exists(dir_ / "u.kxt"));
  // The refused imports left the first table as it was ...
  const Result before = Kxtable("export t.kxt");
  EXPECT_EQ(before.out,
            "date,time,v:1,deleted\n2024-01-05,10:00:00,a,0\n"
            "2024-01-05,10:00:01,b,0\n");
  // ... and --force replaces it rather than adding to it.
  ASSERT_EQ(Kxtable("import good.csv t.kxt --force").code, 0);
  EXPECT_EQ(Kxtable("export t.kxt").out,
            "date,time,v:1,deleted\n2024-01-05,10:00:00,a,0\n");
}

}  // namespace
