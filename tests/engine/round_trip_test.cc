// Writing tables and reading them back: layout, records, deletion marks,
// modes and the commit protocol.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "engine/record_table.h"
#include "tests/engine/table_files.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;
using testing_files::ErrorOf;
using testing_files::MakeRecord;
using testing_files::ReadFile;
using testing_files::TempDir;
using testing_files::WriteFile;

// Every file of a directory with its bytes and modification time.
std::map<std::string, std::pair<std::string, int64_t>> Snapshot(
    const std::string& dir) {
  std::map<std::string, std::pair<std::string, int64_t>> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    struct stat st;
    ::stat(entry.path().c_str(), &st);
    files[entry.path().filename().string()] = {
        ReadFile(entry.path().string()),
        static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
            st.st_mtim.tv_nsec};
  }
  return files;
}

std::string Record(int i) {
  return MakeRecord("2024-01-02", "03:04:05",
                    std::string(9, static_cast<char>('a' + i % 26)));
}

// Appends records first..last-1 (numbered as in Record) to the table.
void AppendRange(const std::string& path, int first, int last,
                 bool close = true) {
  RecordTable t;
  t.SetAccessMode(kAppend);
  t.Open(path);
  for (int i = first; i < last; ++i) {
    t.SetRecordBuffer(Record(i));
    t.AppendRecord(0);
  }
  if (close) t.Close();
}

TableLayout TwoFields() { return TableLayout{{{"value", 6}, {"unit", 3}}}; }

// Each test has a folder of its own, and there the definition of the table
// "t.kxt" with TwoFields and no records.
class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordTable::CreateDefinition(path, TwoFields(), false);
  }
  TempDir dir;
  const std::string path = dir.Path("t.kxt");
};

