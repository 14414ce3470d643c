// The repair pass, written once for every kind of table and host (as the
// check scan is, see check_scan.h): copies a table record by record into a new
// table beside it whose base path ends in "_REPAIRED", leaving out null records
// and, as the skip options say, deleted, corrupted and duplicate ones, and
// giving every record with a bad stamp a replacement stamp.
//
// Failures:
// - Before the record loop any failure ends the pass: the user is warned with
//   what failed and why, the output files this pass made are removed and the
//   window returns to idle.
// - From the record loop on, a failing call abandons only the action (one
//   call, assignment or test) it belongs to. A test whose condition cannot be
//   evaluated counts as holding; a value that could not be produced keeps its
//   earlier value. Every record that met a failure gets one line
//   "Rec: n - Encountered a Severe error - skipping!" at the record itself; a
//   record that cannot be positioned is left out.
// - Failures that no record line can carry (the summary, closing the tables)
//   and records that met a failure end in a warning that names the output
//   table, so a damaged output is never reported as plain success.
// - An output that could not be written in full (a record that could not be
//   appended) or committed (Close failed) is removed, with a warning that no
//   repaired table was written.
//
// Safety of the files: before anything is deleted, every output name is
// checked against the source's own files (a link or a second name of one of
// them ends the pass untouched), and the output's lock makes this pass its
// only writer until the pass ends. The engine's problems with the source's
// files are shown once the pass has ended.
#ifndef KXCHECK_CORE_REPAIR_PASS_H_
#define KXCHECK_CORE_REPAIR_PASS_H_

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/host.h"
#include "core/operations.h"
#include "core/packed_record.h"
#include "core/table.h"
#include "core/stamp.h"

namespace kxcheck {

namespace repair_pass_internal {

inline constexpr const char* kOutputExtensions[] = {".kxt", ".kxd", ".kxi",
                                                    ".kxa"};
inline constexpr int64_t kTruncationLength = 65000;

// The message of the exception being handled. Call only inside a catch block.
std::string CurrentReason();

// A failure before the record loop: what was being done and why it failed.
struct SetupFailure {
  std::string text;
};

std::string SevereLine(int64_t n);

template <class HostType, class MakeTable>
class RepairPass {
 public:
  using TablePtr = decltype(std::declval<MakeTable&>()());

  RepairPass(const std::string& path, HostType& host, MakeTable& make_table)
      : path_(path), host_(host), make_table_(make_table) {}

  Outcome Run();

 private:
  enum class Prepared { kGoOn, kNotFound, kDeclined };

  // Runs a step before the record loop; a failure becomes a SetupFailure
  // whose text starts with `what`.
  template <typename Step>
  auto Setup(const std::string& what, Step&& step) -> decltype(step());

  // Runs one action of the record loop or the summary. A failure is noted
  // (described by `what` in the summary) and abandons only this action.
  template <typename Action>
  bool Do(Action&& action, const char* what = nullptr);
  // Evaluates the condition of a test; a failure is noted and the test
  // counts as holding.
  template <typename Test>
  bool Holds(Test&& test, const char* what = nullptr);
  void NoteFailure(const char* what);
  // Reports a failed test, or the stamp written for record n, as one action.
  void AddFinding(int32_t n, StampTest test) {
    Do([&] { host_.AddFinding(Finding{n, test, stamp_, previous_stamp_}); });
  }
  void AddStampSet(int32_t n) {
    Do([&] { host_.AddStampSet(n, stamp_); });
  }
  // The year as four digits, remade only when the year changes.
  std::string_view Year(int year) {
    if (year != year_ || year_text_.empty()) {
      year_text_ = YearText(year);
      year_ = year;
    }
    return year_text_;
  }

  Prepared Prepare();
  // Returns false when the host asked the pass to stop.
  bool ProcessRecord(int32_t n);
  void RecordActions(int32_t n);
  void ReportSevere(int32_t n);
  Outcome Summary();
  Outcome Failed(const std::string& text);
  Outcome Stopped();
  // The output name that is one of the source's own files, and that file;
  // empty when there is none.
  std::pair<std::string, std::string> OutputNameOfTheSource();
  // Notes that record n, to be written, did not reach the output.
  void NoteUnwritten(int32_t n);
  // The engine's problems with the source, shown at the very end.
  void ShowSourceProblems();
  // Deletes every output file that exists; problems are added to `problems`.
  void RemoveOutputFiles(std::vector<std::string>& problems);
  void Warn(const std::string& text);
  bool LeaveBusy(std::vector<std::string>& problems);

