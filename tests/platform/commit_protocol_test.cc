// The order of the file calls that make a Repair's output safe, which
// nothing that only reads the files afterwards can see. The engine and the
// platform's file services make them through a recording Env.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "adapter/engine_table.h"
#include "core/repair_pass.h"
#include "engine/record_table.h"
#include "engine/table_format.h"
#include "os/fault_env.h"
#include "platform/system.h"

namespace {

namespace fs = std::filesystem;
using kxos::Call;

// Records every call, and the flags of each new index it writes.
class RecordingEnv final : public kxos::FaultEnv {
 public:
  int WriteAt(int fd, const char* data, size_t size, int64_t offset) override {
    if (size == kalvex::format::kIndexBytes) {
      index_flags_[Calls().size()] = kalvex::format::GetU16(
          reinterpret_cast<const unsigned char*>(data) + 6);
    }
    return FaultEnv::WriteAt(fd, data, size, offset);
  }

  // The calls that order the commit, made on files in `dir`, as "call name",
  // with the random part of new names written as "*": "pwrite
  // i.kxi.tmp-* flags 1" for an index, "pwrite d.kxd records" past a file's
  // header.
  std::vector<std::string> Protocol(const std::string& dir) const {
    auto name = [&](const std::string& path) -> std::string {
      if (path == dir) return ".";
      if (path.rfind(dir + "/", 0) != 0) return "";
      return std::regex_replace(path.substr(dir.size() + 1),
                                std::regex("\\.tmp-[0-9a-f]{12}"), ".tmp-*");
    };
    std::vector<std::string> out;
    const auto& calls = Calls();
    for (size_t i = 0; i < calls.size(); ++i) {
      const kxos::FaultEnv::Record& call = calls[i];
      std::string line = name(call.path);
      if (line.empty()) continue;
      switch (call.call) {
        case Call::kSync:
        case Call::kLock:
        case Call::kUnlink:
          break;
        case Call::kRename:
          line += " " + name(call.to);
          break;
        case Call::kWriteAt:
          if (index_flags_.count(i) != 0) {
            line += " flags " + std::to_string(index_flags_.at(i));
          } else if (call.offset >=
                     static_cast<int64_t>(kalvex::format::kFileHeaderBytes)) {
            line += " records";
          }
          break;
        default:
          continue;
      }
      out.push_back(kxos::CallName(call.call) + (" " + line));
    }
    return out;
  }

 private:
  std::map<size_t, uint16_t> index_flags_;
};

class QuietHost final : public platform::SystemHost {
 public:
  explicit QuietHost(kxos::Env* env) : env_(env) {}
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
  void CopyFile(const std::string& from, const std::string& to) override {
    platform::CopyFile(from, to, env_);
  }
  void DeleteFile(const std::string& path) override {
    platform::DeleteFile(path, env_);
  }
  bool IsLink(const std::string& path) override {
    return platform::IsLink(path, env_);
  }
  std::unique_ptr<OutputLock> LockOutput(const std::string& path) override {
    return platform::LockOutput(path, env_);
  }
  bool StopRequested() override { return false; }
  std::string warnings;

 private:
  kxos::Env* env_;
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

  RecordingEnv env;
  QuietHost host(&env);
  EXPECT_EQ(kxcheck::RunRepairPass(
                source, host,
                [&] { return std::make_unique<adapter::EngineTable>(&env); }),
            kxcheck::Outcome::kCompleted)
      << host.warnings;

  EXPECT_EQ(env.Protocol(dir.string()),
            (std::vector<std::string>{
                // One writer: the lock comes before any deletion.
                "flock t_REPAIRED.kxt.lock",
                "unlink t_REPAIRED.kxt",
                "fsync t_REPAIRED.kxt",
                "flock t_REPAIRED.kxd",
                "pwrite t_REPAIRED.kxd",
                "pwrite t_REPAIRED.kxa",
                // The new table is marked incomplete, durably, before any
                // record goes into it...
                "pwrite t_REPAIRED.kxi.tmp-* flags 1",
                "fsync t_REPAIRED.kxi.tmp-*",
                "rename t_REPAIRED.kxi.tmp-* t_REPAIRED.kxi",
                "fsync .",
                "pwrite t_REPAIRED.kxd records",
                "pwrite t_REPAIRED.kxa records",
                // ...and committed once records and marks are on disk: the
                // new index is synced before it replaces the old one, then
                // the directory.
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
