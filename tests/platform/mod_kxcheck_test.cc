#include "platform/mod_kxcheck.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

// What the services meet at a name; "other" is a file elsewhere.
enum class At {
  kNothing,
  kFile,
  kLinkToOther,
  kDanglingLink,
  kDirectory,
  kFifo
};

void Make(At what, const fs::path& name, const fs::path& other) {
  switch (what) {
    case At::kNothing:
      break;
    case At::kFile:
      std::ofstream(name) << "old";
      break;
    case At::kLinkToOther:
      fs::create_symlink(other, name);
      break;
    case At::kDanglingLink:
      fs::create_symlink(name.string() + ".gone", name);
      break;
    case At::kDirectory:
      fs::create_directory(name);
      break;
    case At::kFifo:
      ::mkfifo(name.c_str(), 0644);
      break;
  }
}

TEST_F(FileServicesTest, CopyMakesANewFileAndWritesThroughNothing) {
  const fs::path from = dir_ / "from", other = dir_ / "other";
  std::ofstream(from) << "new";
  for (At what : {At::kNothing, At::kFile, At::kLinkToOther, At::kDanglingLink,
                  At::kFifo}) {
    SCOPED_TRACE(static_cast<int>(what));
    const fs::path to = dir_ / "to";
    std::ofstream(other) << "other";
    Make(what, to, other);
    bool copied = true;
    try {
      platform::CopyFile(from.string(), to.string());
    } catch (const std::runtime_error& e) {
      copied = false;
      EXPECT_NE(std::string(e.what()).find(to.string()), std::string::npos);
    }
    EXPECT_EQ(copied, what == At::kNothing);
    if (copied) EXPECT_EQ(Read(to), "new");
    EXPECT_EQ(Read(other), "other");
    EXPECT_FALSE(fs::exists(to.string() + ".gone"));
    fs::remove(to);
  }
}

TEST_F(FileServicesTest, DeleteRemovesFilesAndLinksOnly) {
  const fs::path other = dir_ / "other";
  std::ofstream(other) << "other";
  for (At what : {At::kNothing, At::kFile, At::kLinkToOther, At::kDanglingLink,
                  At::kDirectory, At::kFifo}) {
    SCOPED_TRACE(static_cast<int>(what));
    const fs::path name = dir_ / "name";
    Make(what, name, other);
    const bool refused = what == At::kDirectory || what == At::kFifo;
    EXPECT_EQ(platform::IsLink(name.string()),
              what == At::kLinkToOther || what == At::kDanglingLink);
    if (refused) {
      EXPECT_THROW(platform::DeleteFile(name.string()), std::runtime_error);
      EXPECT_TRUE(fs::exists(fs::symlink_status(name)));
      fs::remove(name);
    } else {
      platform::DeleteFile(name.string());
      EXPECT_FALSE(fs::exists(fs::symlink_status(name)));
    }
    EXPECT_EQ(Read(other), "other");
  }
}

TEST_F(FileServicesTest, OutputLockAdmitsOneWriterAndLeavesNoFile) {
  const std::string lock = (dir_ / "t_REPAIRED.kxt.lock").string();
  const fs::path other = dir_ / "other";
  std::ofstream(other) << "other";
  fs::create_symlink(other, lock);  // removed as a link, never followed
  {
    auto held = platform::LockOutput(lock);
    EXPECT_FALSE(platform::IsLink(lock));
    try {
      platform::LockOutput(lock);
      ADD_FAILURE() << "a second writer got the lock";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("another Repair is writing it"),
                std::string::npos);
    }
  }
  EXPECT_FALSE(fs::exists(lock));
  EXPECT_EQ(Read(other), "other");
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
