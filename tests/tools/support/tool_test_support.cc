#include "tests/tools/support/tool_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "engine/record_codec.h"

namespace kxtest {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

std::string EngineRecord(const std::string& stamp, const std::string& payload,
                         size_t length) {
  std::string record(17, '\0');
  record[0] = kalvex::PackCentury(stamp.at(0), stamp.at(1));
  stamp.copy(record.data() + 1, 8, 2);
  stamp.copy(record.data() + 9, 8, 11);
  record += payload;
  record.resize(length, ' ');
  return record;
}

Result RunIn(const fs::path& dir, const std::string& program,
             const std::string& args, const std::string& input) {
  WriteFile(dir / "stdin", input);
  const std::string command = "cd '" + dir.string() + "' && '" + program +
                              "' " + args + " <stdin >stdout 2>stderr";
  const int status = std::system(command.c_str());
  Result result;
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(dir / "stdout");
  result.err = ReadFile(dir / "stderr");
  return result;
}

void KxtableTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "kxtool-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void KxtableTest::TearDown() { fs::remove_all(dir_); }

std::string KxtableTest::Path(const std::string& name) const {
  return (dir_ / name).string();
}

Result KxtableTest::Kxtable(const std::string& args,
                            const std::string& input) const {
  return RunIn(dir_, KXTABLE_PATH, args, input);
}

}  // namespace kxtest