  const std::string& path_;
  HostType& host_;
  MakeTable& make_table_;

  TablePtr source_;
  TablePtr output_;
  std::string output_base_;
  std::string output_kxt_;
  std::string lock_path_;
  std::unique_ptr<Files::OutputLock> lock_;
  bool busy_ = false;
  bool output_files_ours_ = false;
  std::vector<std::string> source_problems_;

  // State of the record loop.
  int32_t total_ = 0;
  // The character view of the current record, as far as anything looks at
  // it: whether it has "-" and ":" where a well-formed record has them. The
  // view of no record at all (empty) has not.
  bool view_has_separators_ = false;
  std::string stamp_;
  std::string previous_stamp_{kStartStamp};
  // The source's bytes of the record last written, copied in place.
  PackedRecord previous_record_;
  int year_ = 0;
  std::string year_text_;
  bool changed_ = false;
  int32_t kept_ = 0;
  int32_t null_ = 0;
  int32_t deleted_ = 0;
  int32_t corrupted_ = 0;
  int32_t duplicate_ = 0;
  int32_t current_ = 0;  // the record being processed
  bool pending_ = false;
  bool reported_ = false;  // the current record has its severe-error line

  // Failures to tell the user at the end.
  bool in_summary_ = false;
  int32_t severe_records_ = 0;
  int32_t unlogged_records_ = 0;  // severe-error lines the log refused
  std::string first_record_reason_;
  std::string last_reason_;
  // The first record that could not be appended to the output, and why.
  std::string unwritten_reason_;
  std::vector<std::string> summary_problems_;
};

template <class HostType, class MakeTable>
template <typename Step>
auto RepairPass<HostType, MakeTable>::Setup(const std::string& what,
                                            Step&& step) -> decltype(step()) {
  try {
    return step();
  } catch (...) {
    throw SetupFailure{what + ": " + CurrentReason()};
  }
}

template <class HostType, class MakeTable>
template <typename Action>
bool RepairPass<HostType, MakeTable>::Do(Action&& action, const char* what) {
  try {
    action();
    return true;
  } catch (...) {
    NoteFailure(what);
    return false;
  }
}

template <class HostType, class MakeTable>
template <typename Test>
bool RepairPass<HostType, MakeTable>::Holds(Test&& test, const char* what) {
  try {
    return test();
  } catch (...) {
    NoteFailure(what);
    return true;
  }
}

template <class HostType, class MakeTable>
void RepairPass<HostType, MakeTable>::NoteFailure(const char* what) {
  std::string reason = CurrentReason();
  last_reason_ = reason;
  if (in_summary_) {
    summary_problems_.push_back(std::string(what ? what : "Summary") + ": " +
                                reason);
    return;
  }
  pending_ = true;
  if (first_record_reason_.empty()) {
    first_record_reason_ = "record " + std::to_string(current_) + ": " + reason;
  }
}

template <class HostType, class MakeTable>
Outcome RepairPass<HostType, MakeTable>::Run() {
  if (path_.empty()) return Outcome::kNothing;
  try {
    switch (Prepare()) {
      case Prepared::kNotFound:
        return Outcome::kNotFound;
      case Prepared::kDeclined:
        return Outcome::kDeclined;
      case Prepared::kGoOn:
        break;
    }
  } catch (const SetupFailure& failure) {
    return Failed(failure.text);
  }

  for (int32_t n = 1; n <= total_; ++n) {
    if (!ProcessRecord(n)) return Stopped();
    if (n == INT32_MAX) break;
  }
  return Summary();
}

template <class HostType, class MakeTable>
typename RepairPass<HostType, MakeTable>::Prepared
RepairPass<HostType, MakeTable>::Prepare() {
  bool exists = Setup("Could not look for '" + path_ + "'",
                      [&] { return host_.FileExists(path_); });
  if (!exists) {
    Warn("Filename does not exist!");
    return Prepared::kNotFound;
  }

  busy_ = true;
  Setup("Could not enter the busy state", [&] { host_.EnterBusy(); });
  Setup("Could not clear the results", [&] { host_.ClearResults(); });

  Setup("Could not create the table objects", [&] {
    source_ = make_table_();
    output_ = make_table_();
  });
  Setup("Could not open '" + path_ + "'", [&] { source_->Open(path_); });
  source_problems_ = Setup("Could not read the problems of '" + path_ + "'",
                           [&] { return source_->Problems(); });
  if (Setup("Could not read the deletion marks of '" + path_ + "'",
            [&] { return source_->DeletionMarksMissing(); })) {
    source_problems_.emplace_back(
        "Deleted records may be in the output: not every deletion mark of "
        "the source could be read.");
  }
  output_base_ = Setup("Could not read the base path of '" + path_ + "'",
                       [&] { return source_->BasePath(); }) +
                 "_REPAIRED";
  output_kxt_ = output_base_ + ".kxt";
  lock_path_ = output_kxt_ + ".lock";

  bool output_exists = Setup("Could not look for '" + output_kxt_ + "'",
                             [&] { return host_.FileExists(output_kxt_); });
  if (output_exists) {
    bool replace =
        Setup("Could not ask whether to replace '" + output_kxt_ + "'", [&] {
          return host_.AskYesNo("File '" + output_base_ +
                                ".kxt' already exists ... Replace?");
        });
    if (!replace) {
      source_.reset();
      output_.reset();
      std::vector<std::string> problems;
      if (!LeaveBusy(problems)) Warn(problems.front());
      return Prepared::kDeclined;
    }
  }

  // A link or a second name of one of the source's files at an output name
  // would make the deletions below, or the writing after them, destroy the
  // source.
  auto [name, source_file] = OutputNameOfTheSource();
  if (!name.empty()) {
    throw SetupFailure{"Cannot repair: '" + name +
                       "' is the same file as the source's '" + source_file +
                       "'. Nothing was deleted or written."};
  }
  lock_ = Setup("Could not lock '" + output_kxt_ + "' for writing",
                [&] { return host_.LockOutput(lock_path_); });

  for (const char* extension : kOutputExtensions) {
    std::string file = output_base_ + extension;
    // A link is removed as a link, also when what it points to is missing.
    if (Setup("Could not look for '" + file + "'",
              [&] { return host_.FileExists(file) || host_.IsLink(file); })) {
      Setup("Could not delete '" + file + "'", [&] { host_.DeleteFile(file); });
    }
  }

  // From here on every output file is one this pass made.
  output_files_ours_ = true;
  Setup("Could not copy '" + path_ + "' to '" + output_kxt_ + "'",
        [&] { host_.CopyFile(path_, output_kxt_); });
  Setup("Could not open the output table '" + output_kxt_ + "'", [&] {
    output_->SetAccessMode(2);
    output_->Open(output_kxt_);
  });

  Setup("Could not write the results log",
        [&] { host_.AddResult("Filename: " + path_); });
  int32_t count = Setup("Could not read the record count of '" + path_ + "'",
                        [&] { return source_->RecordCount(); });
  Setup("Could not write the results log", [&] {
    host_.AddResult("Records:  " + std::to_string(count));
    host_.NoteRecordCount(count);
  });
  total_ = Setup("Could not read the record count of '" + path_ + "'",
                 [&] { return source_->RecordCount(); });
  Setup("Could not show the progress",
        [&] { host_.ShowProgress(ProgressText(0, total_)); });
  return Prepared::kGoOn;
}

template <class HostType, class MakeTable>
bool RepairPass<HostType, MakeTable>::ProcessRecord(int32_t n) {
  current_ = n;
  pending_ = false;
  reported_ = false;

  if (n % 1000 == 0) Do([&] { host_.ShowProgress(ProgressText(n, total_)); });
  // A record that cannot be positioned is reported and left out. Any other
  // failure of the record is reported once its actions are done, and never
  // costs the record its place in the output.
  if (Do([&] { source_->GoToRecord(n); })) {
    RecordActions(n);
  } else {
    ReportSevere(n);
  }
  Do([&] { host_.PumpEvents(); });
  if (pending_) ReportSevere(n);
  pending_ = false;

  return !Holds([&] { return host_.StopRequested(); });
}

template <class HostType, class MakeTable>
void RepairPass<HostType, MakeTable>::ReportSevere(int32_t n) {
  pending_ = false;
  if (reported_) return;
  reported_ = true;
  ++severe_records_;
  try {
    host_.AddResult(SevereLine(n));
  } catch (...) {
    ++unlogged_records_;
  }
}

template <class HostType, class MakeTable>
void RepairPass<HostType, MakeTable>::RecordActions(int32_t n) {
  Do([&] {
    view_has_separators_ = HasSeparatorBytes(source_->RecordBuffer());
  });
  changed_ = false;

  if (Holds([&] { return IsRepairNull(source_->RecordBuffer()); })) {
    ++null_;
    return;
  }
  if (Holds([&] { return host_.SkipOption(SkipKind::kDeleted); }) &&
      Holds([&] { return source_->Deleted(); })) {
    ++deleted_;
    return;
  }
  if (Holds([&] { return host_.SkipOption(SkipKind::kCorrupted); }) &&
      !view_has_separators_) {
    ++corrupted_;
    return;
  }
  if (Holds([&] { return host_.SkipOption(SkipKind::kDuplicates); }) &&
      Holds(
          [&] { return previous_record_.HasBytes(source_->RecordBuffer()); })) {
    ++duplicate_;
    return;
  }

  ++kept_;
  Do([&] { ReadStamp(*source_, stamp_); });

  // The clock is read once, for the record's Year test; a clock that cannot
  // be read fails it.
  bool year_fails = true;
  Do([&] { year_fails = YearFails(stamp_, Year(host_.CurrentYear())); });
  // Every test but the separators one, in their order.
  auto test = [&](StampTest which, bool fails) {
    if (fails) {
      changed_ = true;
      AddFinding(n, which);
    }
  };
  test(StampTest::kOrder, OrderFails(stamp_, previous_stamp_));
  test(StampTest::kYear, year_fails);
  test(StampTest::kMonth, MonthFails(stamp_));
  test(StampTest::kDay, DayFails(stamp_));
  test(StampTest::kHour, HourFails(stamp_));
  test(StampTest::kMinute, MinuteFails(stamp_));
  test(StampTest::kSecond, SecondFails(stamp_));

  // Separator repair: only the separators are wrong, so put them right in the
  // source's working buffer, which the writing below copies.
  if (!changed_ && SeparatorsFail(stamp_)) {
    AddFinding(n, StampTest::kSeparators);
    for (size_t position : {5, 8}) {
      if (stamp_.size() >= position) stamp_[position - 1] = '-';
    }
    for (size_t position : {14, 17}) {
      if (stamp_.size() >= position) stamp_[position - 1] = ':';
    }
    Do([&] { source_->FieldPut(1, StampPart(stamp_, 1, 10)); });
    Do([&] { source_->FieldPut(2, StampPart(stamp_, 12, 19)); });
    AddStampSet(n);
  }

  if (changed_) {
    if (kept_ == 1) {
      stamp_ = kFirstReplacementStamp;
    } else {
      stamp_ = previous_stamp_;
    }
    // A record is appended only when its own bytes with the replacement
    // stamp are in the output's buffer: appending whatever the buffer held
    // before would write another record's bytes, or the bad stamp, while
    // the log reports the record as skipped.
    bool ready = Do([&] { output_->SetRecordBuffer(source_->RecordBuffer()); });
    ready =
        Do([&] { output_->FieldPut(1, StampPart(stamp_, 1, 10)); }) && ready;
    ready =
        Do([&] { output_->FieldPut(2, StampPart(stamp_, 12, 19)); }) && ready;
    if (ready && !Do([&] { output_->AppendRecord(0); })) NoteUnwritten(n);
    AddStampSet(n);
  } else {
    if (Do([&] { output_->SetRecordBuffer(source_->RecordBuffer()); }) &&
        !Do([&] { output_->AppendRecord(0); })) {
      NoteUnwritten(n);
    }
  }

  previous_stamp_ = stamp_;
  Do([&] { previous_record_.KeepBytes(source_->RecordBuffer()); });
}

template <class HostType, class MakeTable>
Outcome RepairPass<HostType, MakeTable>::Summary() {
  in_summary_ = true;
  Do([&] { host_.ShowProgress(ProgressText(total_, total_)); },
     "Could not show the progress");

  const char* log = "Could not write the results log";
  if (Holds([&] { return host_.ResultsLength() > kTruncationLength; },
            "Could not measure the results log")) {
    Do([&] { host_.AddResultAlways(">>> Output Truncated <<<"); }, log);
  }
  const char* option = "Could not read a skip option";
  auto add_skipped = [&](int32_t count, const char* what) {
    Do(
        [&] {
          host_.AddResultAlways("Skipped " + std::to_string(count) + what);
        },
        log);
  };
  if (Holds([&] { return host_.SkipOption(SkipKind::kDeleted); }, option)) {
    add_skipped(deleted_, " Deleted records");
  }
  if (null_ > 0) add_skipped(null_, " Null records");
  if (Holds([&] { return host_.SkipOption(SkipKind::kDuplicates); }, option)) {
    add_skipped(duplicate_, " Duplicate records");
  }
  if (Holds([&] { return host_.SkipOption(SkipKind::kCorrupted); }, option)) {
    add_skipped(corrupted_, " Corrupted records");
  }
  Do([&] { host_.AddResultAlways(""); }, log);
  Do([&] { host_.AddResultAlways("Output -> " + output_kxt_); }, log);
  OperationTotals totals;
  totals.output = output_kxt_;
  Do(
      [&] {
        totals.written = output_->RecordCount();
        host_.AddResultAlways("Records Written: " +
                              std::to_string(totals.written));
      },
      "Could not count the records written");
  Do([&] { host_.AddResultAlways(""); }, log);
  Do([&] { host_.AddResultAlways("*** Processing Complete ***"); }, log);
  totals.deleted = deleted_;
  totals.null = null_;
  totals.duplicate = duplicate_;
  totals.corrupted = corrupted_;
  Do([&] { host_.NoteTotals(totals); }, "Could not report the counts");

  Do([&] { source_->Close(); }, "Could not close the source table");
  source_.reset();
  // Close commits the output: only then does it count as written.
  std::string unwritten;
  if (!unwritten_reason_.empty()) {
    unwritten = "'" + output_kxt_ + "' could not be written in full (" +
                unwritten_reason_ + ")";
  } else {
    try {
      output_->Close();
    } catch (...) {
      unwritten = "'" + output_kxt_ + "' could not be committed (" +
                  CurrentReason() + ")";
    }
  }
  output_.reset();

  std::vector<std::string> problems;
  if (severe_records_ > 0) {
    problems.push_back(std::to_string(severe_records_) +
                       " record(s) met a severe error and may be missing or "
                       "wrong; the first: " +
                       first_record_reason_);
  }
  if (unlogged_records_ > 0) {
    problems.push_back(std::to_string(unlogged_records_) +
                       " of them could not be listed in the results");
  }
  problems.insert(problems.end(), summary_problems_.begin(),
                  summary_problems_.end());
  if (!unwritten.empty()) {
    std::vector<std::string> removal;
    RemoveOutputFiles(removal);
    std::string text = "No repaired table was written: " + unwritten +
                       ". Its files were removed.";
    for (const std::string& problem : removal) text += "\n" + problem;
    for (const std::string& problem : problems) text += "\n" + problem;
    Warn(text);
  } else if (!problems.empty()) {
    std::string text =
        "The repaired table '" + output_kxt_ + "' may be incomplete.";
    for (const std::string& problem : problems) text += "\n" + problem;
    Warn(text);
  }
  lock_.reset();
  std::vector<std::string> leave_problems;
  const bool idle = LeaveBusy(leave_problems);
  if (!idle) Warn(leave_problems.front());
  ShowSourceProblems();
  return idle && problems.empty() && unwritten.empty() ? Outcome::kCompleted
                                                       : Outcome::kFailed;
}

template <class HostType, class MakeTable>
Outcome RepairPass<HostType, MakeTable>::Failed(const std::string& text) {
  source_.reset();
  output_.reset();
  std::vector<std::string> problems;
  if (output_files_ours_) RemoveOutputFiles(problems);
  lock_.reset();
  std::string warning = text;
  for (const std::string& problem : problems) warning += "\n" + problem;
  Warn(warning);
  if (busy_ && !LeaveBusy(problems)) Warn(problems.back());
  ShowSourceProblems();
  return Outcome::kFailed;
}

template <class HostType, class MakeTable>
Outcome RepairPass<HostType, MakeTable>::Stopped() {
  try {
    source_->Close();
  } catch (...) {
    // The source was only read; nothing is lost.
  }
  source_.reset();
  output_.reset();  // released without Close: nothing more is committed
  std::vector<std::string> problems;
  RemoveOutputFiles(problems);
  lock_.reset();
  if (!problems.empty()) {
    std::string text = "Repair stopped.";
    for (const std::string& problem : problems) text += "\n" + problem;
    Warn(text);
  }
  std::vector<std::string> leave_problems;
  if (!LeaveBusy(leave_problems)) Warn(leave_problems.front());
  ShowSourceProblems();
  return Outcome::kStopped;
}

template <class HostType, class MakeTable>
std::pair<std::string, std::string>
RepairPass<HostType, MakeTable>::OutputNameOfTheSource() {
  std::vector<std::string> names;
  for (const char* extension : kOutputExtensions) {
    names.push_back(output_base_ + extension);
  }
  names.push_back(lock_path_);
  for (const std::string& name : names) {
    std::string source_file =
        Setup("Could not compare '" + name + "' with the source's files",
              [&] { return source_->FileNamedBy(name); });
    if (!source_file.empty()) return {name, source_file};
  }
  return {};
}

template <class HostType, class MakeTable>
void RepairPass<HostType, MakeTable>::NoteUnwritten(int32_t n) {
  if (unwritten_reason_.empty()) {
    unwritten_reason_ = "record " + std::to_string(n) + ": " + last_reason_;
  }
}

template <class HostType, class MakeTable>
void RepairPass<HostType, MakeTable>::ShowSourceProblems() {
  if (source_problems_.empty()) return;
  try {
    host_.ShowTableProblems(path_, source_problems_);
  } catch (...) {
    // Nothing is left to tell the user with.
  }
}

template <class HostType, class MakeTable>
void RepairPass<HostType, MakeTable>::RemoveOutputFiles(
    std::vector<std::string>& problems) {
  for (const char* extension : kOutputExtensions) {
    std::string file = output_base_ + extension;
    try {
      if (host_.FileExists(file)) host_.DeleteFile(file);
    } catch (...) {
      problems.push_back("Could not remove '" + file + "': " + CurrentReason());
    }
  }
}

template <class HostType, class MakeTable>
void RepairPass<HostType, MakeTable>::Warn(const std::string& text) {
  try {
    host_.WarnBox(text);
  } catch (...) {
    // Nothing is left to tell the user with.
  }
}

template <class HostType, class MakeTable>
bool RepairPass<HostType, MakeTable>::LeaveBusy(
    std::vector<std::string>& problems) {
  busy_ = false;
  try {
    host_.LeaveBusy();
    return true;
  } catch (...) {
    problems.push_back("Could not return the window to idle: " +
                       CurrentReason());
    return false;
  }
}

}  // namespace repair_pass_internal

// Runs the repair pass on the table at `path`. `make_table` gives a new,
// closed table object (a std::unique_ptr to any class with the operations of
// Table); the pass makes two, the source and the output.
template <class HostType, class MakeTable>
Outcome RunRepairPass(const std::string& path, HostType& host,
                      MakeTable&& make_table) {
  return repair_pass_internal::RepairPass<HostType,
                                          std::remove_reference_t<MakeTable>>(
             path, host, make_table)
      .Run();
}

}  // namespace kxcheck

#endif  // KXCHECK_CORE_REPAIR_PASS_H_
