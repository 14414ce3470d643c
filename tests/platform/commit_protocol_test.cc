// The order of the system calls that make a Repair's output safe, which
// nothing that only reads the files afterwards can see. This program is
// linked with --wrap for fsync, rename, flock, unlink and pwrite, so the
// calls of the engine and the platform layer pass through a recorder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "adapter/engine_operations.h"
#include "engine/record_table.h"
#include "engine/table_format.h"
#include "platform/system.h"

namespace {

namespace fs = std::filesystem;

// The calls made on files in `watched`, as "call name [name]", with the
// random part of temporary names written as "*".
std::string watched;
std::vector<std::string> calls;

std::string Name(const std::string& path) {
  if (!watched.empty() && path + "/" == watched) return ".";
  if (watched.empty() || path.rfind(watched, 0) != 0) return "";
  std::string name = path.substr(watched.size());
  if (name.empty()) return ".";
  return std::regex_replace(name, std::regex("\\.tmp-[0-9a-f]{12}"), ".tmp-*");
}

std::string NameOf(int fd) {
  char link[64];
  char target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? Name(std::string(target, static_cast<size_t>(n))) : "";
}

void Record(const std::string& call, const std::string& name) {
  if (!name.empty()) calls.push_back(call + " " + name);
}

}  // namespace

extern "C" {
int __real_fsync(int fd);
int __real_rename(const char* from, const char* to);
int __real_flock(int fd, int operation);
int __real_unlink(const char* path);
ssize_t __real_pwrite(int fd, const void* data, size_t size, off_t offset);

int __wrap_fsync(int fd) {
  Record("fsync", NameOf(fd));
  return __real_fsync(fd);
}
int __wrap_rename(const char* from, const char* to) {
  if (!Name(from).empty())
    calls.push_back("rename " + Name(from) + " " + Name(to));
  return __real_rename(from, to);
}
int __wrap_flock(int fd, int operation) {
  Record("flock", NameOf(fd));
  return __real_flock(fd, operation);
}
int __wrap_unlink(const char* path) {
  Record("unlink", Name(path));
  return __real_unlink(path);
}
ssize_t __wrap_pwrite(int fd, const void* data, size_t size, off_t offset) {
  // "pwrite i.kxi.tmp-* flags 1" for an index, "pwrite d.kxd records" past
  // a file's header.
  std::string name = NameOf(fd);
  if (name.find(".kxi.tmp-") != std::string::npos &&
      size == kalvex::format::kIndexBytes) {
    const auto* p = static_cast<const unsigned char*>(data);
    name += " flags " + std::to_string(kalvex::format::GetU16(p + 6));
  } else if (!name.empty() &&
             offset >= static_cast<off_t>(kalvex::format::kFileHeaderBytes)) {
    name += " records";
  }
  Record("pwrite", name);
  return __real_pwrite(fd, data, size, offset);
}
}  // extern "C"

namespace {

class QuietHost final : public platform::SystemHost {
 public:
  void ShowProgress(const std::string&) override {}
  void EnterBusy() override {}
  void LeaveBusy() override {}
  void PumpEvents() override {}
  void WarnBox(const std::string& text) override { warnings += text; }
  bool AskYesNo(const std::string&) override { return true; }
  void ShowTableProblems(const std::string& path,
                         const std::vector<std::string>& problems) override {
    WarnBox(kxcheck::TableProblemsText(path, problems));
  }
  bool SkipOption(kxcheck::SkipKind) override { return true; }
  bool StopRequested() override { return false; }
  std::string warnings;
};

TEST(CommitProtocol, RepairLocksMarksSyncsThenCommits) {
  std::string dir_pattern =
      (fs::temp_directory_path() / "kxcommit-XXXXXX").string();
  ASSERT_NE(::mkdtemp(dir_pattern.data()), nullptr);
  const fs::path dir = dir_pattern;
  const std::string source = (dir / "t.kxt").string();
  {
    kalvex::TableLayout layout;
    layout.payload.push_back({"v", 8});
    kalvex::RecordTable::CreateDefinition(source, layout, false);
    kalvex::RecordTable t;
    t.SetAccessMode(kalvex::kAppend);
    t.Open(source);
    t.SetRecordBuffer(std::string(25, 'x'));
    t.FieldPut(1, "2021-01-01");
    t.FieldPut(2, "00:00:00");
    for (int i = 0; i < 3; ++i) t.AppendRecord(0);
    t.Close();
  }
  // An old output, so that the Repair has something to delete.
  fs::copy(dir / "t.kxt", dir / "t_REPAIRED.kxt");

  watched = dir.string() + "/";
  QuietHost host;
  EXPECT_EQ(adapter::RepairEngineTable(source, host),
            kxcheck::Outcome::kCompleted)
      << host.warnings;
  watched.clear();

  EXPECT_EQ(calls, (std::vector<std::string>{
                       // One writer: the lock comes before any deletion.
                       "flock t_REPAIRED.kxt.lock",
                       "unlink t_REPAIRED.kxt",
                       "fsync t_REPAIRED.kxt",
                       "flock t_REPAIRED.kxd",
                       "pwrite t_REPAIRED.kxd",
                       "pwrite t_REPAIRED.kxa",
                       // The new table is marked incomplete, durably,
                       // before any record goes into it...
                       "pwrite t_REPAIRED.kxi.tmp-* flags 1",
                       "fsync t_REPAIRED.kxi.tmp-*",
                       "rename t_REPAIRED.kxi.tmp-* t_REPAIRED.kxi",
                       "fsync .",
                       "pwrite t_REPAIRED.kxd records",
                       "pwrite t_REPAIRED.kxa records",
                       // ...and committed once records and marks are on
                       // disk: the new index is synced before it replaces
                       // the old one, then the directory.
                       "fsync t_REPAIRED.kxd",
                       "fsync t_REPAIRED.kxa",
                       "pwrite t_REPAIRED.kxi.tmp-* flags 0",
                       "fsync t_REPAIRED.kxi.tmp-*",
                       "rename t_REPAIRED.kxi.tmp-* t_REPAIRED.kxi",
                       "fsync .",
                       // The lock goes last.
                       "unlink t_REPAIRED.kxt.lock",
                   }));
  fs::remove_all(dir);
}

}  // namespace
