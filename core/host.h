// What an operation needs from whatever runs it (the window, the console, or
// a test), in four roles: the report, the user, the files and the clock.
// Besides the path it is given, this is the only way the check and repair
// operations reach the user and the file system.
//
// Every call of a role is one the host must answer: there are no defaults,
// so a new host cannot lose a guard by forgetting a call. Any call may fail
// by throwing an exception derived from std::exception.
#ifndef KXCHECK_CORE_HOST_H_
#define KXCHECK_CORE_HOST_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/results_log.h"
#include "core/stamp.h"

namespace kxcheck {

enum class SkipKind { kDeleted, kCorrupted, kDuplicates };

// A stamp test that failed for a record. The views are valid only during the
// call that hands the finding over.
struct Finding {
  int64_t record = 0;
  StampTest test = StampTest::kOrder;
  std::string_view stamp;     // the stamp as read: bytes, one per character
  std::string_view previous;  // the stamp the order test compared it with
};

// What an operation counted by the time it writes its summary. For a repair
// the counts are of the records left out, and the output is named.
struct OperationTotals {
  int64_t deleted = 0;
  int64_t null = 0;
  int64_t duplicate = 0;
  int64_t corrupted = 0;
  std::string output;    // repair: the output table's main file
  int64_t written = -1;  // repair: records in the output; -1 when unknown
  // Repair: the output could not be finished and was removed (written is
  // then 0); whatever was at its names before is still there.
  bool output_removed = false;
};

// Why a repair wrote a stamp other than the one it read.
enum class StampReason : uint8_t {
  kFailedTest,    // a stamp test other than the order test failed
  kOutOfOrder,    // below the stamp written before it
  kSpike,         // above what the stamps after it agree on
  kOffCadence,    // off the series' regular cadence
  kNotARealDate,  // passes the tests but is no calendar time (a 30 February)
  kSeparators,    // only its separators were put right
};
inline constexpr int kStampReasons = 6;

// "failed test", "out of order", "spike", "off cadence", "not a real date",
// "separators".
const char* StampReasonName(StampReason reason);

// A stamp a repair wrote in place of the one it read. The views are valid
// only during the call that hands it over.
struct StampSet {
  int64_t record = 0;
  std::string_view stamp;     // as written
  std::string_view original;  // as read: bytes, one per character
  StampReason reason = StampReason::kFailedTest;
};

// A repair with the current rule gives a record whose stamp fails a test the
// stamp written before it; a run of such records all carry one stamp. A run
// longer than this is worth telling the user about.
inline constexpr int64_t kSpreadWarnAbove = 100;

// One stamp given to more than kSpreadWarnAbove following records: the
// `records` records from `first` to `last` that took the stamp of record
// `source` (records left out between them are not counted).
struct Spread {
  int64_t source = 0;
  std::string stamp;
  int64_t first = 0;
  int64_t last = 0;
  int64_t records = 0;

  bool operator==(const Spread&) const = default;
};

// How many spreads a warning names; the others are counted.
inline constexpr size_t kSpreadsNamed = 3;

// "300 records from 101 to 400 took the stamp of record 100,
// 2025-01-01 00:00:00", with the stamp's bytes as the caller shows them
// (`shown_stamp`).
std::string SpreadText(const Spread& spread, std::string_view shown_stamp);

// How an operation classified a record (the first rule that held).
enum class RecordClass { kNull, kDeleted, kCorrupted, kDuplicate, kExamined };

// One classified record, for a report that keeps every record (a damage
// map, the record numbers of a JSON report). The view is valid only during
// the call that hands the note over.
struct RecordNote {
  int64_t record = 0;
  RecordClass kind = RecordClass::kExamined;
  // Repair: the record is not in the output (skipped by a rule, or it could
  // not be written). A check leaves every record where it is: false.
  bool left_out = false;
  // An examined record: its stamp as read (bytes, one per character; 19
  // when well formed) and the stamp tests that failed (bit i for
  // kAllStampTests[i]).
  std::string_view stamp;
  uint32_t failed_tests = 0;
  // The record's buffer as read, valid during the call; a check gives it for
  // every record, a repair leaves it empty.
  std::string_view bytes;
};

// The report: the results log and the same facts as data.
class Report {
 public:
  virtual ~Report() = default;

  // Results log. Lines are UTF-8 text.
  virtual void AddResult(const std::string& line) = 0;
  virtual void AddResultAlways(const std::string& line) = 0;
  virtual void ClearResults() = 0;
  virtual int64_t ResultsLength() = 0;
  // Whether AddResult would drop a line now, so that an operation can leave
  // out the work of building it. Nothing else may depend on it; a report
  // that cannot tell says false.
  virtual bool ResultsFull() = 0;

