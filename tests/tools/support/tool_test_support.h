// Helpers for the tests that run the kxtable binary: a fresh directory per
// test, the binary run there with given arguments and standard input, and
// byte-exact file access.
#ifndef KXCHECK_TESTS_TOOLS_SUPPORT_TOOL_TEST_SUPPORT_H_
#define KXCHECK_TESTS_TOOLS_SUPPORT_TOOL_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kxtest {

// How a run of a program ended and what it wrote.
struct Result {
  int code = -1;  // the exit code; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// The bytes of a file, NULs and all; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// Replaces a file's contents with `bytes`, exactly.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// Two lower-case hexadecimal digits a byte, as kxtable dump writes records.
std::string Hex(const std::string& bytes);

// A record in the engine's layout from a "YYYY-MM-DD HH:MM:SS" stamp whose
// first two characters are "0".."?": the first two digits packed into one
// byte, the rest of the date, the time, then `payload`, padded with spaces to
// `length` bytes.
std::string EngineRecord(const std::string& stamp, const std::string& payload,
                         size_t length);

// A record as `kxtable dump` writes it and `kxtable load` reads it: "D "
// (deleted) or "- ", then its bytes in Hex, one line a record.
struct DumpRecord {
  std::string bytes;
  bool deleted = false;
};
std::string DumpText(const std::vector<DumpRecord>& records);
std::vector<DumpRecord> ParseDump(const std::string& text);

// A record's stamp as the engine's two stamp fields give it: the date (the
// packed century and bytes 1-8), a space and the time (bytes 9-16); a field
// whose bytes are all zero is empty.
std::string RecordStamp(std::string_view record);

// Runs `program` with `args` (already quoted for the shell) in `dir`, with
// `input` on standard input. The streams pass through the files stdin,
// stdout and stderr in `dir`.
Result RunIn(const std::filesystem::path& dir, const std::string& program,
             const std::string& args, const std::string& input);

// A fixture with a directory of its own for each test, removed with all it
// holds when the test ends, where kxtable runs.
class KxtableTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The full path of `name` in the test's directory.
  std::string Path(const std::string& name) const;

  // Runs kxtable in the test's directory with the arguments (already quoted
  // for the shell) and `input` on standard input.
  Result Kxtable(const std::string& args, const std::string& input = "") const;

  // A command line, the exit status it must end with and a part of its
  // standard error.
  struct Exit {
    std::string args;
    int code;
    std::string err;
  };
  // Runs each command line in turn and checks its status and standard
  // error; with any status but 0 that is one line starting "kxtable: ".
  void ExpectExits(const std::vector<Exit>& exits) const;

  // Runs kxtable with standard output a pipe whose reader has gone, as
  // `kxtable ... | head -1` leaves it once head has ended, and SIGPIPE at
  // its default as a shell starts it. `out` stays empty.
  Result KxtableIntoClosedPipe(const std::string& args) const;

  // Runs kxtable with standard output a non-blocking pipe (as Node's
  // child_process hands one over) that is read only once `wait_ms` have
  // passed, and then to its end.
  Result KxtableIntoNonBlockingPipe(const std::string& args, int wait_ms) const;

  std::filesystem::path dir_;
};

}  // namespace kxtest

#endif  // KXCHECK_TESTS_TOOLS_SUPPORT_TOOL_TEST_SUPPORT_H_
