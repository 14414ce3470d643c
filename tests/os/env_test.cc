// What the tests of the other layers rely on: the fault-injecting Env fails
// exactly the call it is told to, and records every call with its path; the
// machine's Env never cuts a path short.
#include "os/env.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "os/fault_env.h"

namespace {

namespace fs = std::filesystem;
using kxos::Call;
using kxos::FaultEnv;
using kxos::Fd;
using kxos::FileInfo;

class EnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kxos-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const {
    return (dir_ / name).string();
  }
  fs::path dir_;
};

TEST_F(EnvTest, FaultFailsTheNthMatchingCallOnceWithoutReachingTheSystem) {
  FaultEnv env;
  env.FailCall(Call::kOpen, 2, EACCES, ".kxd");
  const int flags = O_RDWR | O_CREAT | O_EXCL;
  Fd a, b, c;
  EXPECT_EQ(env.Open(Path("a.kxd"), flags, 0644, a), 0);
  EXPECT_EQ(env.Open(Path("b.kxa"), flags, 0644, b), 0);  // not counted
  EXPECT_EQ(env.Open(Path("c.kxd"), flags, 0644, c), EACCES);
  EXPECT_FALSE(c.valid());
  EXPECT_FALSE(fs::exists(Path("c.kxd")));
  EXPECT_EQ(env.Open(Path("c.kxd"), flags, 0644, c), 0);  // once only
}

// Each kind of call can be failed, and is recorded as that kind with the
// path it concerns: the one its descriptor was opened with, if it has one.
TEST_F(EnvTest, EveryCallIsRecordedAndCanFail) {
  struct Case {
    Call call;
    std::function<int(kxos::Env&, Fd&)> make;
    std::string path;  // file name in the directory; "" for the directory
  };
  char buffer[4];
  size_t done = 0;
  FileInfo info;
  std::vector<std::string> names;
  const std::vector<Case> cases = {
      {Call::kRead,
       [&](auto& e, Fd& f) { return e.Read(f.get(), buffer, 4, done); }, "f"},
      {Call::kReadAt,
       [&](auto& e, Fd& f) { return e.ReadAt(f.get(), buffer, 4, 0, done); },
       "f"},
      {Call::kWrite, [&](auto& e, Fd& f) { return e.Write(f.get(), "ab", 2); },
       "f"},
      {Call::kWriteAt,
       [&](auto& e, Fd& f) { return e.WriteAt(f.get(), "ab", 2, 8); }, "f"},
      {Call::kSync, [&](auto& e, Fd& f) { return e.Sync(f.get()); }, "f"},
      {Call::kTruncate, [&](auto& e, Fd& f) { return e.Truncate(f.get(), 0); },
       "f"},
      {Call::kLock, [&](auto& e, Fd& f) { return e.Lock(f.get()); }, "f"},
      {Call::kStatOpen,
       [&](auto& e, Fd& f) { return e.StatOpen(f.get(), info); }, "f"},
      {Call::kClose, [&](auto&, Fd& f) { return f.Close(); }, "f"},
      {Call::kStat, [&](auto& e, Fd&) { return e.Stat(Path("f"), info); }, "f"},
      {Call::kLinkStat,
       [&](auto& e, Fd&) { return e.LinkStat(Path("f"), info); }, "f"},
      {Call::kRename,
       [&](auto& e, Fd&) { return e.Rename(Path("f"), Path("g")); }, "f"},
      {Call::kUnlink, [&](auto& e, Fd&) { return e.Unlink(Path("f")); }, "f"},
      {Call::kListDirectory,
       [&](auto& e, Fd&) { return e.ListDirectory(dir_.string(), names); }, ""},
      {Call::kFileExists,
       [&](auto& e, Fd&) { return e.FileExists(Path("f")) ? 0 : EIO; }, "f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kxos::CallName(c.call));
    FaultEnv env;
    Fd fd;
    ASSERT_EQ(env.Open(Path("f"), O_RDWR | O_CREAT, 0644, fd), 0);
    env.FailCall(c.call, 1, EIO);
    EXPECT_EQ(c.make(env, fd), EIO);
    ASSERT_FALSE(env.Calls().empty());
    EXPECT_EQ(env.Calls().back().call, c.call);
    EXPECT_EQ(env.Calls().back().path,
              c.path.empty() ? dir_.string() : Path(c.path));
    EXPECT_TRUE(fs::exists(Path("f")));
  }
}

TEST_F(EnvTest, FailedCloseStillReleasesTheDescriptor) {
  FaultEnv env;
  Fd fd;
  ASSERT_EQ(env.Open(Path("f"), O_RDWR | O_CREAT, 0644, fd), 0);
  const int raw = fd.get();
  env.FailCall(Call::kClose, 1, EIO);
  EXPECT_EQ(fd.Close(), EIO);
  EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
}

TEST_F(EnvTest, PathsWithNulAreRefusedAndListingsHoldOnlyNames) {
  kxos::Env& env = *kxos::Env::Default();
  const std::string cut = Path("a") + std::string("\0b", 2);
  Fd fd;
  EXPECT_EQ(env.Open(cut, O_RDWR | O_CREAT, 0644, fd), EINVAL);
  FileInfo info;
  EXPECT_EQ(env.Stat(cut, info), EINVAL);
  EXPECT_FALSE(env.FileExists(cut));
  EXPECT_FALSE(fs::exists(Path("a")));

  ASSERT_EQ(env.Open(Path("x.kxt"), O_RDWR | O_CREAT, 0644, fd), 0);
  fs::create_directory(Path("sub"));
  std::vector<std::string> names;
  ASSERT_EQ(env.ListDirectory(dir_.string(), names), 0);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"sub", "x.kxt"}));
  EXPECT_EQ(env.ListDirectory(Path("x.kxt"), names), ENOTDIR);
}

}  // namespace
