#include "bench/support/work_dir.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kxbench {

bool MakeWorkDir(std::string& dir, const char* name) {
  if (!dir.empty()) return false;
  std::string pattern =
      (std::filesystem::temp_directory_path() / (std::string(name) + "-XXXXXX"))
          .string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  dir = pattern;
  return true;
}

}  // namespace kxbench
