// In-memory fakes of a table, a table store and a host, for driving the check
// scan and the repair pass without files or a window. A FailurePlan, run as
// the operation's observer, makes the calls the operation makes for a chosen
// purpose (a Step) fail.
#ifndef KXCHECK_TESTS_CORE_SUPPORT_FAKES_H_
#define KXCHECK_TESTS_CORE_SUPPORT_FAKES_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/host.h"
#include "core/step.h"
#include "core/table.h"

namespace kxtest {

// Thrown by the fakes when a failure was asked for.
class InjectedFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure to inject: every call of a fake made while the operation is at
// `step` (and, where given, in `phase` or at `record`) throws.
struct FailAt {
  kxcheck::Step step;
  std::optional<kxcheck::Phase> phase;
  std::optional<int64_t> record;
};

// Watches the steps of an operation (it is the operation's observer) and
// makes the fakes' calls fail at the steps it was given.
class FailurePlan : public kxcheck::StepObserver {
 public:
  void Fail(const FailAt& at) { failures_.push_back(at); }
  void OnStep(const kxcheck::Position& at) override { at_ = at; }
  // Throws InjectedFailure when the operation is at a step planned to fail.
  void Check(const std::string& call) const;

 private:
  std::vector<FailAt> failures_;
  std::optional<kxcheck::Position> at_;
};

// How often each call was made, by name.
using CallCounts = std::map<std::string, int64_t>;

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

// A StampSet as the fake host keeps it.
struct SetStamp {
  int64_t record = 0;
  std::string stamp;
  std::string original;
  kxcheck::StampReason reason = kxcheck::StampReason::kFailedTest;
  bool operator==(const SetStamp&) const = default;
};
void PrintTo(const SetStamp& set, std::ostream* out);

// A RecordNote as the fake host keeps it.
struct Noted {
  int64_t record = 0;
  kxcheck::RecordClass kind = kxcheck::RecordClass::kExamined;
  bool left_out = false;
  std::string stamp;
  uint32_t failed_tests = 0;
  bool operator==(const Noted&) const = default;
};
void PrintTo(const Noted& note, std::ostream* out);

class FakeTable : public kxcheck::Table {
 public:
  FakeTable(FakeDisk& disk, const FailurePlan& plan, CallCounts& calls)
      : disk_(disk), plan_(plan), calls_(calls) {}

  void SetAccessMode(int mode) override {
    Call("SetAccessMode");
    mode_ = mode;
  }
  void Open(const std::string& path) override;
  std::string BasePath() override {
    Call("BasePath");
    return StripKxt(path_);
  }
  int32_t RecordCount() override {
    Call("RecordCount");
    return static_cast<int32_t>(Data().records.size());
  }
  void GoToRecord(int32_t n) override;
  std::string_view RecordBuffer() override {
    Call("RecordBuffer");
    return buffer_;
  }
  void SetRecordBuffer(std::string_view bytes) override {
    Call("SetRecordBuffer");
    buffer_ = bytes;
  }
  bool Deleted() override;
  std::string FieldGet(int field) override;
  void FieldPut(int field, std::string_view text) override;
  void AppendRecord(int option) override;
  void Close() override;

 private:
  FakeTableData& Data();
  void Call(const std::string& name);

  FakeDisk& disk_;
  const FailurePlan& plan_;
  CallCounts& calls_;
  int mode_ = 0;
  std::string path_;
  bool open_ = false;
  int32_t current_ = 0;
  std::string buffer_;
};

// Hands out FakeTables on one disk, all failing by one plan. The calls of
// each table are counted apart: Calls(0, ...) for the first table created,
// Calls(1, ...) for the second (the check scan creates one table, the repair
// pass the source and then the output).
class FakeTableFactory : public kxcheck::TableFactory {
 public:
  FakeTableFactory(FakeDisk& disk, const FailurePlan& plan)
      : disk_(disk), plan_(plan) {}
  std::unique_ptr<kxcheck::Table> Create() override;
  int created() const { return static_cast<int>(calls_.size()); }
  int64_t Calls(size_t table, const std::string& name) const;

