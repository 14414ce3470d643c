#include "platform/mod_kxcheck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "engine/record_table.h"
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

// A staged table takes its target's names only when published; a link at
// a target name is replaced as a link, never written through.
TEST_F(FileServicesTest, StagedTableReplacesNamesNotWhatTheyLeadTo) {
  const std::string source = (dir_ / "s.kxt").string();
  const std::string target = (dir_ / "t.kxt").string();
  kalvex::TableLayout layout;
  layout.payload.push_back({"v", 3});
  kalvex::RecordTable::CreateDefinition(source, layout, false);
  fs::permissions(source, fs::perms::owner_read | fs::perms::owner_write);
  std::ofstream(dir_ / "other") << "other";
  fs::create_symlink(dir_ / "other", dir_ / "t.kxd");
  {
    auto staged = platform::StageTable(source, target);
    kalvex::RecordTable table;
    table.SetAccessMode(kalvex::kAppend);
    table.Open(staged->Path());
    table.Close();
    EXPECT_TRUE(fs::is_symlink(dir_ / "t.kxd"));
    EXPECT_FALSE(fs::exists(target));
    staged->Publish();
  }
  EXPECT_EQ(Read(dir_ / "other"), "other");
  EXPECT_FALSE(fs::is_symlink(dir_ / "t.kxd"));
  EXPECT_EQ(Read(target), Read(source));
  // The output is as private as the source.
  for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"}) {
    EXPECT_EQ(fs::status(dir_ / ("t" + std::string(ext))).permissions(),
              fs::perms::owner_read | fs::perms::owner_write)
        << ext;
  }
}

TEST_F(FileServicesTest, OutputLockAdmitsOneWriterAndLeavesNoFile) {
  const std::string lock = (dir_ / "t_REPAIRED.kxt.lock").string();
  {
    auto held = platform::LockOutput(lock);
    EXPECT_THROW(platform::LockOutput(lock), std::runtime_error);
  }
  EXPECT_FALSE(fs::exists(lock));
  // A lock file removed from under its holder and taken by another run is
  // that run's: the first holder's end leaves it.
  {
    auto first = platform::LockOutput(lock);
    fs::remove(lock);
    auto second = platform::LockOutput(lock);
    first.reset();
    EXPECT_TRUE(fs::exists(lock));
    EXPECT_THROW(platform::LockOutput(lock), std::runtime_error);
  }
  EXPECT_FALSE(fs::exists(lock));
}

TEST_F(FileServicesTest, FailuresNameTheFile) {
  try {
    platform::StageTable((dir_ / "missing.kxt").string(),
                         (dir_ / "b.kxt").string());
    FAIL() << "a copy of a missing file was staged";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
  }
  EXPECT_GE(platform::CurrentYear(), 2024);
}

}  // namespace
