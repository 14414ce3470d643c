// FieldGet and FieldPut against the record layout, byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/record_table.h"
#include "tests/engine/table_files.h"

namespace kalvex {
namespace {

using namespace std::string_literals;
using testing_files::ErrorOf;
using testing_files::TempDir;

// An open (empty, appendable) table with payload fields of 6 and 3 bytes:
// records are 26 bytes long.
class FieldTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.Path("f.kxt");
    RecordTable::CreateDefinition(path_, TableLayout{{{"a", 6}, {"b", 3}}},
                                  false);
    table_.SetAccessMode(kAppend);
    table_.Open(path_);
  }
  static std::string Buffer(const std::string& first_bytes) {
    std::string b = first_bytes;
    b.resize(26, '\0');
    return b;
  }

  TempDir dir_;
  std::string path_;
  RecordTable table_;
};

struct GetCase {
  std::string buffer;  // the start of a 26-byte buffer, zero-padded
  std::string date;
  std::string time;
  std::string payload_a;
};

TEST_F(FieldTest, FieldGetReadsNibblesAndTextBytes) {
  const GetCase cases[] = {
      {"", "", "", ""},
      {"\x20"
       "24-01-02"
       "03:04:05"
       "abc",
       "2024-01-02", "03:04:05", "abc\0\0\0"s},
      // Every nibble value has its character, "0".."9" then ":;<=>?".
      {"\xFA"
       "99-12-31"
       "23:59:59",
       "?:99-12-31", "23:59:59", ""},
      {"\xBC"
       "xxxxxxxx",
       ";<xxxxxxxx", "", ""},
      {"\x05", "05\0\0\0\0\0\0\0\0"s, "", ""},
      // Century byte zero but later date bytes set: both nibbles read "0".
      {"\0\0\0\0\0\x01"s, "00\0\0\0\0\x01\0\0\0"s, "", ""},
      // Date all zero, time set; NULs inside the time are kept.
      {"\0\0\0\0\0\0\0\0\0"
       "12\0"
       "34:56"s,
       "",
       "12\0"
       "34:56"s,
       ""},
      {"\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x7F"s, "", "\0\0\0\0\0\0\0\x7F"s, ""},
      // Bytes above 127 are characters of the same code.
      {"\x19"
       "\xFF\xFE-01-01"
       "00:00:00"
       "\xE9",
       "19\xFF\xFE-01-01", "00:00:00", "\xE9\0\0\0\0\0"s},
  };
  for (const GetCase& c : cases) {
    table_.SetRecordBuffer(Buffer(c.buffer));
    EXPECT_EQ(table_.FieldGet(1), c.date) << testing::PrintToString(c.buffer);
    EXPECT_EQ(table_.FieldGet(2), c.time) << testing::PrintToString(c.buffer);
    EXPECT_EQ(table_.FieldGet(3), c.payload_a)
        << testing::PrintToString(c.buffer);
  }
}

TEST_F(FieldTest, FieldGetOfTheLastPayloadField) {
  std::string b = Buffer("");
  b[25] = 'z';
  table_.SetRecordBuffer(b);
  EXPECT_EQ(table_.FieldGet(4), "\0\0z"s);
}

struct PutCase {
  int field;
  std::string text;
  int offset;           // where the field starts
  std::string written;  // the field's bytes afterwards
};

TEST_F(FieldTest, FieldPutWritesTheFieldAndPadsWithZeros) {
  const PutCase cases[] = {
      {1, "2024-01-02", 0,
       "\x20"
       "24-01-02"},
      {1, "?:", 0, "\xFA\0\0\0\0\0\0\0\0"s},
      {1, "1", 0, "\x10\0\0\0\0\0\0\0\0"s},
      {1, "", 0, std::string(9, '\0')},
      {1, "20241", 0,
       "\x20"
       "241\0\0\0\0\0"s},
      {1, "00\0\0\0\0\0\0\0\0"s, 0, std::string(9, '\0')},
      {2, "12:34:56", 9, "12:34:56"},
      {2, "1", 9, "1\0\0\0\0\0\0\0"s},
      {2, "", 9, std::string(8, '\0')},
      {2, "\xFF\x01"s, 9, "\xFF\x01\0\0\0\0\0\0"s},
      {3, "abc", 17, "abc\0\0\0"s},
      {3, "abcdef", 17, "abcdef"},
      {4, "xy", 23, "xy\0"s},
  };
  for (const PutCase& c : cases) {
    // Start from a buffer full of 0xEE: only the field's bytes may change.
    std::string before(26, '\xEE');
    table_.SetRecordBuffer(before);
    table_.FieldPut(c.field, c.text);
    std::string expected = before;
    expected.replace(c.offset, c.written.size(), c.written);
    EXPECT_EQ(table_.RecordBuffer(), expected)
        << "field " << c.field << " text " << testing::PrintToString(c.text);
  }
}

