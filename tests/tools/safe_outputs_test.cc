// kxtable repair against what an unkind user or file system puts around a
// table: links and second names of the source's files at output names,
// FIFOs and directories where outputs go, a held lock, lying indexes and
// missing marks, and standard output that cannot be written. The source's
// four files must come out byte for byte as they went in, every time.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "engine/table_format.h"
#include "tests/tools/support/tool_test_support.h"

namespace {

namespace fs = std::filesystem;
using kxtest::ReadFile;
using kxtest::Result;

class SafeOutputsTest : public kxtest::KxtableTest {
 public:
  // Runs a bash script in the test's directory, with $K naming kxtable.
  Result Sh(const std::string& script) const {
    return kxtest::RunIn(dir_, "/bin/bash",
                         "-c 'K=" KXTABLE_PATH "; " + script + "'", "");
  }

  // T.kxt's four files as read through their names (and any links).
  std::map<std::string, std::string> Source() const {
    std::map<std::string, std::string> files;
    for (const char* ext : {".kxt", ".kxd", ".kxi", ".kxa"}) {
      const fs::path file = dir_ / (std::string("T") + ext);
      files[ext] = fs::exists(file) ? ReadFile(file) : "(absent)";
    }
    return files;
  }

  // Replaces T.kxi with an index that counts `count` records.
  void Index(uint32_t count) const {
    const std::string old = ReadFile(dir_ / "T.kxi");
    const auto* p = reinterpret_cast<const unsigned char*>(old.data());
    kxtest::WriteFile(
        dir_ / "T.kxi",
        kalvex::format::EncodeIndex(count, kalvex::format::GetU32(p + 12)));
  }
};

struct LayoutCase {
  const char* name;
  std::function<void(SafeOutputsTest&)> arrange;  // after a first repair
  const char* repair;  // bash; $R is the Repair of T.kxt
  int code;
  const char* err;    // part of standard error; "" when it must be empty
  const char* after;  // a bash test of what must hold afterwards
};

TEST_F(SafeOutputsTest, RepairKeepsTheSourceWhateverLiesAround) {
  auto sh = [](const char* script) {
    return [script](SafeOutputsTest& t) {
      Result r = t.Sh(script);
      ASSERT_EQ(r.code, 0) << script << ": " << r.err;
    };
  };
  const LayoutCase cases[] = {
      {"the source's names are links to the outputs",
       sh("for e in kxt kxd kxi kxa; do mv T_REPAIRED.$e T.$e.real; "
          "mv T.$e T_REPAIRED.$e; ln -s T_REPAIRED.$e T.$e; done"),
       "$R --replace", 1, "is the same file as the source", "true"},
      {"the source's data file was moved to the output's name",
       sh("rm T_REPAIRED.*; mv T.kxd T_REPAIRED.kxd; "
          "ln -s T_REPAIRED.kxd T.kxd"),
       "$R", 1, "Nothing was deleted or written", "[ -f T_REPAIRED.kxd ]"},
      {"a second name of the index at an old temporary name",
       sh("ln T.kxi T_REPAIRED.kxi.tmp"), "$R --replace", 0, "Replace? -> Yes",
       "cmp -s T.kxi T_REPAIRED.kxi.tmp"},
      {"a link to the index at an old temporary name",
       sh("ln -s T.kxi T_REPAIRED.kxi.tmp"), "$R --replace", 0,
       "Replace? -> Yes", "[ -L T_REPAIRED.kxi.tmp ]"},
      {"a dangling link at the output's data file",
       sh("rm T_REPAIRED.*; ln -s gone/x.kxd T_REPAIRED.kxd"), "$R", 0, "",
       "[ ! -e gone ] && [ ! -L T_REPAIRED.kxd ] && { $K check T_REPAIRED.kxt; "
       "[ $? -lt 2 ]; }"},
      {"a FIFO at an old temporary name", sh("mkfifo T_REPAIRED.kxi.tmp"),
       "$R --replace", 0, "Replace? -> Yes", "[ -p T_REPAIRED.kxi.tmp ]"},
      {"a FIFO at the output's index",
       sh("rm T_REPAIRED.kxi; mkfifo T_REPAIRED.kxi"), "$R --replace", 1,
       "it is a FIFO", "[ -p T_REPAIRED.kxi ]"},
      {"a directory at the output's data file",
       sh("rm T_REPAIRED.*; mkdir T_REPAIRED.kxd"), "$R", 1,
       "it is a directory", "[ -d T_REPAIRED.kxd ]"},
      {"another Repair holds the output", [](SafeOutputsTest&) {},
       "exec 3>>T_REPAIRED.kxt.lock; flock 3; $R --replace", 1,
       "another Repair is writing it", "[ -f T_REPAIRED.kxd ]"},
      {"an index that promises the largest table",
       [](SafeOutputsTest& t) { t.Index(0x7FFFFFFF); }, "$R --replace", 1,
       "holds only 1000 of the 2147483647 committed records",
       "{ $K check T_REPAIRED.kxt; [ $? -lt 2 ]; }"},
      {"an index that counts too few", [](SafeOutputsTest& t) { t.Index(500); },
       "$R --replace", 1, "holds 500 records after the committed ones",
       "$K info T_REPAIRED.kxt | grep -q \"^Records  *[0-9]\""},
      {"no deletion marks", sh("rm T.kxa"), "$R --replace", 1,
       "Deleted records may be in the output",
       "{ $K check T_REPAIRED.kxt; [ $? -lt 2 ]; }"},
      {"a damaged data file header",
       sh("printf X | dd of=T.kxd conv=notrunc status=none"), "$R --replace", 1,
       "the header of the data file is damaged", "true"},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ASSERT_EQ(Kxtable("sample T.kxt --records 1000 --damage 0.05").code, 0);
    ASSERT_EQ(Kxtable("repair --no-progress T.kxt").code, 0);
    c.arrange(*this);
    const auto before = Source();
    Result repair =
        Sh("R=\"timeout 60 $K repair --no-progress T.kxt\"; exec >/dev/null; " +
           std::string(c.repair));
    EXPECT_EQ(repair.code, c.code) << repair.err;
    if (*c.err == '\0') {
      EXPECT_EQ(repair.err, "");
    } else {
      EXPECT_NE(repair.err.find(c.err), std::string::npos) << repair.err;
    }
    EXPECT_TRUE(Source() == before) << "the source changed";
    Result after = Sh(std::string(c.after) + " >/dev/null");
    EXPECT_EQ(after.code, 0) << c.after << ": " << after.err;
  }
}

// A report that cannot be written is a failed write (2): said once on a
// full device, and not at all into a pipe whose reader has gone, as grep
// and cat leave it; a Repair still writes its table whole.
TEST_F(SafeOutputsTest, UnwritableStandardOutputEndsTheCommand) {
  ASSERT_EQ(Kxtable("sample T.kxt --records 20000 --damage 0.05").code, 0);
  // The repair also says where its rule spread one stamp over many records,
  // whatever becomes of its report.
  const std::string spread = Kxtable("repair --no-progress T.kxt").err;
  ASSERT_NE(spread.find(" took the stamp of record "), std::string::npos);
  for (std::string args :
       {"repair --no-progress --replace T.kxt",
        "repair --no-progress --replace --json T.kxt", "info T.kxt",
        "dump T.kxt", "export T.kxt", "check --no-progress T.kxt",
        "check --no-progress --full --jobs 2 T.kxt T.kxt"}) {
    SCOPED_TRACE(args);
    // The repair's answer to its question is no error.
    auto answer = [&] {
      return args.rfind("repair", 0) == 0 && fs::exists(dir_ / "T_REPAIRED.kxt")
                 ? std::string(
                       "kxtable: T.kxt: File 'T_REPAIRED.kxt' already "
                       "exists ... Replace? -> Yes\n")
                 : std::string();
    };
    const std::string said =
        answer() + (args.rfind("repair", 0) == 0 ? spread : "");
    std::string expected = said +
                           "kxtable: cannot write to standard output: No "
                           "space left on device\n";
    Result full = Sh("$K " + args + " >/dev/full");
    EXPECT_EQ(full.code, 2);
    EXPECT_EQ(full.err, expected);
    expected = said;
    Result pipe = KxtableIntoClosedPipe(args);
    EXPECT_EQ(pipe.code, 2);
    EXPECT_EQ(pipe.err, expected);
    EXPECT_EQ(Kxtable("info -q T_REPAIRED.kxt").code, 0);
  }
}

// A parent may hand over a non-blocking pipe; the report is written in full
// however long the reader takes.
TEST_F(SafeOutputsTest, NonBlockingStandardOutputGetsTheWholeReport) {
  ASSERT_EQ(Kxtable("sample T.kxt --records 20000 --damage 0.2").code, 0);
  for (std::string args :
       {"check --full T.kxt", "dump T.kxt", "check --json T.kxt",
        "check --full --jobs 2 T.kxt T.kxt"}) {
    SCOPED_TRACE(args);
    const Result whole = Kxtable(args);
    ASSERT_GT(whole.out.size(), size_t{1} << 17);  // more than a pipe holds
    const Result piped = KxtableIntoNonBlockingPipe(args, 300);
    EXPECT_EQ(piped.code, whole.code);
    EXPECT_EQ(piped.err, "");
    EXPECT_TRUE(piped.out == whole.out) << piped.out.size();
  }
}

// Record numbers up to the largest a table can count, on a sparse table of
// 2^31 - 1 records: counted, its marks read to the end, and a dump into a
// closed pipe stops at once.
TEST_F(SafeOutputsTest, LargestTableIsCountedToItsEnd) {
  constexpr int64_t kRecords = 0x7FFFFFFF;
  ASSERT_EQ(Kxtable("load T.kxt --record-length 17").code, 0);
  fs::resize_file(dir_ / "T.kxd", 16 + 17 * kRecords);
  fs::resize_file(dir_ / "T.kxa", 16 + kRecords);
  Index(kRecords);
  Result info = Kxtable("info T.kxt");
  EXPECT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("Records          2147483647\n"
                          "Deleted          0\n"),
            std::string::npos)
      << info.out;
  Result dump = KxtableIntoClosedPipe("dump T.kxt");
  EXPECT_EQ(dump.code, 2);
  EXPECT_EQ(dump.err, "");
}

}  // namespace
