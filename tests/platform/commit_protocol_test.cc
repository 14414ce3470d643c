// The order of the file calls that make a Repair's output safe (written
// under staged names, committed, then put in place), which nothing that only
// reads the files afterwards can see. The engine and the
// platform's file services make them through a recording Env.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
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
#include "os/staged.h"
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
  // with each staged name written as "~" and a letter for its group, in the
  // order the groups appear: "pwrite ~B.kxi flags 1" for an index, "pwrite
  // ~A.kxd records" past a file's header.
  std::vector<std::string> Protocol(const std::string& dir) const {
    std::map<std::string, std::string> groups;
    auto name = [&](const std::string& path) -> std::string {
      if (path == dir) return ".";
      if (path.rfind(dir + "/", 0) != 0) return "";
      std::string file = path.substr(dir.size() + 1);
      std::smatch staged;
      if (std::regex_match(
              file, staged,
              std::regex("\\.kxs-[0-9a-f]{16}-([0-9a-f]{12})(.*)"))) {
        auto [it, added] = groups.emplace(
            staged[1].str(),
            std::string(1, static_cast<char>('A' + groups.size())));
        file = "~" + it->second + staged[2].str();
      }
      return file;
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
        case Call::kLink:
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
  explicit QuietHost(kxos::Env* env) : SystemHost(env) {}
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

TEST(CommitProtocol, RepairStagesCommitsThenPutsInPlace) {
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
  // An earlier output, which the new one replaces, and what a killed run
  // left for it: a staged data file and an index's temporary name of an
  // earlier version.
  for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"}) {
    fs::copy(dir / ("t" + std::string(ext)),
             dir / ("t_REPAIRED" + std::string(ext)));
  }
  const std::string out = (dir / "t_REPAIRED.kxt").string();
  std::ofstream(dir / (".kxs-" + kxos::TargetHash(out) + "-0123456789ab.kxd"));
  std::ofstream(dir / "t_REPAIRED.kxi.tmp-0123456789ab");

  RecordingEnv env;
  QuietHost host(&env);
  EXPECT_EQ(kxcheck::RunRepairPass(
                source, host,
                [&] { return std::make_unique<adapter::EngineTable>(&env); }),
            kxcheck::Outcome::kCompleted)
      << host.warnings;

  EXPECT_EQ(env.Protocol(dir.string()),
            (std::vector<std::string>{
                // One writer: the output's lock, made under the folder's.
                "flock .",
                "flock t_REPAIRED.kxt.lock",
                // What killed runs left for the output goes, under the
                // folder's lock, when no writer holds it.
                "flock .",
                "flock ~A.kxd",
                "unlink ~A.kxd",
                "flock t_REPAIRED.kxi.tmp-0123456789ab",
                "unlink t_REPAIRED.kxi.tmp-0123456789ab",
                // The new table is written under staged names, the copy of
                // the definition held locked while it is being written...
                "flock ~B.kxt",
                "fsync ~B.kxt",
                "flock ~B.kxd",
                "pwrite ~B.kxd",
                "pwrite ~B.kxa",
                // ...marked incomplete, durably, before any record goes
                // into it...
                "flock ~C.kxi",
                "pwrite ~C.kxi flags 1",
                "fsync ~C.kxi",
                "rename ~C.kxi ~B.kxi",
                "fsync .",
                "pwrite ~B.kxd records",
                "pwrite ~B.kxa records",
                // ...and committed once records and marks are on disk.
                "fsync ~B.kxd",
                "fsync ~B.kxa",
                "flock ~D.kxi",
                "pwrite ~D.kxi flags 0",
                "fsync ~D.kxi",
                "rename ~D.kxi ~B.kxi",
                "fsync .",
                // Put in place under the folder's lock: the earlier output
                // is marked incomplete first, so that no crash before the
                // new index is in place leaves a table that looks whole...
                "flock .",
                "flock ~E.kxi",
                "pwrite ~E.kxi flags 1",
                "fsync ~E.kxi",
                "rename ~E.kxi t_REPAIRED.kxi",
                "fsync .",
                // ...then the other files, durably, and the index last.
                "rename ~B.kxd t_REPAIRED.kxd",
                "rename ~B.kxa t_REPAIRED.kxa",
                "rename ~B.kxt t_REPAIRED.kxt",
                "fsync .",
                "rename ~B.kxi t_REPAIRED.kxi",
                "fsync .",
                // The lock goes last, if it is still the one this run made.
                "flock .",
                "unlink t_REPAIRED.kxt.lock",
            }));
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    EXPECT_FALSE(kxos::IsStagedName(entry.path().filename().string()))
        << entry.path();
  }
  fs::remove_all(dir);
}

}  // namespace
