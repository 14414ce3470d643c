// A staged file gathers small pieces and writes large ones as they come:
// whatever the mix, the file holds the pieces in the order given, and a
// write that fails leaves no file at the name.
#include "tools/kxtable/staged_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "os/fault_env.h"
#include "tests/tools/support/tool_test_support.h"

namespace {

namespace fs = std::filesystem;

class StagedFileTest : public kxtest::KxtableTest {};

// `size` bytes that say which piece they belong to.
std::string Piece(size_t index, size_t size) {
  return std::string(size, static_cast<char>('a' + index % 26));
}

TEST_F(StagedFileTest, PiecesLandInTheOrderGiven) {
  constexpr size_t kKiB = 1024;
  struct Row {
    const char* name;
    std::vector<size_t> sizes;
  };
  const Row rows[] = {
      {.name = "small pieces only", .sizes = {1, 10, 100, 4 * kKiB - 1}},
      {.name = "small pieces, then a large one", .sizes = {5, 7, 300 * kKiB}},
      {.name = "a large piece between small ones",
       .sizes = {100, 4 * kKiB, 3, 20 * kKiB, 1}},
      {.name = "small pieces beyond the buffer",
       .sizes = std::vector<size_t>(70, 4 * kKiB - 1)},
      {.name = "large pieces only", .sizes = {64 * kKiB, 512 * kKiB}},
      {.name = "nothing", .sizes = {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = Path("out.txt");
    std::string expected;
    {
      kxtable::StagedFile file(path, /*replace=*/true);
      for (size_t i = 0; i < row.sizes.size(); ++i) {
        const std::string piece = Piece(i, row.sizes[i]);
        file.Write(piece);
        expected += piece;
      }
      file.Place();
    }
    EXPECT_EQ(kxtest::ReadFile(path), expected);
  }
}

TEST_F(StagedFileTest, AFailedWriteLeavesNoFile) {
  struct Row {
    const char* name;
    std::vector<size_t> sizes;
  };
  const Row rows[] = {
      {.name = "a large piece written as it comes", .sizes = {10, 64 * 1024}},
      {.name = "small pieces written when placed", .sizes = {10, 20}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    kxos::FaultEnv env;
    env.FailCall(kxos::Call::kWrite, 1, ENOSPC);
    const std::string path = Path("out.txt");
    EXPECT_ANY_THROW({
      kxtable::StagedFile file(path, /*replace=*/true, {}, &env);
      for (size_t i = 0; i < row.sizes.size(); ++i) {
        file.Write(Piece(i, row.sizes[i]));
      }
      file.Place();
    });
    EXPECT_FALSE(fs::exists(path));
    for (const auto& entry : fs::directory_iterator(dir_)) {
      EXPECT_EQ(entry.path().filename().string().find(".new"),
                std::string::npos)
          << entry.path();
    }
  }
}

}  // namespace
