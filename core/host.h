// The services an operation needs from whatever runs it: the window, the
// console, or a test. Besides the path it is given, this is the only way the
// check and repair operations reach the user and the file system.
//
// Any call may fail by throwing an exception derived from std::exception.
#ifndef KXCHECK_CORE_HOST_H_
#define KXCHECK_CORE_HOST_H_

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
};

// "Rec: n- Date set to --> stamp": the stamp a repair writes for record n.
std::string DateSetLine(int64_t n, std::string_view stamp);

class Host {
 public:
  virtual ~Host() = default;

  // Results log. Lines are UTF-8 text.
  virtual void AddResult(const std::string& line) = 0;
  virtual void AddResultAlways(const std::string& line) = 0;
  virtual void ClearResults() = 0;
  virtual int64_t ResultsLength() = 0;
  // Whether AddResult would drop a line now, so that an operation can leave
  // out the work of building it. Nothing else may depend on it; a host that
  // cannot tell says false.
  virtual bool ResultsFull() { return false; }

  // The report as data. The operations hand every finding and every stamp
  // they set to these calls; the defaults add the lines the window shows
  // (unless the log is full) or do nothing. A host may override them to
  // keep the data as well as, or instead of, the lines.
  virtual void AddFinding(const Finding& finding);
  virtual void AddStampSet(int64_t record, std::string_view stamp);
  // The record count, right after the "Records:  " line.
  virtual void NoteRecordCount(int64_t /*records*/) {}
  // The counts, when the summary is written.
  virtual void NoteTotals(const OperationTotals& /*totals*/) {}

  // Window services.
  virtual void ShowProgress(const std::string& text) = 0;  // "n / total"
  virtual void EnterBusy() = 0;
  virtual void LeaveBusy() = 0;
  virtual void PumpEvents() = 0;
  virtual void WarnBox(const std::string& text) = 0;
  virtual bool AskYesNo(const std::string& text) = 0;
  // The problems the table engine found with the files of the table at
  // `path`, shown once the operation has ended, after its own warnings. By
  // default one WarnBox.
  virtual void ShowTableProblems(const std::string& path,
                                 const std::vector<std::string>& problems);
  // Whether the matching check box holds 1 at this moment.
  virtual bool SkipOption(SkipKind which) = 0;
  // True once the user has asked the running operation to stop (for
  // instance by closing the window); operations look at it after PumpEvents.
  virtual bool StopRequested() { return false; }

  // File services and clock.
  virtual bool FileExists(const std::string& path) = 0;
  virtual void CopyFile(const std::string& from, const std::string& to) = 0;
  virtual void DeleteFile(const std::string& path) = 0;
  // Whether `path` is a symbolic link, whether or not what it points to
  // exists. FileExists follows links, so a dangling one is seen only here.
  virtual bool IsLink(const std::string& /*path*/) { return false; }
  virtual int CurrentYear() = 0;

  // Held by a writer of an output table until it is destroyed.
  class OutputLock {
   public:
    virtual ~OutputLock() = default;
  };
  // Makes this operation the only writer of the output whose lock file is
  // `lock_path`, until the returned lock is destroyed. Throws when another
  // writer holds it. A host without files to protect returns null.
  virtual std::unique_ptr<OutputLock> LockOutput(
      const std::string& /*lock_path*/) {
    return nullptr;
  }
};

// A host whose results log is a ResultsLog held here; window and console hosts
// derive from it and mirror the log through ResultsLog::Observer.
class LogHost : public Host {
 public:
  void AddResult(const std::string& line) override { log_.AddResult(line); }
  void AddResultAlways(const std::string& line) override {
    log_.AddResultAlways(line);
  }
  void ClearResults() override { log_.Clear(); }
  int64_t ResultsLength() override { return log_.Length(); }
  bool ResultsFull() override { return log_.Length() > ResultsLog::kCap; }

  ResultsLog& Log() { return log_; }
  const ResultsLog& Log() const { return log_; }

 private:
  ResultsLog log_;
};

}  // namespace kxcheck

#endif  // KXCHECK_CORE_HOST_H_
