// In-memory fakes of a table, a table store and a host, for driving the check
// scan and the repair pass without files or a window. Every operation of the
// table and every host service can be made to fail on purpose.
#ifndef KXCHECK_TESTS_CORE_SUPPORT_FAKES_H_
#define KXCHECK_TESTS_CORE_SUPPORT_FAKES_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/host.h"
#include "core/table.h"

namespace kxtest {

// Thrown by the fakes when a failure was asked for.
class InjectedFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decides when an operation fails: at the nth call of it (1-based, counted
// over the whole object), at every call while a given record is current, or
// always.
class FailurePlan {
 public:
  void FailCall(const std::string& op, int64_t nth) { calls_[op].insert(nth); }
  void FailAtRecord(const std::string& op, int32_t record) {
    records_[op].insert(record);
  }
  void FailAlways(const std::string& op) { always_.insert(op); }
  // Fails the nth call (1-based) of the op made while the record is current.
  void FailNthAtRecord(const std::string& op, int32_t record, int64_t nth) {
    record_calls_[op][record].insert(nth);
  }
  void Clear();
  // Counts the call and throws InjectedFailure if it is planned to fail.
  void Check(const std::string& op, int32_t current_record);
  int64_t Calls(const std::string& op) const;

 private:
  std::map<std::string, int64_t> counts_;
  std::map<std::string, std::set<int64_t>> calls_;
  std::map<std::string, std::set<int32_t>> records_;
  std::map<std::string, std::map<int32_t, int64_t>> record_counts_;
  std::map<std::string, std::map<int32_t, std::set<int64_t>>> record_calls_;
  std::set<std::string> always_;
};

struct FakeRecord {
  std::string bytes;
  bool deleted = false;
};

// What the tables of one fake disk hold, by path of the main file.
struct FakeTableData {
  std::vector<FakeRecord> records;
  bool closed_cleanly = false;  // Close ran after the last append
};

// The fake disk: the files that exist and the tables behind ".kxt" paths.
// A table's records live as long as its ".kxd" file does.
class FakeDisk {
 public:
  // Adds a table with its four files.
  void AddTable(const std::string& kxt_path, std::vector<FakeRecord> records);
  bool Exists(const std::string& path) const { return files.count(path) > 0; }
  FakeTableData* Table(const std::string& kxt_path);

  std::set<std::string> files;
  std::map<std::string, FakeTableData> tables;
};

// The path without a last ".kxt" in any letter case.
std::string StripKxt(const std::string& path);

// A record in the engine's layout: byte 0 the century as two nibbles, bytes
// 1-8 the rest of the date, 9-16 the time, then the payload. `stamp` is
// "YYYY-MM-DD HH:MM:SS"; the first two characters must be "0".."?".
std::string MakeRecord(const std::string& stamp,
                       const std::string& payload = "payload-bytes-0123456789");
// A record whose bytes are all zero.
std::string NullRecord(size_t length = 41);

class FakeTable : public kxcheck::Table {
 public:
  FakeTable(FakeDisk& disk, FailurePlan& plan) : disk_(disk), plan_(plan) {}

  void SetAccessMode(int mode) override;
  void Open(const std::string& path) override;
  std::string BasePath() override;
  int32_t RecordCount() override;
  void GoToRecord(int32_t n) override;
  std::string_view RecordBuffer() override;
  void SetRecordBuffer(std::string_view bytes) override;
  bool Deleted() override;
  std::string FieldGet(int field) override;
  void FieldPut(int field, std::string_view text) override;
  void AppendRecord(int option) override;
  void Close() override;

 private:
  FakeTableData& Data();

  FakeDisk& disk_;
  FailurePlan& plan_;
  int mode_ = 0;
  std::string path_;
  bool open_ = false;
  int32_t current_ = 0;
  std::string buffer_;
};

// Hands out FakeTables on one disk. Each table gets its own failure plan:
// plan(0) for the first table created, plan(1) for the second, and so on
// (the check scan creates one table, the repair pass the source and then the
// output).
class FakeTableFactory : public kxcheck::TableFactory {
 public:
  explicit FakeTableFactory(FakeDisk& disk) : disk_(disk) {}
  std::unique_ptr<kxcheck::Table> Create() override;
  FailurePlan& plan(size_t index);
  int created() const { return created_; }

 private:
  FakeDisk& disk_;
  std::map<size_t, FailurePlan> plans_;
  int created_ = 0;
};

// A host that records what the operation asked of it. Failures can be
// planned for any service by its name ("AddResult", "ShowProgress",
// "SkipOption", "CopyFile", ...).
class FakeHost : public kxcheck::LogHost {
 public:
  explicit FakeHost(FakeDisk& disk) : disk_(disk) {}

  void AddResult(const std::string& line) override;
  void AddResultAlways(const std::string& line) override;
  void ClearResults() override;
  int64_t ResultsLength() override;
  void ShowProgress(const std::string& text) override;
  void EnterBusy() override;
  void LeaveBusy() override;
  void PumpEvents() override;
  void WarnBox(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void ShowTableProblems(const std::string& path,
                         const std::vector<std::string>& problems) override {
    WarnBox(kxcheck::TableProblemsText(path, problems));
  }
  bool SkipOption(kxcheck::SkipKind which) override;
  bool StopRequested() override { return stop_requested; }
  bool FileExists(const std::string& path) override;
  void CopyFile(const std::string& from, const std::string& to) override;
  void DeleteFile(const std::string& path) override;
  // The fake disk has no links, and nothing on it to lock.
  bool IsLink(const std::string& /*path*/) override { return false; }
  std::unique_ptr<OutputLock> LockOutput(const std::string& /*path*/) override {
    return nullptr;
  }
  int CurrentYear() override;

  // The log's text as lines, without their CR LF.
  std::vector<std::string> Lines() const;

  FailurePlan plan;
  int year = 2026;
  bool answer_yes = false;
  bool skip_deleted = true;
  bool skip_duplicates = true;
  bool skip_corrupted = false;
  bool stop_requested = false;
  // Runs at every PumpEvents with the number of pumps so far (1-based), so a
  // test can act between two records.
  std::function<void(int64_t)> on_pump;

  // Everything but the log lines and the pumps, in order: "EnterBusy",
  // "LeaveBusy", "ClearResults", "Progress 0 / 5", "Warn text", "Ask text",
  // "Copy a -> b", "Delete p".
  std::vector<std::string> events;
  std::vector<std::string> progress;  // ShowProgress texts alone
  std::vector<std::string> warnings;
  int64_t pumps = 0;

 private:
  FakeDisk& disk_;
};

}  // namespace kxtest

#endif  // KXCHECK_TESTS_CORE_SUPPORT_FAKES_H_
