#include "platform/mod_kxcheck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

TEST_F(FileServicesTest, CopyReplacesTargetAndDeleteRemoves) {
  std::ofstream(dir_ / "a") << "new";
  std::ofstream(dir_ / "b") << "old old";
  platform::CopyFile((dir_ / "a").string(), (dir_ / "b").string());
  std::ifstream in(dir_ / "b");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "new");
  platform::DeleteFile((dir_ / "b").string());
  EXPECT_FALSE(fs::exists(dir_ / "b"));
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
