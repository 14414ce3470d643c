// Damaged tables: every file cut short, garbled, missing or replaced by
// something that is not a file. The engine reads what can be read, names what
// is wrong, and refuses to append where appending could lose records.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "engine/record_table.h"
#include "engine/table_format.h"
#include "tests/engine/table_files.h"

namespace kalvex {
namespace {

namespace fs = std::filesystem;
using testing_files::ErrorOf;

constexpr int kRecords = 3;
constexpr size_t kLength = 20;  // one payload field of 3 bytes

std::string Record(int i) {
  return testing_files::MakeRecord("2024-05-0" + std::to_string(i + 1),
                                   "10:00:00",
                                   std::string(3, static_cast<char>('p' + i)));
}

// Rewrites the checksum at the end of `bytes` (the last four bytes) so that
// a change behind it is the only thing wrong.
std::string Resealed(std::string bytes) {
  bytes.resize(bytes.size() - 4);
  format::PutU32(bytes, format::Checksum(bytes.data(), bytes.size()));
  return bytes;
}

class DamagedTest : public testing::Test {
 public:
  void SetUp() override {
    kxt_ = dir_.Path("d.kxt");
    RecordTable::CreateDefinition(kxt_, TableLayout{{{"p", 3}}}, false);
    RecordTable t;
    t.SetAccessMode(kAppend);
    t.Open(kxt_);
    for (int i = 0; i < kRecords; ++i) {
      t.SetRecordBuffer(Record(i));
      if (i == 1) {
        t.AppendDeletedRecord();
      } else {
        t.AppendRecord(0);
      }
    }
    t.Close();
  }
  std::string File(const char* ext) const { return dir_.Path("d") + ext; }
  std::string Bytes(const char* ext) const {
    return testing_files::ReadFile(File(ext));
  }
  void Put(const char* ext, const std::string& bytes) const {
    testing_files::WriteFile(File(ext), bytes);
  }
  void Cut(const char* ext, size_t size) const {
    fs::resize_file(File(ext), size);
  }
  // The problem that mentions `part`, or "" when there is none.
  static std::string ProblemWith(const RecordTable& t,
                                 const std::string& part) {
    for (const std::string& p : t.Problems())
      if (p.find(part) != std::string::npos) return p;
    return "";
  }
  static std::string AllProblems(const RecordTable& t) {
    std::string all;
    for (const std::string& p : t.Problems()) all += p + "\n";
    return all;
  }