 private:
  FakeDisk& disk_;
  const FailurePlan& plan_;
  std::deque<CallCounts> calls_;
};

// A host that records what the operation asked of it, and fails by the
// plan.
class FakeHost : public kxcheck::LogHost {
 public:
  FakeHost(FakeDisk& disk, const FailurePlan& plan)
      : disk_(disk), plan_(plan) {}

  void AddResult(const std::string& line) override {
    Call("AddResult");
    LogHost::AddResult(line);
  }
  void AddResultAlways(const std::string& line) override {
    Call("AddResultAlways");
    LogHost::AddResultAlways(line);
  }
  void ClearResults() override {
    Event("ClearResults");
    LogHost::ClearResults();
  }
  int64_t ResultsLength() override {
    Call("ResultsLength");
    return LogHost::ResultsLength();
  }
  void ShowProgress(const std::string& text) override {
    Event("ShowProgress", "Progress " + text);
    progress.push_back(text);
  }
  void EnterBusy() override { Event("EnterBusy"); }
  void LeaveBusy() override { Event("LeaveBusy"); }
  void PumpEvents() override {
    Call("PumpEvents");
    ++pumps;
    if (on_pump) on_pump(pumps);
  }
  void WarnBox(const std::string& text) override {
    Event("WarnBox", "Warn " + text);
    warnings.push_back(text);
  }
  bool AskYesNo(const std::string& text) override {
    Event("AskYesNo", "Ask " + text);
    return answer_yes;
  }
  void ShowTableProblems(const std::string& path,
                         const std::vector<std::string>& problems) override {
    WarnBox(kxcheck::TableProblemsText(path, problems));
  }
  bool SkipOption(kxcheck::SkipKind which) override;
  bool StopRequested() override { return stop_requested; }
  bool WantsRecordNotes() override {
    Call("WantsRecordNotes");
    return want_notes;
  }
  void NoteRecord(const kxcheck::RecordNote& note) override;
  // Kept as data, and the stamps set shown in the log as well.
  void AddStampSet(const kxcheck::StampSet& set) override;
  void NoteSpread(const kxcheck::Spread& spread) override {
    Call("NoteSpread");
    spreads.push_back(spread);
  }
  bool FileExists(const std::string& path) override {
    Call("FileExists");
    return disk_.Exists(path);
  }
  // A staged table whose main file is "<folder>/.staged-<target's name>";
  // Publish moves its files and records to the target's names.
  std::unique_ptr<StagedTable> StageTable(const std::string& definition,
                                          const std::string& target) override;
  // Nothing on the fake disk to lock.
  std::unique_ptr<OutputLock> LockOutput(const std::string& /*path*/) override {
    Call("LockOutput");
    return nullptr;
  }
  int CurrentYear() override {
    Call("CurrentYear");
    return year;
  }

  // The log's text as lines, without their CR LF.
  std::vector<std::string> Lines() const;
  int64_t Calls(const std::string& name) const;

  int year = 2026;
  bool answer_yes = false;
  bool skip_deleted = true;
  bool skip_duplicates = true;
  bool skip_corrupted = false;
  bool stop_requested = false;
  bool want_notes = false;
  // Runs at every PumpEvents with the number of pumps so far (1-based), so a
  // test can act between two records.
  std::function<void(int64_t)> on_pump;

  // Everything but the log lines and the pumps, in order: "EnterBusy",
  // "LeaveBusy", "ClearResults", "Progress 0 / 5", "Warn text", "Ask text",
  // "Stage definition -> target", "Publish target", "Discard target".
  std::vector<std::string> events;
  std::vector<std::string> progress;  // ShowProgress texts alone
  std::vector<std::string> warnings;
  std::vector<Noted> notes;
  std::vector<SetStamp> stamps_set;
  std::vector<kxcheck::Spread> spreads;
  int64_t pumps = 0;

 private:
  class Staged;
  void Call(const std::string& name);
  // A call that is also an event: `event` goes to `events` ("" for the
  // call's name).
  void Event(const std::string& name, const std::string& event = "") {
    Call(name);
    events.push_back(event.empty() ? name : event);
  }

  FakeDisk& disk_;
  const FailurePlan& plan_;
  CallCounts calls_;
};

}  // namespace kxtest

#endif  // KXCHECK_TESTS_CORE_SUPPORT_FAKES_H_