TEST_F(FieldTest, DateAndTimeRoundTripThroughTheBuffer) {
  table_.SetRecordBuffer(Buffer(""));
  table_.FieldPut(1, "1999-12-31");
  table_.FieldPut(2, "23:59:58");
  const std::string_view b = table_.RecordBuffer();
  EXPECT_EQ(b[3], '-');
  EXPECT_EQ(b[6], '-');
  EXPECT_EQ(b[11], ':');
  EXPECT_EQ(b[14], ':');
  EXPECT_EQ(table_.FieldGet(1), "1999-12-31");
  EXPECT_EQ(table_.FieldGet(2), "23:59:58");
}

struct BadPut {
  int field;
  std::string text;
  std::string message_part;
};

// The date and time at once are the texts FieldGet gives, for every shape of
// record that has both fields, and nothing for the others.
TEST_F(FieldTest, DateAndTimeTextMatchesFieldGet) {
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"2024-02-29", "23:59:59"}, {"", "12:00:00"},
      {"1999-12-31", ""},         {"", ""},
      {"?0-01-01", "1"},          {"20", "\x01"},
  };
  std::vector<std::string> buffers;
  for (const auto& [date, time] : fields) {
    table_.SetRecordBuffer(Buffer(""));
    table_.FieldPut(1, date);
    table_.FieldPut(2, time);
    buffers.push_back(std::string(table_.RecordBuffer()));
  }
  std::string odd = Buffer("");
  odd[0] = '\xF0';  // century nibbles only
  odd[12] = '\xFF';
  buffers.push_back(odd);
  for (const std::string& b : buffers) {
    table_.SetRecordBuffer(b);
    const std::string date = table_.FieldGet(1);
    const std::string time = table_.FieldGet(2);
    char out[18];
    std::memset(out, '#', sizeof out);
    const bool both = table_.DateAndTimeText(out);
    EXPECT_EQ(both, !date.empty() && !time.empty());
    EXPECT_EQ(std::string(out, sizeof out),
              both ? date + time : std::string(sizeof out, '#'));
  }
  table_.Close();
  char out[18];
  EXPECT_FALSE(table_.DateAndTimeText(out));
}

TEST_F(FieldTest, FieldPutRefusesWhatTheFieldCannotHold) {
  const BadPut cases[] = {
      {1, "2024-01-021", "field 1 holds 10 characters, 11 given"},
      {1, "A024-01-01", "date character 1 (code 65)"},
      {1, "2/24-01-01", "date character 2 (code 47)"},
      {1, "\0"s, "date character 1 (code 0)"},
      {1, "@", "date character 1 (code 64)"},
      {2, "12:34:567", "field 2 holds 8 characters, 9 given"},
      {3, "abcdefg", "field 3 holds 6 characters, 7 given"},
      {0, "x", "no field 0 (the table has fields 1 to 4)"},
      {5, "x", "no field 5"},
      {-1, "", "no field -1"},
  };
  for (const BadPut& c : cases) {
    std::string before(26, '\x11');
    table_.SetRecordBuffer(before);
    const std::string what = ErrorOf([&] { table_.FieldPut(c.field, c.text); });
    EXPECT_NE(what.find(c.message_part), std::string::npos)
        << "field " << c.field << " " << testing::PrintToString(c.text) << ": "
        << what;
    EXPECT_NE(what.find(path_), std::string::npos) << what;
    EXPECT_EQ(table_.RecordBuffer(), before) << "a refused FieldPut changed "
                                                "the buffer";
  }
  EXPECT_THROW(table_.FieldGet(5), TableError);
  EXPECT_THROW(table_.FieldGet(0), TableError);
}

TEST_F(FieldTest, RecordBufferOfAnotherLengthIsRefused) {
  for (size_t length : {0u, 25u, 27u, 100u}) {
    const std::string what =
        ErrorOf([&] { table_.SetRecordBuffer(std::string(length, 'x')); });
    EXPECT_NE(what.find(std::to_string(length) +
                        " bytes given, but the records are 26 bytes long"),
              std::string::npos)
        << what;
  }
}

// Fields 1 and 2 are read inline: a table closed after use must still refuse
// them, with the working buffer left from the open table.
TEST_F(FieldTest, DateAndTimeFailOnceTheTableIsClosed) {
  table_.SetRecordBuffer(
      Buffer("\x20"
             "24-01-0112:00:00"));
  ASSERT_EQ(table_.FieldGet(1), "2024-01-01");
  table_.Close();
  for (int field : {1, 2}) {
    const std::string what = ErrorOf([&] { table_.FieldGet(field); });
    EXPECT_NE(what.find("no table is open"), std::string::npos)
        << "field " << field << ": " << what;
  }
}

TEST(FieldsWithoutTable, EveryCallOnAClosedTableFails) {
  RecordTable t;
  EXPECT_THROW(t.FieldGet(1), TableError);
  EXPECT_THROW(t.FieldPut(1, ""), TableError);
  EXPECT_THROW(t.SetRecordBuffer("x"), TableError);
  EXPECT_THROW(t.GoToRecord(1), TableError);
  EXPECT_THROW(t.RecordCount(), TableError);
  EXPECT_THROW(t.AppendRecord(0), TableError);
  EXPECT_THROW(t.BasePath(), TableError);
  EXPECT_FALSE(t.Deleted());
  EXPECT_EQ(t.CurrentRecord(), 0);
  t.Close();  // closing a closed table does nothing
}

}  // namespace
}  // namespace kalvex