TEST_F(RoundTrip, AppendThenReadGivesTheSameRecordsAndMarks) {
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

// Records are copied in pieces that depend on their length: every length
// from the shortest to past the longest that is copied piece by piece, with
// no two bytes alike, comes back as it went in.
TEST_F(RoundTrip, RecordsOfEveryLengthKeepEveryByte) {
  for (uint32_t width = 0; width <= 50; ++width) {
    std::string name = std::to_string(width);
    name += ".kxt";
    const std::string path = dir.Path(name);
    TableLayout layout;
    if (width > 0) layout.payload.push_back({"p", width});
    RecordTable::CreateDefinition(path, layout, false);
    std::vector<std::string> records;
    {
      RecordTable t;
      t.SetAccessMode(kAppend);
      t.Open(path);
      for (int i = 0; i < 3; ++i) {
        std::string payload(width, '\0');
        for (uint32_t k = 0; k < width; ++k) {
          payload[k] = static_cast<char>(1 + k + 60 * i);
        }
        std::string time = "03:04:00";
        time[7] = static_cast<char>('0' + i);
        records.push_back(MakeRecord("2024-01-02", time, payload));
        t.SetRecordBuffer(records.back());
        // Setting the working record from its own bytes changes nothing.
        t.SetRecordBuffer(t.RecordBuffer());
        t.AppendRecord(0);
      }
      t.Close();
    }
    RecordTable t;
    t.Open(path);
    ASSERT_EQ(t.RecordCount(), 3) << width;
    for (int n = 1; n <= 3; ++n) {
      t.GoToRecord(n);
      ASSERT_EQ(t.RecordBuffer(), records[n - 1]) << width << " " << n;
      // From a record in the read cache into the working buffer.
      t.SetRecordBuffer(t.RecordBuffer());
      ASSERT_EQ(t.RecordBuffer(), records[n - 1]) << width << " " << n;
    }
  }
}

TEST_F(RoundTrip, AppendingToAClosedTableKeepsItsRecords) {
  AppendRange(path, 0, 10);
  AppendRange(path, 10, 25);
  RecordTable t;
  t.Open(path);
  ASSERT_EQ(t.RecordCount(), 25);
  for (int n = 1; n <= 25; ++n) {
    t.GoToRecord(n);
    EXPECT_EQ(t.RecordBuffer(), Record(n - 1));
    EXPECT_FALSE(t.Deleted());
  }
  EXPECT_EQ(ReadFile(dir.Path("t.kxd")).size(), 16u + 25 * 26);
  EXPECT_EQ(ReadFile(dir.Path("t.kxa")).size(), 16u + 25);
}

TEST_F(RoundTrip, AppendModeCreatesMissingCompanionsForACopiedDefinition) {
  RecordTable::CreateDefinition(dir.Path("src.kxt"), TwoFields(), false);
  AppendRange(dir.Path("src.kxt"), 0, 5);
  fs::copy_file(dir.Path("src.kxt"), dir.Path("out.kxt"));
  RecordTable out;
  out.SetAccessMode(kAppend);
  out.Open(dir.Path("out.kxt"));
  EXPECT_EQ(out.RecordCount(), 0);
  EXPECT_EQ(out.Layout().RecordLength(), 26u);
  EXPECT_EQ(out.BasePath(), dir.Path("out"));
  for (const char* ext : {".kxd", ".kxa", ".kxi"})
    EXPECT_TRUE(fs::exists(dir.Path(std::string("out") + ext))) << ext;
  out.SetRecordBuffer(Record(3));
  out.AppendRecord(0);
  EXPECT_EQ(out.RecordCount(), 1);
  out.Close();
  RecordTable check;
  check.Open(dir.Path("out.kxt"));
  EXPECT_EQ(check.RecordCount(), 1);
  EXPECT_TRUE(check.Problems().empty());
}

TEST_F(RoundTrip, ReadOnlyTablesAreNeverWritten) {
  AppendRange(path, 0, 3);
  auto before = Snapshot(dir.Path(""));
  {
    RecordTable t;
    t.Open(path);
    t.GoToRecord(2);
    t.FieldPut(1, "1999-01-01");
    t.FieldPut(3, "zz");
    EXPECT_EQ(t.FieldGet(1), "1999-01-01");
    EXPECT_NE(ErrorOf([&] { t.AppendRecord(0); }).find("read-only"),
              std::string::npos);
    t.GoToRecord(2);
    EXPECT_EQ(t.RecordBuffer(), Record(1)) << "FieldPut reached the file";
    t.Close();
  }
  {
    RecordTable t;  // released without Close
    t.Open(path);
    t.GoToRecord(3);
  }
  // Read-only opens of damaged tables write nothing either.
  fs::remove(dir.Path("t.kxi"));
  fs::remove(dir.Path("t.kxa"));
  before.erase("t.kxi");
  before.erase("t.kxa");
  {
    RecordTable t;
    t.Open(path);
    EXPECT_EQ(t.RecordCount(), 3);
  }
  EXPECT_EQ(Snapshot(dir.Path("")), before);
}

TEST_F(RoundTrip, ReleasingWithoutCloseCommitsNothing) {
  AppendRange(path, 0, 4);
  AppendRange(path, 4, 9, /*close=*/false);
  RecordTable t;
  t.Open(path);
  EXPECT_EQ(t.RecordCount(), 4);
  EXPECT_TRUE(t.Problems().empty());
}

TEST_F(RoundTrip, AppendAfterACrashKeepsTheCommittedRecords) {
  AppendRange(path, 0, 10);
  // Enough records that the engine writes some of them to the files before
  // the "crash" (release without Close).
  AppendRange(path, 100, 30000, /*close=*/false);
  ASSERT_GT(ReadFile(dir.Path("t.kxd")).size(), 16u + 10 * 26);
  {
    RecordTable t;
    t.Open(path);
    EXPECT_EQ(t.RecordCount(), 10);
    ASSERT_EQ(t.Problems().size(), 1u);
    EXPECT_NE(t.Problems()[0].find("after the committed ones"),
              std::string::npos);
  }
  AppendRange(path, 10, 13);
  RecordTable t;
  t.Open(path);
  EXPECT_TRUE(t.Problems().empty()) << t.Problems()[0];
  ASSERT_EQ(t.RecordCount(), 13);
  for (int n = 1; n <= 13; ++n) {
    t.GoToRecord(n);
    EXPECT_EQ(t.RecordBuffer(), Record(n - 1)) << n;
  }
  EXPECT_EQ(ReadFile(dir.Path("t.kxd")).size(), 16u + 13 * 26);
}

TEST_F(RoundTrip, RecordsAppendedInThisSessionCanBeRead) {
  AppendRange(path, 0, 3);
  RecordTable t;
  t.SetAccessMode(kAppend);
  t.Open(path);
  t.SetRecordBuffer(Record(7));
  t.AppendDeletedRecord();
  EXPECT_EQ(t.CurrentRecord(), 4);
  EXPECT_TRUE(t.Deleted());
  t.GoToRecord(2);
  EXPECT_EQ(t.RecordBuffer(), Record(1));
  EXPECT_FALSE(t.Deleted());
  t.GoToRecord(4);
  EXPECT_EQ(t.RecordBuffer(), Record(7));
  EXPECT_TRUE(t.Deleted());
  // The deletion mark is no part of the buffer: appending the same buffer
  // with AppendRecord gives a live record.
  t.AppendRecord(0);
  EXPECT_FALSE(t.Deleted());
  // Many more, so that they reach the files while the read cache was sized
  // for the first few.
  for (int i = 0; i < 20000; ++i) {
    t.SetRecordBuffer(Record(i));
    t.AppendRecord(0);
  }
  for (int n : {15005, 5, 20005, 4, 3}) {
    t.GoToRecord(n);
    EXPECT_EQ(t.RecordBuffer(), n <= 3   ? Record(n - 1)
                                : n <= 5 ? Record(7)
                                         : Record(n - 6))
        << n;
    EXPECT_EQ(t.Deleted(), n == 4) << n;
  }
  t.Close();
}

// Positioning shows the cached record itself; whatever changes or outlives
// it works on a copy.
TEST_F(RoundTrip, TheWorkingRecordIsCopiedBeforeItChanges) {
  AppendRange(path, 0, 30000);
  RecordTable t;
  t.SetAccessMode(kAppend);
  t.Open(path);
  // A record from the read cache, changed and appended, then read again.
  t.GoToRecord(2);
  t.FieldPut(3, "zz");
  t.AppendRecord(0);
  t.GoToRecord(1);
  t.GoToRecord(2);
  EXPECT_EQ(t.RecordBuffer(), Record(1));
  t.GoToRecord(30001);
  EXPECT_EQ(t.FieldGet(3), std::string("zz\0\0\0\0", 6));
  // Unchanged, and set from its own view.
  t.GoToRecord(3);
  t.SetRecordBuffer(t.RecordBuffer());
  t.AppendRecord(0);
  t.GoToRecord(3);
  t.AppendRecord(0);
  // A record far away reloads the cache; the working record survives it.
  t.GoToRecord(29000);
  t.GoToRecord(30002);
  EXPECT_EQ(t.RecordBuffer(), Record(2));
  t.GoToRecord(30003);
  EXPECT_EQ(t.RecordBuffer(), Record(2));
  t.GoToRecord(7);
  t.Close();
  EXPECT_EQ(t.RecordBuffer(), Record(6)) << "the last record outlives Close";

  RecordTable r;
  r.Open(path);
  ASSERT_EQ(r.RecordCount(), 30003);
  r.GoToRecord(2);
  EXPECT_EQ(r.RecordBuffer(), Record(1));
}

struct ModeError {
  std::string name;
  std::function<void(RecordTable&)> call;
  std::string message_part;
};

TEST_F(RoundTrip, MisuseIsAnErrorThatSaysWhatAndWhere) {
  AppendRange(path, 0, 3);
  const ModeError cases[] = {
      {"option 1", [](RecordTable& t) { t.AppendRecord(1); },
       "AppendRecord option 1 is not supported"},
      {"option -1", [](RecordTable& t) { t.AppendRecord(-1); },
       "AppendRecord option -1"},
      {"record 0", [](RecordTable& t) { t.GoToRecord(0); },
       "record 0: out of range (the table has records 1 to 3)"},
      {"record 4", [](RecordTable& t) { t.GoToRecord(4); }, "record 4: out"},
      {"negative", [](RecordTable& t) { t.GoToRecord(-5); }, "record -5"},
      {"mode while open", [](RecordTable& t) { t.SetAccessMode(0); },
       "cannot change while the table is open"},
      {"open twice", [&](RecordTable& t) { t.Open(path); }, "already has"},
  };
  for (const ModeError& c : cases) {
    RecordTable t;
    t.SetAccessMode(kAppend);
    t.Open(path);
    std::string error = ErrorOf([&] { c.call(t); });
    EXPECT_NE(error.find(c.message_part), std::string::npos)
        << c.name << ": " << error;
    EXPECT_NE(error.find(c.name == "mode while open" ? "AccessMode" : path),
              std::string::npos)
        << c.name << ": " << error;
  }
  RecordTable t;
  EXPECT_NE(ErrorOf([&] { t.SetAccessMode(1); }).find("1 is not supported"),
            std::string::npos);
  EXPECT_EQ(t.AccessMode(), kReadOnly);
  EXPECT_NE(
      ErrorOf([&] { t.Open(dir.Path("t.txt")); }).find("must end in .kxt"),
      std::string::npos);
  EXPECT_NE(ErrorOf([&] { t.Open(dir.Path("none.kxt")); })
                .find(dir.Path("none.kxt") +
                      ": cannot read the table definition: No such file"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] {
              RecordTable::CreateDefinition(path, TwoFields(), false);
            }).find("already exists"),
            std::string::npos);
}

TEST_F(RoundTrip, OnlyOneAppenderAtATime) {
  RecordTable first;
  first.SetAccessMode(kAppend);
  first.Open(path);
  RecordTable second;
  second.SetAccessMode(kAppend);
  EXPECT_NE(ErrorOf([&] { second.Open(path); }).find("open for appending"),
            std::string::npos);
  RecordTable reader;
  reader.Open(path);  // readers are not locked out
  first.Close();
  second.Open(path);
}

TEST_F(RoundTrip, BasePathStripsTheExtensionInAnyCase) {
  for (std::string ext : {".kxt", ".KXT", ".Kxt", ".kXt"}) {
    std::string path = dir.Path("Data.v2" + ext);
    RecordTable::CreateDefinition(path, TwoFields(), true);
    RecordTable t;
    t.Open(path);
    EXPECT_EQ(t.BasePath(), dir.Path("Data.v2"));
    t.Close();
    EXPECT_EQ(t.BasePath(), dir.Path("Data.v2")) << "kept after Close";
    fs::remove(path);
  }
}
}  // namespace
}  // namespace kalvex
