#include "platform/mod_kxcheck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/system.h"

namespace {

namespace fs = std::filesystem;

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kx_platform_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

using FileExistsTest = TempDir;

TEST_F(FileExistsTest, FilesAndDirectoriesExistEmptyAndMissingPathsDoNot) {
  std::ofstream(dir_ / "t.kxt") << "x";
  EXPECT_TRUE(modKXCheck::FileExists((dir_ / "t.kxt").string()));
  EXPECT_TRUE(modKXCheck::FileExists(dir_.string()));
  EXPECT_FALSE(modKXCheck::FileExists(""));
  EXPECT_FALSE(modKXCheck::FileExists((dir_ / "missing.kxt").string()));
  EXPECT_FALSE(modKXCheck::FileExists(std::string("a\0b", 3)));
}

using FileServicesTest = TempDir;

std::string Read(const fs::path& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Copy makes only new files and delete removes links as links; what other
// kinds of names they meet, the repair's tests of file layouts cover.
TEST_F(FileServicesTest, NothingIsWrittenThroughALink) {
  const fs::path from = dir_ / "from", other = dir_ / "other";
  const fs::path link = dir_ / "link";
  std::ofstream(from) << "new";
  std::ofstream(other) << "other";
  fs::create_symlink(other, link);
  EXPECT_THROW(platform::CopyFile(from.string(), link.string()),
               std::runtime_error);
  EXPECT_TRUE(platform::IsLink(link.string()));
  platform::DeleteFile(link.string());
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_EQ(Read(other), "other");
  platform::CopyFile(from.string(), link.string());
  EXPECT_EQ(Read(link), "new");
}

TEST_F(FileServicesTest, OutputLockAdmitsOneWriterAndLeavesNoFile) {
  const std::string lock = (dir_ / "t_REPAIRED.kxt.lock").string();
  {
    auto held = platform::LockOutput(lock);
    EXPECT_THROW(platform::LockOutput(lock), std::runtime_error);
  }
  EXPECT_FALSE(fs::exists(lock));
  EXPECT_NE(platform::LockOutput(lock), nullptr);
}

TEST_F(FileServicesTest, FailuresNameTheFile) {
  try {
    platform::CopyFile((dir_ / "missing").string(), (dir_ / "b").string());
    FAIL() << "copy of a missing file succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
  }
  EXPECT_GE(platform::CurrentYear(), 2024);
}

}  // namespace
