// The operations compiled for the engine adapter and a concrete host give
// exactly what the same operations give through the interfaces.
#include "adapter/engine_operations.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "adapter/engine_table.h"
#include "core/operations.h"
#include "engine/record_table.h"
#include "platform/system.h"

namespace {

namespace fs = std::filesystem;

// A host that answers everything and keeps every call it cares about.
class RecordingHost final : public platform::SystemHost {
 public:
  void ShowProgress(const std::string& text) override {
    calls += "progress " + text + "\n";
  }
  void EnterBusy() override { calls += "busy\n"; }
  void LeaveBusy() override { calls += "idle\n"; }
  void PumpEvents() override { ++pumps; }
  void WarnBox(const std::string& text) override {
    calls += "warn " + text + "\n";
  }
  bool AskYesNo(const std::string&) override { return true; }
  void ShowTableProblems(const std::string& path,
                         const std::vector<std::string>& problems) override {
    WarnBox(kxcheck::TableProblemsText(path, problems));
  }
  bool SkipOption(kxcheck::SkipKind) override { return skip; }
  bool StopRequested() override { return false; }
  int CurrentYear() override { return 2026; }

  bool skip = true;
  std::string calls;
  int pumps = 0;
};

class EngineOperationsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kxops-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A table whose records are `width` bytes: good, damaged and odd ones.
  std::string MakeTable(const std::string& name, uint32_t width) {
    std::string path = (dir_ / (name + ".kxt")).string();
    kalvex::TableLayout layout;
    if (width > 17) layout.payload.push_back({"v", width - 17});
    kalvex::RecordTable::CreateDefinition(path, layout, false);
    kalvex::RecordTable t;
    t.SetAccessMode(kalvex::kAppend);
    t.Open(path);
    auto put = [&](const std::string& date, const std::string& time,
                   char fill = 'p', bool deleted = false) {
      std::string b(width, fill);
      t.SetRecordBuffer(b);
      t.FieldPut(1, date);
      t.FieldPut(2, time);
      if (deleted) {
        t.AppendDeletedRecord();
      } else {
        t.AppendRecord(0);
      }
    };
    put("2024-01-01", "00:00:00");
    put("2024-01-01", "00:00:00");       // duplicate
    put("2024-01-01", "00:00:00", 'q');  // same stamp, other payload
    put("2023-12-31", "23:59:59");       // out of order
    put("2024-13-32", "24:60:60");       // every field wrong
    put("2024/01/02", "01.00.00", 'r');  // separators
    put("", "");
    put("", "01:00:00");
    put("2024-01-03", "");
    put("2024-01-04", "00:00:00", 'p', true);
    put("1989-01-01", "00:00:00");
    put("2027-01-01", "00:00:00");
    t.SetRecordBuffer(std::string(width, '\0'));  // null
    t.AppendRecord(0);
    for (int i = 0; i < 2500; ++i) {
      char time[9];
      std::snprintf(time, sizeof time, "%02d:%02d:%02d", i / 3600 % 24,
                    i / 60 % 60, i % 60);
      put("2027-06-01", time, static_cast<char>('a' + i % 3));
    }
    t.Close();
    return path;
  }

  fs::path dir_;
};

TEST_F(EngineOperationsTest, CheckGivesTheSameAsThroughTheInterfaces) {
  for (uint32_t width : {17u, 26u, 40u, 64u, 65u, 100u}) {
    std::string name = "t";
    name += std::to_string(width);
    std::string path = MakeTable(name, width);
    RecordingHost generic;
    adapter::EngineTableFactory tables;
    ASSERT_EQ(kxcheck::CheckTable(path, generic, tables),
              kxcheck::Outcome::kCompleted);
    RecordingHost compiled;
    ASSERT_EQ(adapter::CheckEngineTable(path, compiled),
              kxcheck::Outcome::kCompleted);
    EXPECT_EQ(compiled.Log().Text(), generic.Log().Text()) << width;
    EXPECT_EQ(compiled.calls, generic.calls) << width;
    EXPECT_EQ(compiled.pumps, generic.pumps) << width;
    EXPECT_NE(
        generic.Log().Text().find(width > 17 ? "Found 1 Duplicate records"
                                             : "Found 2 Duplicate records"),
        std::string::npos)
        << generic.Log().Text();
  }
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(EngineOperationsTest, RepairWritesTheSameAsThroughTheInterfaces) {
  for (uint32_t width : {17u, 40u, 65u}) {
    for (bool skip : {true, false}) {
      std::string name = "r";
      name += std::to_string(width);
      std::string path = MakeTable(name, width);
      std::string output = (dir_ / (name + "_REPAIRED")).string();
      RecordingHost generic;
      generic.skip = skip;
      adapter::EngineTableFactory tables;
      ASSERT_EQ(kxcheck::RepairTable(path, generic, tables),
                kxcheck::Outcome::kCompleted);
      const std::string data = FileBytes(output + ".kxd");
      const std::string marks = FileBytes(output + ".kxa");
      RecordingHost compiled;
      compiled.skip = skip;
      ASSERT_EQ(adapter::RepairEngineTable(path, compiled),
                kxcheck::Outcome::kCompleted);
      EXPECT_EQ(compiled.Log().Text(), generic.Log().Text()) << width;
      EXPECT_EQ(compiled.calls, generic.calls) << width;
      EXPECT_EQ(compiled.pumps, generic.pumps) << width;
      EXPECT_EQ(FileBytes(output + ".kxd"), data) << width;
      EXPECT_EQ(FileBytes(output + ".kxa"), marks) << width;
      EXPECT_NE(generic.Log().Text().find("- Date set to --> "),
                std::string::npos);
      for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"}) {
        fs::remove(path.substr(0, path.size() - 4) + ext);
        fs::remove(output + ext);
      }
    }
  }
}

}  // namespace
