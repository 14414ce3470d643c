#include "tests/tools/support/tool_test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

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

std::string DumpText(const std::vector<DumpRecord>& records) {
  std::string text;
  for (const DumpRecord& r : records) {
    text += (r.deleted ? "D " : "- ") + Hex(r.bytes) + "\n";
  }
  return text;
}

std::vector<DumpRecord> ParseDump(const std::string& text) {
  std::vector<DumpRecord> records;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() < 2) continue;
    DumpRecord& record = records.emplace_back();
    record.deleted = line[0] == 'D';
    for (size_t i = 2; i + 1 < line.size(); i += 2) {
      record.bytes +=
          static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    }
  }
  return records;
}

std::string RecordStamp(std::string_view record) {
  std::string stamp;
  if (record.substr(0, 9).find_first_not_of('\0') != std::string_view::npos) {
    stamp += kalvex::CenturyHigh(record[0]);
    stamp += kalvex::CenturyLow(record[0]);
    stamp.append(record.substr(1, 8));
  }
  stamp += ' ';
  if (record.substr(9, 8).find_first_not_of('\0') != std::string_view::npos) {
    stamp.append(record.substr(9, 8));
  }
  return stamp;
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

namespace {

// Starts kxtable in `dir` with `args`, standard output `out_fd` and standard
// error the file `err`; returns its process id.
pid_t StartKxtable(const fs::path& dir, const std::string& args, int out_fd,
                   const fs::path& err) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);  // as a shell would start it
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(in_fd, 0);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    if (::chdir(dir.c_str()) != 0) _exit(124);
    ::execl("/bin/sh", "sh", "-c",
            (std::string(KXTABLE_PATH) + " " + args).c_str(),
            static_cast<char*>(nullptr));
    _exit(123);
  }
  return pid;
}

int ExitCode(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

void KxtableTest::ExpectExits(const std::vector<Exit>& exits) const {
  for (const Exit& e : exits) {
    const Result r = Kxtable(e.args);
    EXPECT_EQ(r.code, e.code) << e.args << "\n" << r.err;
    EXPECT_NE(r.err.find(e.err), std::string::npos) << e.args << "\n" << r.err;
    if (e.code != 0) {
      EXPECT_TRUE(r.err.starts_with("kxtable: ") &&
                  std::count(r.err.begin(), r.err.end(), '\n') == 1)
          << e.args << "\n"
          << r.err;
    }
  }
}

Result KxtableTest::KxtableIntoClosedPipe(const std::string& args) const {
  int pipe_fds[2];
  EXPECT_EQ(::pipe(pipe_fds), 0);
  ::close(pipe_fds[0]);
  const pid_t pid = StartKxtable(dir_, args, pipe_fds[1], dir_ / "pipe.err");
  ::close(pipe_fds[1]);
  const int code = ExitCode(pid);
  return {code, "", ReadFile(dir_ / "pipe.err")};
}

Result KxtableTest::KxtableIntoNonBlockingPipe(const std::string& args,
                                               int wait_ms) const {
  int pipe_fds[2];
  EXPECT_EQ(::pipe(pipe_fds), 0);
  ::fcntl(pipe_fds[1], F_SETFL, ::fcntl(pipe_fds[1], F_GETFL) | O_NONBLOCK);
  const pid_t pid = StartKxtable(dir_, args, pipe_fds[1], dir_ / "pipe.err");
  ::close(pipe_fds[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
  std::string out;
  char chunk[1 << 16];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0) {
    out.append(chunk, static_cast<size_t>(n));
  }
  ::close(pipe_fds[0]);
  const int code = ExitCode(pid);
  return {code, out, ReadFile(dir_ / "pipe.err")};
}

}  // namespace kxtest