  testing_files::TempDir dir_;
  std::string kxt_;
};

struct DefinitionCase {
  std::string name;
  std::function<std::string(const std::string&)> damage;
  std::string message_part;
};

TEST_F(DamagedTest, ADefinitionThatDoesNotParseIsAnErrorAtOpen) {
  const std::string good = Bytes(".kxt");
  const DefinitionCase cases[] = {
      {"empty", [](const std::string&) { return std::string(); },
       "0 bytes long, too short"},
      {"cut", [](const std::string& b) { return b.substr(0, 10); },
       "too short"},
      {"magic",
       [](std::string b) {
         b[0] = 'Q';
         return b;
       },
       "bad magic"},
      {"checksum",
       [](std::string b) {
         b[b.size() - 1] ^= 1;
         return b;
       },
       "definition checksum mismatch"},
      {"flipped width",
       [](std::string b) {
         b[b.size() - 8] ^= 0x40;
         return b;
       },
       "checksum mismatch"},
      {"version",
       [](std::string b) {
         b[4] = 2;
         return Resealed(b);
       },
       "unsupported format version 2"},
      {"record length",
       [](std::string b) {
         b[8] = 99;
         return Resealed(b);
       },
       "record length 99 does not match the fields (20)"},
      {"field count too high",
       [](std::string b) {
         b[6] = 2;
         return Resealed(b);
       },
       "field list is cut short"},
      {"field count too low",
       [](std::string b) {
         b[6] = 0;
         return Resealed(b);
       },
       "unexpected bytes after the field list"},
      {"width 0",
       [](std::string b) {
         b.replace(b.size() - 8, 4, std::string(4, '\0'));
         return Resealed(b);
       },
       "payload field 1 has width 0"},
      {"huge width",
       [](std::string b) {
         b.replace(b.size() - 8, 4, "\xFF\xFF\xFF\x7F");
         return Resealed(b);
       },
       "record length exceeds 65536"},
      {"name length 0",
       [](std::string b) {
         b[12] = 0;
         return Resealed(b);
       },
       "payload field 1 has no name"},
      {"garbage", [](const std::string&) { return std::string(5000, '\xA7'); },
       "bad magic"},
      {"too long",
       [](const std::string& b) { return b + std::string(2 << 20, 'x'); },
       "longer than 1048576 bytes"},
  };
  for (const DefinitionCase& c : cases) {
    Put(".kxt", c.damage(good));
    for (int mode : {kReadOnly, kAppend}) {
      RecordTable t;
      t.SetAccessMode(mode);
      const std::string what = ErrorOf([&] { t.Open(kxt_); });
      EXPECT_TRUE(what.starts_with(kxt_ + ": ")) << c.name << ": " << what;
      EXPECT_NE(what.find(c.message_part), std::string::npos)
          << c.name << ": " << what;
      EXPECT_FALSE(t.IsOpen());
    }
  }
}

struct ReadCase {
  std::string name;
  std::function<void(DamagedTest&)> damage;
  int32_t count;            // RecordCount after Open; each record reads
                            // back intact
  bool first_deleted_read;  // whether record 2's mark survives
  std::string problem;      // part of a problem sentence ("" for none)
};

TEST_F(DamagedTest, ReadOnlyOpenReadsWhatIsThereAndSaysWhatIsWrong) {
  const std::string kxd = Bytes(".kxd");
  const std::string kxa = Bytes(".kxa");
  const std::string kxi = Bytes(".kxi");
  const ReadCase cases[] = {
      {"intact", [](DamagedTest&) {}, 3, true, ""},
      // A table counts only the records its data file holds.
      {"data file missing", [](DamagedTest& d) { fs::remove(d.File(".kxd")); },
       0, true, "the data file is missing"},
      {"data file cut mid-record",
       [](DamagedTest& d) { d.Cut(".kxd", 16 + 2 * kLength + 7); }, 2, true,
       "holds only 2 of the 3 committed records; counting the records it "
       "holds"},
      {"data file shorter than its header",
       [](DamagedTest& d) { d.Cut(".kxd", 5); }, 0, true,
       "5 bytes long, shorter than its header"},
      {"data header garbled",
       [&](DamagedTest& d) {
         std::string b = kxd;
         b.replace(0, 16, std::string(16, '\x5A'));
         d.Put(".kxd", b);
       },
       3, true, "header of the data file is damaged (bad magic)"},
      {"data header gives another record length",
       [&](DamagedTest& d) {
         std::string b = kxd;
         std::string header = format::EncodeFileHeader(format::kDataMagic, 64);
         b.replace(0, 16, header);
         d.Put(".kxd", b);
       },
       3, true, "header gives record length 64, the definition 20"},
      {"data file with a stray tail",
       [&](DamagedTest& d) { d.Put(".kxd", kxd + "xyz"); }, 3, true,
       "3 stray bytes"},
      {"uncommitted records after the committed ones",
       [&](DamagedTest& d) { d.Put(".kxd", kxd + kxd.substr(16)); }, 3, true,
       "holds 3 records after the committed ones"},
      {"attribute file missing",
       [](DamagedTest& d) { fs::remove(d.File(".kxa")); }, 3, false,
       "the attribute file is missing; no record reads as deleted"},
      {"attribute file short", [](DamagedTest& d) { d.Cut(".kxa", 16 + 1); }, 3,
       false, "marks for only 1 of the 3 records"},
      {"attribute header garbled",
       [&](DamagedTest& d) { d.Put(".kxa", "XXXX" + kxa.substr(4)); }, 3, true,
       "header of the attribute file is damaged (bad magic)"},
      {"index missing", [](DamagedTest& d) { fs::remove(d.File(".kxi")); }, 3,
       true,
       "the index file is missing; counting the 3 records the data file "
       "holds"},
      {"index missing and data cut",
       [](DamagedTest& d) {
         fs::remove(d.File(".kxi"));
         d.Cut(".kxd", 16 + kLength + 3);
       },
       1, true, "counting the 1 records"},
      {"index empty", [](DamagedTest& d) { d.Put(".kxi", ""); }, 3, true,
       "is 0 bytes long instead of 20"},
      {"index garbage",
       [](DamagedTest& d) { d.Put(".kxi", std::string(20, '\x01')); }, 3, true,
       "has a bad magic"},
      {"index checksum",
       [&](DamagedTest& d) {
         std::string b = kxi;
         b[8] = 2;  // count 2, checksum left as it was
         d.Put(".kxi", b);
       },
       3, true, "has a checksum mismatch"},
      {"index count beyond the data",
       [&](DamagedTest& d) { d.Put(".kxi", format::EncodeIndex(7, kLength)); },
       3, true, "holds only 3 of the 7 committed records"},
      {"index count of the largest table",
       [&](DamagedTest& d) {
         d.Put(".kxi", format::EncodeIndex(0x7FFFFFFFu, kLength));
       },
       3, true, "holds only 3 of the 2147483647 committed records"},
      {"table never finished",
       [&](DamagedTest& d) {
         d.Put(".kxi",
               format::EncodeIndex(3, kLength, format::kIndexIncomplete));
       },
       3, true,
       "the table is incomplete: it was being written and was never "
       "finished"},
      {"index with unknown flags",
       [&](DamagedTest& d) {
         d.Put(".kxi", format::EncodeIndex(3, kLength, 6));
       },
       3, true, "has unknown flags 6"},
      {"index count below the data",
       [&](DamagedTest& d) { d.Put(".kxi", format::EncodeIndex(2, kLength)); },
       2, true, "holds 1 records after the committed ones"},
      {"index count impossible",
       [&](DamagedTest& d) {
         d.Put(".kxi", format::EncodeIndex(0x80000000u, kLength));
       },
       3, true, "impossible record count 2147483648"},
      {"index for another record length",
       [&](DamagedTest& d) { d.Put(".kxi", format::EncodeIndex(3, 21)); }, 3,
       true, "gives record length 21, the definition 20"},
      {"index is a directory",
       [](DamagedTest& d) {
         fs::remove(d.File(".kxi"));
         fs::create_directory(d.File(".kxi"));
       },
       3, true, "cannot be read (not a regular file)"},
      {"index is a FIFO",
       [](DamagedTest& d) {
         fs::remove(d.File(".kxi"));
         ::mkfifo(d.File(".kxi").c_str(), 0644);
       },
       3, true, "cannot be read (not a regular file)"},
  };
  const std::string kxt_bytes = Bytes(".kxt");
  for (const ReadCase& c : cases) {
    // Fresh files for every case.
    for (const char* ext : {".kxd", ".kxa", ".kxi"}) fs::remove_all(File(ext));
    Put(".kxd", kxd);
    Put(".kxa", kxa);
    Put(".kxi", kxi);
    c.damage(*this);
    RecordTable t;
    t.Open(kxt_);
    EXPECT_EQ(t.RecordCount(), c.count) << c.name;
    EXPECT_EQ(t.DeletionMarksMissing(), !c.first_deleted_read) << c.name;
    if (c.problem.empty()) {
      EXPECT_TRUE(t.Problems().empty()) << c.name << ": " << AllProblems(t);
    } else {
      EXPECT_NE(ProblemWith(t, c.problem), "")
          << c.name << ": " << AllProblems(t);
    }
    for (int n = 1; n <= c.count; ++n) {
      t.GoToRecord(n);
      EXPECT_EQ(t.RecordBuffer(), Record(n - 1)) << c.name << " " << n;
      EXPECT_EQ(t.Deleted(), n == 2 && c.first_deleted_read)
          << c.name << " " << n;
    }
    t.Close();
    EXPECT_EQ(Bytes(".kxt"), kxt_bytes);
  }
}

// A record or a deletion mark that its file no longer holds is an error, not
// a crash, and never reads as a record that is not deleted.
TEST_F(DamagedTest, WhatVanishesWhileOpenIsAnError) {
  const struct {
    const char* file;
    const char* message;
  } cases[] = {{".kxd", "record 2: cannot read"},
               {".kxa", "record 2: cannot read the deletion mark"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"})
      fs::remove(File(ext));
    SetUp();
    RecordTable t;
    t.Open(kxt_);
    Cut(c.file, 16);
    // Neither the record nor its mark can be read.
    const std::string what = ErrorOf([&] {
      t.GoToRecord(2);
      t.Deleted();
    });
    EXPECT_NE(what.find(c.message), std::string::npos) << what;
  }
}

struct AppendCase {
  std::string name;
  std::function<void(DamagedTest&)> damage;
  std::string message_part;
};

TEST_F(DamagedTest, AppendModeRefusesTablesItCouldDamageFurther) {
  const std::string kxd = Bytes(".kxd");
  const std::string kxa = Bytes(".kxa");
  const std::string kxi = Bytes(".kxi");
  const AppendCase cases[] = {
      {"index missing", [](DamagedTest& d) { fs::remove(d.File(".kxi")); },
       "index file is missing while the data file holds 3 records"},
      {"index damaged",
       [](DamagedTest& d) { d.Put(".kxi", std::string(20, 'z')); },
       "has a bad magic; refusing to append"},
      {"data short", [](DamagedTest& d) { d.Cut(".kxd", 16 + kLength); },
       "holds only 1 of the 3 committed records; refusing to append"},
      {"attributes short", [](DamagedTest& d) { d.Cut(".kxa", 16); },
       "attribute file holds only 0 of the 3"},
      {"data header damaged",
       [&](DamagedTest& d) { d.Put(".kxd", "JUNK" + kxd.substr(4)); },
       "header of the data file is damaged"},
      {"data file missing", [](DamagedTest& d) { fs::remove(d.File(".kxd")); },
       "the file is missing while the index counts 3 records"},
      {"attribute file missing",
       [](DamagedTest& d) { fs::remove(d.File(".kxa")); },
       "the file is missing while the index counts 3 records"},
      {"data file cut inside its header",
       [](DamagedTest& d) { d.Cut(".kxd", 9); }, "shorter than its header"},
  };
  for (const AppendCase& c : cases) {
    Put(".kxd", kxd);
    Put(".kxa", kxa);
    Put(".kxi", kxi);
    c.damage(*this);
    const std::string before_kxd = Bytes(".kxd");
    const bool had_kxd = fs::exists(File(".kxd"));
    const bool had_kxa = fs::exists(File(".kxa"));
    RecordTable t;
    t.SetAccessMode(kAppend);
    const std::string what = ErrorOf([&] { t.Open(kxt_); });
    EXPECT_NE(what.find(c.message_part), std::string::npos)
        << c.name << ": " << what;
    EXPECT_FALSE(t.IsOpen());
    EXPECT_EQ(Bytes(".kxd"), before_kxd) << c.name;
    EXPECT_EQ(fs::exists(File(".kxd")), had_kxd) << c.name;
    EXPECT_EQ(fs::exists(File(".kxa")), had_kxa) << c.name;
  }
}

TEST_F(DamagedTest, UpperCaseCompanionsBelongToAnUpperCaseMainFile) {
  const std::string upper = dir_.Path("d.KXT");
  fs::rename(kxt_, upper);
  for (const char* ext : {"d.kxd", "d.kxa", "d.kxi"}) {
    std::string name = ext;
    std::string target = name;
    for (char& ch : target) ch = static_cast<char>(std::toupper(ch));
    target[0] = 'd';
    fs::rename(dir_.Path(name), dir_.Path(target));
  }
  {
    RecordTable t;
    t.Open(upper);
    EXPECT_TRUE(t.Problems().empty()) << AllProblems(t);
    ASSERT_EQ(t.RecordCount(), 3);
    t.GoToRecord(2);
    EXPECT_EQ(t.RecordBuffer(), Record(1));
    EXPECT_TRUE(t.Deleted());
    EXPECT_EQ(t.BasePath(), dir_.Path("d"));
  }
  {
    // Appending keeps using the upper-case companions.
    RecordTable t;
    t.SetAccessMode(kAppend);
    t.Open(upper);
    t.SetRecordBuffer(Record(5));
    t.AppendRecord(0);
    t.Close();
    EXPECT_FALSE(fs::exists(File(".kxd")));
    EXPECT_FALSE(fs::exists(File(".kxi")));
    RecordTable r;
    r.Open(upper);
    EXPECT_EQ(r.RecordCount(), 4);
  }
  // A lower-case main file does not take upper-case companions.
  fs::copy_file(upper, kxt_);
  RecordTable t;
  t.Open(kxt_);
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_NE(ProblemWith(t, "the data file is missing"), "");
}

TEST_F(DamagedTest, AnUpperCaseMainFileStillFindsLowerCaseCompanions) {
  fs::rename(kxt_, dir_.Path("d.KXT"));
  RecordTable t;
  t.Open(dir_.Path("d.KXT"));
  EXPECT_TRUE(t.Problems().empty()) << AllProblems(t);
  EXPECT_EQ(t.RecordCount(), 3);
  EXPECT_EQ(t.Files()[1], File(".kxd"));
  // With both spellings present the upper-case one is used, and said so.
  fs::copy_file(File(".kxi"), dir_.Path("d.KXI"));
  RecordTable both;
  both.Open(dir_.Path("d.KXT"));
  EXPECT_EQ(both.Files()[3], dir_.Path("d.KXI"));
  EXPECT_NE(ProblemWith(both, "both " + dir_.Path("d.KXI")), "")
      << AllProblems(both);
}

TEST_F(DamagedTest, CompanionsThatAreNotFilesAreErrors) {
  fs::remove(File(".kxd"));
  fs::create_directory(File(".kxd"));
  for (int mode : {kReadOnly, kAppend}) {
    RecordTable t;
    t.SetAccessMode(mode);
    const std::string what = ErrorOf([&] { t.Open(kxt_); });
    EXPECT_NE(what.find(File(".kxd")), std::string::npos) << what;
  }
}

}  // namespace
}  // namespace kalvex
