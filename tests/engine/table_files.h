// Helpers for the engine tests: a temporary directory and raw file access,
// so tests can build and damage table files byte by byte.
#ifndef KXCHECK_TESTS_ENGINE_TABLE_FILES_H_
#define KXCHECK_TESTS_ENGINE_TABLE_FILES_H_

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "engine/record_codec.h"
#include "engine/record_table.h"

namespace testing_files {

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kxengine-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    if (made == nullptr) std::abort();
    path_ = made;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string Path(const std::string& name) const {
    return (path_ / name).string();
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A record buffer from date text "YYYY-MM-DD", time text and payload bytes.
inline std::string MakeRecord(const std::string& date, const std::string& time,
                              const std::string& payload) {
  std::string r(kalvex::kPayloadOffset, '\0');
  r[kalvex::kCenturyOffset] = kalvex::PackCentury(date[0], date[1]);
  r.replace(kalvex::kYearOffset, 8, date.substr(2, 8));
  r.replace(kalvex::kTimeOffset, kalvex::kTimeBytes, time);
  return r + payload;
}

// The text of the TableError that `f` throws; "(no error)" when it throws
// none.
inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const kalvex::TableError& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace testing_files

#endif  // KXCHECK_TESTS_ENGINE_TABLE_FILES_H_