  // Every finding and every stamp a repair sets; a report shows them as
  // the lines of the log (FindingLine, DateSetLine), keeps them as data, or
  // both.
  virtual void AddFinding(const Finding& finding) = 0;
  virtual void AddStampSet(const StampSet& set) = 0;
  // A repair with the current rule spread one stamp over a long run of
  // records; told once the run has ended, before NoteTotals. Not part of
  // the results log.
  virtual void NoteSpread(const Spread& spread) = 0;
  // The record count, right after the "Records:  " line.
  virtual void NoteRecordCount(int64_t records) = 0;
  // The counts, when the summary is written.
  virtual void NoteTotals(const OperationTotals& totals) = 0;
  // Whether NoteRecord is wanted. Asked once, before the first record; a
  // report that says no costs the record loop nothing.
  virtual bool WantsRecordNotes() = 0;
  // Every record the operation classified, in order.
  virtual void NoteRecord(const RecordNote& note) = 0;
};

// The user: what the window shows and asks.
class User {
 public:
  virtual ~User() = default;

  virtual void ShowProgress(const std::string& text) = 0;  // "n / total"
  virtual void EnterBusy() = 0;
  virtual void LeaveBusy() = 0;
  virtual void PumpEvents() = 0;
  virtual void WarnBox(const std::string& text) = 0;
  virtual bool AskYesNo(const std::string& text) = 0;
  // The problems the table engine found with the files of the table at
  // `path`, shown once the operation has ended, after its own warnings
  // (a window shows TableProblemsText in one WarnBox).
  virtual void ShowTableProblems(const std::string& path,
                                 const std::vector<std::string>& problems) = 0;
  // Whether the matching check box holds 1 at this moment.
  virtual bool SkipOption(SkipKind which) = 0;
  // True once the user has asked the running operation to stop (for
  // instance by closing the window); operations look at it after PumpEvents.
  virtual bool StopRequested() = 0;
};

// The files an operation reads and writes besides its tables.
class Files {
 public:
  virtual ~Files() = default;

  virtual bool FileExists(const std::string& path) = 0;

  // A new table written under fresh names beside its target and put at the
  // target's names only when it is whole; until then the target, and any
  // table already there, is untouched.
  class StagedTable {
   public:
    // Removes the staged files unless they were published.
    virtual ~StagedTable() = default;
    // The staged table's main file, to open for appending.
    virtual const std::string& Path() const = 0;
    // Puts the staged table, committed by its Close, at the target's names,
    // in place of whatever table is there.
    virtual void Publish() = 0;
    // Removes the staged files now.
    virtual void Discard() = 0;
  };
  // Begins a new table for `target` (a ".kxt" path): its main file a copy
  // of the file `definition`, its files with the definition's permission
  // bits. Removes what runs that were killed left for the same target.
  virtual std::unique_ptr<StagedTable> StageTable(
      const std::string& definition, const std::string& target) = 0;

  // Held by a writer of an output table until it is destroyed.
  class OutputLock {
   public:
    virtual ~OutputLock() = default;
  };
  // Makes this operation the only writer of the output whose lock file is
  // `lock_path`, until the returned lock is destroyed. Throws when another
  // writer holds it. Only a host without files to protect (an in-memory
  // test) may return null.
  virtual std::unique_ptr<OutputLock> LockOutput(
      const std::string& lock_path) = 0;
};

// The clock, for the year test.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual int CurrentYear() = 0;
};

class Host : public Report, public User, public Files, public Clock {};

// "Rec: n- Date set to --> stamp": the stamp a repair writes for record n.
std::string DateSetLine(int64_t n, std::string_view stamp);

// `text` and, one to a line after it, `lines`.
std::string WithLines(std::string text, const std::vector<std::string>& lines);

// "Problems found in the files of 'path':" and one line per problem.
std::string TableProblemsText(const std::string& path,
                              const std::vector<std::string>& problems);

// A host whose report is a ResultsLog held here: findings and stamps set
// become the log's lines (unless the log is full), and nothing is kept as
// data. Window and console hosts derive from it and mirror the log through
// ResultsLog::Observer.
class LogHost : public Host {
 public:
  void AddResult(const std::string& line) override { log_.AddResult(line); }
  void AddResultAlways(const std::string& line) override {
    log_.AddResultAlways(line);
  }
  void ClearResults() override { log_.Clear(); }
  int64_t ResultsLength() override { return log_.Length(); }
  bool ResultsFull() override { return log_.Length() > ResultsLog::kCap; }
  void AddFinding(const Finding& finding) override;
  void AddStampSet(const StampSet& set) override;
  void NoteSpread(const Spread& /*spread*/) override {}
  void NoteRecordCount(int64_t /*records*/) override {}
  void NoteTotals(const OperationTotals& /*totals*/) override {}
  bool WantsRecordNotes() override { return false; }
  void NoteRecord(const RecordNote& /*note*/) override {}

  ResultsLog& Log() { return log_; }
  const ResultsLog& Log() const { return log_; }

 private:
  ResultsLog log_;
};

}  // namespace kxcheck

#endif  // KXCHECK_CORE_HOST_H_
