// Writing tables and reading them back: layout, records, deletion marks,
// modes and the commit protocol.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/record_table.h"
#include "tests/engine/table_files.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;
using testing_files::MakeRecord;
using testing_files::ReadFile;
using testing_files::TempDir;

TableLayout TwoFields() { return TableLayout{{{"value", 6}, {"unit", 3}}}; }

TEST(RoundTrip, AppendThenReadGivesTheSameRecordsAndMarks) {
  TempDir dir;
  std::string path = dir.Path("t.kxt");
  RecordTable::CreateDefinition(path, TwoFields(), false);
  std::vector<std::string> records;
  {
    RecordTable t;
    t.SetAccessMode(kAppend);
    t.Open(path);
    EXPECT_EQ(t.RecordCount(), 0);
    for (int i = 0; i < 5000; ++i) {
      std::string r = MakeRecord("2024-01-02", "03:04:05",
                                 std::string(9, static_cast<char>(i % 256)));
      records.push_back(r);
      t.SetRecordBuffer(r);
      if (i % 7 == 3) {
        t.AppendDeletedRecord();
      } else {
        t.AppendRecord(0);
      }
      EXPECT_EQ(t.RecordCount(), i + 1);
    }
    t.Close();
  }
  RecordTable t;
  t.Open(path);
  EXPECT_TRUE(t.Problems().empty()) << t.Problems().front();
  ASSERT_EQ(t.RecordCount(), 5000);
  EXPECT_EQ(t.Layout().payload.size(), 2u);
  EXPECT_EQ(t.Layout().payload[1].name, "unit");
  for (int n = 1; n <= 5000; ++n) {
    t.GoToRecord(n);
    ASSERT_EQ(t.RecordBuffer(), records[n - 1]) << n;
    ASSERT_EQ(t.Deleted(), (n - 1) % 7 == 3) << n;
  }
  // Backwards and random positions read the same bytes.
  for (int n : {4999, 1, 2500, 5000, 17}) {
    t.GoToRecord(n);
    EXPECT_EQ(t.RecordBuffer(), records[n - 1]) << n;
  }
  t.Close();
  EXPECT_FALSE(t.IsOpen());
}

}  // namespace
}  // namespace kalvex
