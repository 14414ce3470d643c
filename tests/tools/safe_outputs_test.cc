// kxtable repair against what an unkind user or file system puts around a
// table: links and second names of the source's files at output names,
// FIFOs and directories where outputs go, a held lock, lying indexes and
// missing marks, and standard output that cannot be written. The source's
// four files must come out byte for byte as they went in, every time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

  // Runs kxtable with standard output a pipe whose reader has gone.
  Result IntoClosedPipe(const std::string& args) const {
    int pipe_fds[2];
    EXPECT_EQ(::pipe(pipe_fds), 0);
    ::close(pipe_fds[0]);
    const std::string err = (dir_ / "pipe.err").string();
    pid_t pid = fork();
    if (pid == 0) {
      ::signal(SIGPIPE, SIG_DFL);  // as a shell would start it
      int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(pipe_fds[1], 1);
      ::dup2(err_fd, 2);
      ::chdir(dir_.c_str());
      ::execl("/bin/sh", "sh", "-c", (KXTABLE_PATH " " + args).c_str(),
              static_cast<char*>(nullptr));
      _exit(123);
    }
    ::close(pipe_fds[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", ReadFile(err)};
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

// A report that cannot be written is an error of its own, on a full device
// as into a pipe whose reader has gone; a Repair still writes its table
// whole.
TEST_F(SafeOutputsTest, UnwritableStandardOutputIsReported) {
  ASSERT_EQ(Kxtable("sample T.kxt --records 20000 --damage 0.05").code, 0);
  for (std::string args : {"repair --no-progress --replace T.kxt", "info T.kxt",
                           "dump T.kxt", "check --no-progress T.kxt"}) {
    SCOPED_TRACE(args);
    // check says 2: it could not give its report.
    const int failed = args.rfind("check", 0) == 0 ? 2 : 1;
    Result full = Sh("$K " + args + " >/dev/full");
    EXPECT_EQ(full.code, failed);
    EXPECT_NE(full.err.find("No space left on device"), std::string::npos)
        << full.err;
    Result pipe = IntoClosedPipe(args);
    EXPECT_EQ(pipe.code, failed);
    EXPECT_NE(pipe.err.find("Broken pipe"), std::string::npos) << pipe.err;
    EXPECT_EQ(pipe.err.find("severe error"), std::string::npos) << pipe.err;
    EXPECT_LT(Kxtable("check --no-progress T_REPAIRED.kxt").code, 2);
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
  Result dump = IntoClosedPipe("dump T.kxt");
  EXPECT_EQ(dump.code, 1);
  EXPECT_NE(dump.err.find("Broken pipe"), std::string::npos) << dump.err;
}

}  // namespace
