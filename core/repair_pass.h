// The repair pass, written once for every kind of table and host (as the
// check scan is, see check_scan.h): copies a table record by record into a new
// table beside it whose base path ends in "_REPAIRED", leaving out null records
// and, as the skip options say, deleted, corrupted and duplicate ones, and
// giving every record with a bad stamp a replacement stamp.
//
// Which replacement is the rule's (RepairOptions, operations.h):
// - The current rule gives a record whose stamp fails a test the stamp
//   written before it. When one stamp goes to more than kSpreadWarnAbove
//   following records that way, the report is told (NoteSpread) once the
//   run has ended; the results log stays as it is.
// - The restoring rule (StampRestorer) keeps every stamp that is a real time
//   and fits the series, and restores the others from the kept stamps
//   around them. It decides a stamp once it has seen the ones after it, so
//   the pass holds each examined record's bytes, and every line and note of
//   the records around it, in WaitingRecords until then: at most
//   StampRestorer::kMaxPending records. A record's finding lines are the
//   current rule's tests on its stamp as read against the stamp written
//   before it, so a kept stamp has none (apart from separators put right)
//   and a Check of the output finds nothing; a record written with another
//   stamp gets "Rec: n- Date set to --> " with it. The source is only read.
//
// Failures:
// - Before the record loop any failure ends the pass: the user is warned with
//   what failed and why, the files this pass made are removed and the window
//   returns to idle.
// - A record or a deletion mark of the source that cannot be read ends the
//   record loop: a repaired table that lacks records it should hold, or holds
//   records it should have left out, is no repaired table. The record gets
//   its line "Rec: n - Encountered a Severe error - skipping!", no summary
//   follows (there is no output to sum up), the output is removed and the
//   warning names the record.
// - Any other failing call of the record loop abandons only the action (one
//   call, assignment or test) it belongs to. A test whose condition cannot be
//   evaluated counts as holding; a value that could not be produced keeps its
//   earlier value. Every record that met a failure gets the same line at the
//   record itself.
// - Failures that no record line can carry (the summary, closing the tables)
//   and records that met a failure end in a warning that names the output
//   table, so a damaged output is never reported as plain success.
// - An output that could not be written in full (a record that could not be
//   appended), committed (Close failed) or put in place is removed, with a
//   warning that no repaired table was written.
//
// Safety of the files: every output name is checked against the source's own
// files first (a link or a second name of one of them ends the pass
// untouched), and the output's lock makes this pass its only writer until
// the pass ends. The output is written under fresh names beside its target
// (Files::StageTable) and takes the output's names only once it is whole and
// committed, so until then an earlier output stays as it was, and a pass that
// fails or is stopped leaves it so. The engine's problems with the source's
// files are shown once the pass has ended.
#ifndef KXCHECK_CORE_REPAIR_PASS_H_
#define KXCHECK_CORE_REPAIR_PASS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/host.h"
#include "core/operation.h"
#include "core/operations.h"
#include "core/record_bytes.h"
#include "core/results_log.h"
#include "core/stamp.h"
#include "core/stamp_restore.h"
#include "core/step.h"
#include "core/table.h"
#include "core/waiting_records.h"

namespace kxcheck {

namespace repair_pass_internal {

inline constexpr const char* kOutputExtensions[] = {".kxt", ".kxd", ".kxi",
                                                    ".kxa"};

// A failure before the record loop: what was being done and why it failed.
struct SetupFailure {
  std::string text;
};

std::string SevereLine(int64_t n);

// kRestoring: the restoring rule (options.rule), compiled apart so that the
// record loop of the current rule carries none of it.
template <class HostType, class MakeTable, bool kWatched, bool kRestoring>
class RepairPass : public OperationState {
 public:
  RepairPass(const std::string& path, HostType& host, MakeTable& make_table,
             const RepairOptions& options, StepObserver* observer)
      : OperationState(path),
        host_(host),
        make_table_(make_table),
        options_(options),
        steps_(observer) {}

  // The stages, as RunStages runs them.
  Steps<kWatched>& steps() { return steps_; }

  std::optional<Outcome> Prepare() {
    if (!Setup(Step::kLookForSource, [&] { return host_.FileExists(path_); })) {
      Warn("Filename does not exist!", Step::kWarnMissing);
      return Outcome::kNotFound;
    }
    busy_ = true;
    Setup(Step::kEnterBusy, [&] { host_.EnterBusy(); });
    Setup(Step::kClearResults, [&] { host_.ClearResults(); });

    Setup(Step::kCreateTables, [&] {
      source_ = make_table_();
      output_ = make_table_();
    });
    Setup(Step::kOpenSource, [&] { source_->Open(path_); });
    problems_ = Setup(Step::kReadProblems, [&] { return source_->Problems(); });
    if (Setup(Step::kReadMarksMissing,
              [&] { return source_->DeletionMarksMissing(); })) {
      problems_.emplace_back(
          "Deleted records may be in the output: not every deletion mark of "
          "the source could be read.");
    }
    output_base_ =
        Setup(Step::kReadBasePath, [&] { return source_->BasePath(); }) +
        "_REPAIRED";
    output_kxt_ = output_base_ + ".kxt";
    lock_path_ = output_kxt_ + ".lock";

    had_output_ = Setup(Step::kLookForOutput,
                        [&] { return host_.FileExists(output_kxt_); });
    if (had_output_) {
      const bool replace =
          options_.replace_agreed || Setup(Step::kAskReplace, [&] {
            return host_.AskYesNo("File '" + output_base_ +
                                  ".kxt' already exists ... Replace?");
          });
      if (!replace) {
        Abandon();
        LeaveBusy();
        return Outcome::kDeclined;
      }
    }

    // A link or a second name of one of the source's files at an output
    // name would make the output, put in its place, replace one of the
    // source's names.
    auto [name, source_file] = OutputNameOfTheSource();
    if (!name.empty()) {
      throw SetupFailure{"Cannot repair: '" + name +
                         "' is the same file as the source's '" + source_file +
                         "'. Nothing was deleted or written."};
    }
    lock_ =
        Setup(Step::kLockOutput, [&] { return host_.LockOutput(lock_path_); });

    // The output is written under fresh names and takes its own only when
    // it is whole: an earlier output stays until then.
    staged_ = Setup(Step::kCopyDefinition,
                    [&] { return host_.StageTable(path_, output_kxt_); });
    Setup(Step::kOpenOutput, [&] {
      output_->SetAccessMode(2);
      output_->Open(staged_->Path());
    });

    Setup(Step::kHeaderLines, [&] { host_.AddResult("Filename: " + path_); });
    const int32_t count =
        Setup(Step::kReadRecordCount, [&] { return source_->RecordCount(); });
    Setup(Step::kHeaderLines, [&] {
      host_.AddResult("Records:  " + std::to_string(count));
      host_.NoteRecordCount(count);
    });
    total_ = Setup(Step::kReadTotal, [&] { return source_->RecordCount(); });
    Setup(Step::kShowProgress,
          [&] { host_.ShowProgress(ProgressText(0, total_)); });
    notes_ = Setup(Step::kNoteRecord, [&] { return host_.WantsRecordNotes(); });
    if constexpr (kRestoring) {
      const int year = Setup(Step::kClock, [&] { return host_.CurrentYear(); });
      restorer_ = std::make_unique<StampRestorer>(year);
    }
    return std::nullopt;
  }

  bool OneRecord(int32_t n) {
    steps_.AtRecord(n);
    current_ = n;
    pending_ = false;
    reported_ = false;

    if (n % kProgressEvery == 0) {
      Do(Step::kShowProgress,
         [&] { host_.ShowProgress(ProgressText(n, total_)); });
    }
    // A record that cannot be read ends the loop (Stopped, below). Any other
    // failure of the record is reported once its actions are done, and
    // never costs the record its place in the output.
    if (Read(Step::kPositioning, [&] { source_->GoToRecord(n); })) {
      RecordActions(n);
    }
    if (!unreadable_.empty()) {
      ReportSevere(n);
      return false;
    }
    Do(Step::kPumpEvents, [&] { host_.PumpEvents(); });
    if (pending_) ReportSevere(n);
    pending_ = false;
    if constexpr (kRestoring) WriteDecided();

    return !Holds(Step::kPumpEvents, [&] { return host_.StopRequested(); });
  }

  // The restoring rule decides the stamps still waiting, and their records
  // are written.
  void AfterLastRecord() {
    if constexpr (kRestoring) {
      restorer_->Finish();
      WriteDecided();
    }
  }

  Outcome Summary() {
    Do(Step::kShowProgress,
       [&] { host_.ShowProgress(ProgressText(total_, total_)); });

    if (Holds(Step::kMeasureLog,
              [&] { return host_.ResultsLength() > ResultsLog::kCap; })) {
      Do(Step::kTruncationNotice,
         [&] { host_.AddResultAlways(">>> Output Truncated <<<"); });
    }
    auto add_skipped = [&](int32_t count, const char* what) {
      Do(Step::kCountLines, [&] {
        host_.AddResultAlways("Skipped " + std::to_string(count) + what);
      });
    };
    if (Holds(Step::kDeletedOption,
              [&] { return host_.SkipOption(SkipKind::kDeleted); })) {
      add_skipped(deleted_, " Deleted records");
    }
    if (null_ > 0) add_skipped(null_, " Null records");
    if (Holds(Step::kDuplicatesOption,
              [&] { return host_.SkipOption(SkipKind::kDuplicates); })) {
      add_skipped(duplicate_, " Duplicate records");
    }
    if (Holds(Step::kCorruptedOption,
              [&] { return host_.SkipOption(SkipKind::kCorrupted); })) {
      add_skipped(corrupted_, " Corrupted records");
    }
    auto add_closing = [&](const std::string& line) {
      Do(Step::kClosingLines, [&] { host_.AddResultAlways(line); });
    };
    add_closing("");
    add_closing("Output -> " + output_kxt_);
    OperationTotals totals = Totals(/*removed=*/false);
    Do(Step::kCountWritten, [&] {
      totals.written = output_->RecordCount();
      host_.AddResultAlways("Records Written: " +
                            std::to_string(totals.written));
    });
    add_closing("");
    add_closing("*** Processing Complete ***");
    EndSpread();

    Do(Step::kCloseSource, [&] { source_->Close(); });
    source_.reset();
    // Close commits the output under its staged names; only then is it put
    // in place, and only then does it count as written.
    std::string unwritten;
    bool publish_failed = false;
    if (!unwritten_reason_.empty()) {
      unwritten = "'" + output_kxt_ + "' could not be written in full (" +
                  unwritten_reason_ + ")";
    } else if (const auto failure =
                   steps_.Try(Step::kCloseOutput, [&] { output_->Close(); })) {
      unwritten =
          "'" + output_kxt_ + "' could not be committed (" + *failure + ")";
    }
    output_.reset();
    if (unwritten.empty()) {
      if (const auto failure =
              steps_.Try(Step::kPublishOutput, [&] { staged_->Publish(); })) {
        unwritten = "'" + output_kxt_ + "' could not be put in place (" +
                    *failure + ")";
        publish_failed = true;
      }
    }
    if (!unwritten.empty()) totals = Totals(/*removed=*/true);
    Do(Step::kNoteTotals, [&] { host_.NoteTotals(totals); });

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
      DiscardStaged(removal);
      Warn(WithLines(
          WithLines("No repaired table was written: " + unwritten +
                        ". Its unfinished files were removed" +
                        (publish_failed ? std::string(".") : EarlierOutput()),
                    removal),
          problems));
    } else if (!problems.empty()) {
      Warn(WithLines(
          "The repaired table '" + output_kxt_ + "' may be incomplete.",
          problems));
    }
    lock_.reset();
    const bool idle = LeaveBusy();
    ShowProblems(host_, steps_);
    return idle && problems.empty() && unwritten.empty() ? Outcome::kCompleted
                                                         : Outcome::kFailed;
  }

  // The loop ended early: the user asked to stop, or a record could not be
  // read.
  Outcome Stopped() {
    if constexpr (kRestoring) {
      // The records still waiting get their lines in table order, up to the
      // record the loop ended at; what they are written to is discarded
      // below with the rest of the output.
      restorer_->Finish();
      WriteDecided();
    }
    // The source was only read: a failure to close it loses nothing.
    steps_.Try(Step::kCloseSource, [&] { source_->Close(); });
    const std::vector<std::string> problems = Abandon();
    if (!unreadable_.empty()) {
      Do(Step::kNoteTotals,
         [&] { host_.NoteTotals(Totals(/*removed=*/true)); });
      Warn(WithLines("No repaired table was written: " + unreadable_ + " of '" +
                         path_ + "' could not be read (" + unreadable_reason_ +
                         ")" + EarlierOutput(),
                     problems));
    } else if (!problems.empty()) {
      Warn(WithLines("Repair stopped.", problems));
    }
    LeaveBusy();
    ShowProblems(host_, steps_);
    return unreadable_.empty() ? Outcome::kStopped : Outcome::kFailed;
  }

  // Only a failure before the record loop ends here (a SetupFailure); the
  // loop and the summary catch their own. Anything else is no failure of a
  // call and goes on to the caller.
  Outcome Fail() {
    try {
      throw;
    } catch (const SetupFailure& failure) {
      Warn(WithLines(failure.text, Abandon()));
      if (busy_) LeaveBusy();
      ShowProblems(host_, steps_);
      return Outcome::kFailed;
    }
  }

 private:
  // Runs a call before the record loop; a failure becomes a SetupFailure
  // whose text says what could not be done (with `file` where it names one).
  template <typename Call>
  auto Setup(Step step, Call&& call, const std::string& file = {})
      -> decltype(call()) {
    try {
      return steps_.Run(step, std::forward<Call>(call));
    } catch (...) {
      throw SetupFailure{RepairWords(step, path_, output_kxt_, file) + ": " +
                         CurrentReason()};
    }
  }

  // Runs one action of the record loop or the summary. A failure is noted
  // and abandons only this action.
  template <typename Action>
  bool Do(Step step, Action&& action) {
    try {
      steps_.Run(step, std::forward<Action>(action));
      return true;
    } catch (...) {
      NoteFailure(step);
      return false;
    }
  }

  // Evaluates the condition of a test; a failure is noted and the test
  // counts as holding.
  template <typename Test>
  bool Holds(Step step, Test&& test) {
    bool holds = true;
    Do(step, [&] { holds = test(); });
    return holds;
  }

  // Runs a call that reads the source's record or its deletion mark. A
  // failure ends the record loop: gives false, and the record and the
  // reason are kept for the warning.
  template <typename Call>
  bool Read(Step step, Call&& call) {
    try {
      steps_.Run(step, std::forward<Call>(call));
      return true;
    } catch (...) {
      unreadable_ = "record " + std::to_string(current_);
      unreadable_reason_ = CurrentReason();
      return false;
    }
  }

  // A failure in the record loop is reported at the record; one in the
  // summary at the end, with what could not be done.
  void NoteFailure(Step step) {
    std::string reason = CurrentReason();
    last_reason_ = reason;
    if (steps_.phase() == Phase::kAfter) {
      summary_problems_.push_back(RepairWords(step, path_) + ": " + reason);
      return;
    }
    pending_ = true;
    if (first_record_reason_.empty()) {
      first_record_reason_ =
          "record " + std::to_string(current_) + ": " + reason;
    }
  }

  // The actions of a record that could be positioned.
  void RecordActions(int32_t n) {
    Do(Step::kReadRecord, [&] {
      view_has_separators_ = HasSeparatorBytes(source_->RecordBuffer());
    });
    const RecordClass kind = Classify();
    if (!unreadable_.empty()) return;
    if (kind != RecordClass::kExamined) {
      if (kRestoring && notes_ && !waiting_.empty()) {
        waiting_.AddLeftOut(n, kind);  // noted after the records before it
      } else {
        NoteRecord(n, kind, /*left_out=*/true);
      }
      return;
    }
    ++kept_;
    if constexpr (kRestoring) {
      Hold(n);
      return;
    }
    TestStamp(n);
    const bool written = Write(n);
    previous_stamp_ = stamp_;
    Do(Step::kKeepRecord,
       [&] { previous_record_.KeepBytes(source_->RecordBuffer()); });
    NoteRecord(n, kind, !written);
  }

  // The skip rules in their order: the one that left the record out, or
  // kExamined for a record to write.
  RecordClass Classify() {
    if (Holds(Step::kNullTest,
              [&] { return IsRepairNull(source_->RecordBuffer()); })) {
      ++null_;
      return RecordClass::kNull;
    }
    // A record is left out as deleted only when its mark was read.
    bool deleted = false;
    if (Holds(Step::kDeletedOption,
              [&] { return host_.SkipOption(SkipKind::kDeleted); }) &&
        Read(Step::kDeletionMark, [&] { deleted = source_->Deleted(); }) &&
        deleted) {
      ++deleted_;
      return RecordClass::kDeleted;
    }
    if (!unreadable_.empty()) return RecordClass::kDeleted;
    if (Holds(Step::kCorruptedOption,
              [&] { return host_.SkipOption(SkipKind::kCorrupted); }) &&
        !view_has_separators_) {
      ++corrupted_;
      return RecordClass::kCorrupted;
    }
    if (Holds(Step::kDuplicatesOption,
              [&] { return host_.SkipOption(SkipKind::kDuplicates); }) &&
        Holds(Step::kDuplicateTest, [&] {
          return previous_record_.HasBytes(source_->RecordBuffer());
        })) {
      ++duplicate_;
      return RecordClass::kDuplicate;
    }
    return RecordClass::kExamined;
  }

  // Builds the stamp, runs the stamp tests and, when only the separators
  // are wrong, puts them right in the source's working buffer, which the
  // writing copies.
  void TestStamp(int32_t n) {
    Do(Step::kReadStamp, [&] { ReadStamp(*source_, stamp_); });
    if (notes_) read_stamp_ = stamp_;
    RunStampTests(n);

    if (!changed_ && SeparatorsFail(stamp_)) {
      AddFinding(n, StampTest::kSeparators);
      original_ = stamp_;
      for (size_t at : {4, 7, 13, 16}) {
        if (at < stamp_.size()) stamp_[at] = at < 10 ? '-' : ':';
      }
      Do(Step::kPutDate,
         [&] { source_->FieldPut(1, StampPart(stamp_, 1, 10)); });
      Do(Step::kPutTime,
         [&] { source_->FieldPut(2, StampPart(stamp_, 12, 19)); });
      AddStampSet(n, StampReason::kSeparators);
    }
  }

  // The Order, Year, Month, Day, Hour, Minute and Second tests on stamp_
  // against previous_stamp_, in their order; each failing test sets changed_
  // and adds its finding line.
  void RunStampTests(int32_t n) {
    changed_ = false;
    failed_tests_ = 0;
    // The clock is read once, for the record's Year test; a clock that
    // cannot be read fails it.
    bool year_fails = true;
    Do(Step::kClock,
       [&] { year_fails = YearFails(stamp_, year_.Of(host_.CurrentYear())); });
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
  }

  // Writes the record, with a replacement stamp when a test failed; gives
  // whether it reached the output.
  bool Write(int32_t n) {
    if (changed_ && kept_ > 1) {
      TakeWrittenStamp(n);
    } else {
      EndSpread();
      spread_source_ = n;
    }
    if (changed_) {
      original_.swap(stamp_);  // the stamp as read, for the report
      stamp_.assign(kept_ == 1 ? kFirstReplacementStamp
                               : std::string_view(previous_stamp_));
    }
    const bool appended = Append(
        n, [&] { return source_->RecordBuffer(); }, changed_);
    if (changed_) {
      AddStampSet(n, failed_tests_ == Bit(StampTest::kOrder)
                         ? StampReason::kOutOfOrder
                         : StampReason::kFailedTest);
    }
    return appended;
  }

  // Appends the bytes `record` gives as record n's output, with stamp_ put
  // in its date and time when `restamp`; gives whether it reached the
  // output. A record is appended only when its own bytes (with the
  // replacement stamp) are in the output's buffer: appending whatever the
  // buffer held before would write another record's bytes, or the bad stamp,
  // while the log reports the record as skipped.
  template <class Record>
  bool Append(int32_t n, Record&& record, bool restamp) {
    bool ready =
        Do(Step::kOutputBuffer, [&] { output_->SetRecordBuffer(record()); });
    if (restamp) {
      ready = Do(Step::kPutDate,
                 [&] { output_->FieldPut(1, StampPart(stamp_, 1, 10)); }) &&
              ready;
      ready = Do(Step::kPutTime,
                 [&] { output_->FieldPut(2, StampPart(stamp_, 12, 19)); }) &&
              ready;
    }
    if (!ready) return false;
    const bool appended = Do(Step::kAppend, [&] { output_->AppendRecord(0); });
    if (!appended) NoteUnwritten(n);
    return appended;
  }

  void NoteRecord(int32_t n, RecordClass kind, bool left_out) {
    if (!notes_) return;
    Do(Step::kNoteRecord, [&] {
      RecordNote note;
      note.record = n;
      note.kind = kind;
      note.left_out = left_out;
      if (kind == RecordClass::kExamined) {
        note.stamp = read_stamp_;
        note.failed_tests = failed_tests_;
      }
      host_.NoteRecord(note);
    });
  }

  // A failed test, or the stamp written for record n, each as one action.
  void AddFinding(int32_t n, StampTest test) {
    failed_tests_ |= Bit(test);
    Do(Step::kFinding, [&] {
      host_.AddFinding(Finding{n, test, stamp_, previous_stamp_});
    });
  }
  // stamp_ written for record n in place of original_.
  void AddStampSet(int32_t n, StampReason reason) {
    Do(Step::kStampSet, [&] {
      host_.AddStampSet(StampSet{n, stamp_, original_, reason});
    });
  }

  // Record n took the stamp written before it (previous_stamp_).
  void TakeWrittenStamp(int32_t n) {
    if (spread_.records == 0) {
      spread_.source = spread_source_;
      spread_.stamp = previous_stamp_;
      spread_.first = n;
    }
    spread_.last = n;
    ++spread_.records;
  }

  // The run of records that took one stamp has ended.
  void EndSpread() {
    if (spread_.records > kSpreadWarnAbove) {
      Do(Step::kNoteSpread, [&] { host_.NoteSpread(spread_); });
    }
    spread_.records = 0;
  }

  // Record n met a failure: its severe-error line, once. With the restoring
  // rule, after the lines of the records before it that still wait, and
  // after its own when it waits itself.
  void ReportSevere(int32_t n) {
    pending_ = false;
    if (reported_) return;
    reported_ = true;
    if (kRestoring && !waiting_.empty()) {
      WaitingRecords::Entry& last = waiting_.Back();
      if (last.what == WaitingRecords::What::kExamined && last.first == n) {
        last.severe = true;
      } else {
        waiting_.AddSevere(n);
      }
      return;
    }
    AddSevereLine(n);
  }

  void AddSevereLine(int32_t n) {
    ++severe_records_;
    if (steps_.Try(Step::kSevereLine,
                   [&] { host_.AddResult(SevereLine(n)); })) {
      ++unlogged_records_;
    }
  }

  // Restoring rule: reads the stamp of examined record n for the rule and
  // holds the record until the rule has decided it. A stamp that cannot be
  // read is given as empty, and so restored.
  void Hold(int32_t n) {
    if (!Do(Step::kReadStamp, [&] { ReadStamp(*source_, stamp_); })) {
      stamp_.clear();
    }
    WaitingRecords::Entry& entry = waiting_.AddExamined(n);
    entry.held = Do(Step::kHoldRecord,
                    [&] { entry.bytes.assign(source_->RecordBuffer()); });
    Do(Step::kKeepRecord,
       [&] { previous_record_.KeepBytes(source_->RecordBuffer()); });
    restorer_->Push(n, stamp_);
  }

  // Writes, notes and reports the waiting records, in order, up to the
  // first examined one whose stamp the rule has not decided yet.
  void WriteDecided() {
    while (!waiting_.empty()) {
      WaitingRecords::Entry& entry = waiting_.Front();
      switch (entry.what) {
        case WaitingRecords::What::kExamined:
          if (!restorer_->Ready()) return;
          AtWaitingRecord(entry.first, entry.severe,
                          [&] { WriteRestored(entry, restorer_->Front()); });
          restorer_->Pop();
          break;
        case WaitingRecords::What::kLeftOut:
          for (int32_t m = entry.first; m <= entry.last; ++m) {
            AtWaitingRecord(m, false, [&] { NoteRecord(m, entry.kind, true); });
          }
          break;
        case WaitingRecords::What::kSevere:
          AddSevereLine(entry.first);
          break;
      }
      waiting_.PopFront();
    }
  }

  // Runs the actions of waiting record m, which come while a later record
  // is being processed: a failure among them is m's, and m's severe-error
  // line (with `severe`, for a failure met when it was read) follows m's
  // own lines.
  template <class Actions>
  void AtWaitingRecord(int32_t m, bool severe, Actions&& actions) {
    const int32_t current = current_;
    const bool pending = pending_;
    current_ = m;
    pending_ = false;
    steps_.AtRecord(m);
    actions();
    if (pending_ || severe) AddSevereLine(m);
    current_ = current;
    pending_ = pending;
    steps_.AtRecord(current);
  }

  // Writes a waiting record with the stamp the rule gave it.
  void WriteRestored(const WaitingRecords::Entry& entry,
                     const RestoredStamp& decided) {
    const int32_t m = entry.first;
    stamp_.assign(decided.original);
    if (notes_) read_stamp_ = stamp_;
    RunStampTests(m);
    if (!changed_ && SeparatorsFail(stamp_)) {
      AddFinding(m, StampTest::kSeparators);
    }
    const bool restamped = decided.fate != StampFate::kKept;
    if (restamped) original_ = stamp_;
    stamp_.assign(decided.Stamp());

    const bool appended =
        entry.held &&
        Append(
            m, [&]() -> std::string_view { return entry.bytes; }, restamped);
    if (restamped) AddStampSet(m, ReasonFor(decided));
    previous_stamp_ = stamp_;
    NoteRecord(m, RecordClass::kExamined, !appended);
  }

  // Why the restoring rule wrote another stamp, in the report's terms; the
  // stamp tests of the record have run.
  StampReason ReasonFor(const RestoredStamp& decided) const {
    if (decided.fate == StampFate::kSeparatorsPutRight) {
      return StampReason::kSeparators;
    }
    using R = RestoreReason;
    if (decided.reason == R::kOutOfOrder) return StampReason::kOutOfOrder;
    if (decided.reason == R::kSpike) return StampReason::kSpike;
    if (decided.reason == R::kOffCadence) return StampReason::kOffCadence;
    constexpr uint32_t kFieldTests =
        ~(Bit(StampTest::kOrder) | Bit(StampTest::kSeparators));
    return (failed_tests_ & kFieldTests) != 0 ? StampReason::kFailedTest
                                              : StampReason::kNotARealDate;
  }

  // Notes that record n, to be written, did not reach the output.
  void NoteUnwritten(int32_t n) {
    if (unwritten_reason_.empty()) {
      unwritten_reason_ = "record " + std::to_string(n) + ": " + last_reason_;
    }
  }

  // The output name that is one of the source's own files, and that file;
  // empty when there is none.
  std::pair<std::string, std::string> OutputNameOfTheSource() {
    std::vector<std::string> names;
    for (const char* extension : kOutputExtensions) {
      names.push_back(output_base_ + extension);
    }
    names.push_back(lock_path_);
    for (const std::string& name : names) {
      std::string source_file = Setup(
          Step::kCompareOutput, [&] { return source_->FileNamedBy(name); },
          name);
      if (!source_file.empty()) return {name, source_file};
    }
    return {};
  }

  // Releases both tables without Close (nothing more is committed), removes
  // the staged output and lets the output's lock go; gives what could not be
  // removed.
  std::vector<std::string> Abandon() {
    source_.reset();
    output_.reset();
    std::vector<std::string> problems;
    DiscardStaged(problems);
    lock_.reset();
    return problems;
  }

  // Removes the staged output, if there is one; a problem is added to
  // `problems`.
  void DiscardStaged(std::vector<std::string>& problems) {
    if (!staged_) return;
    if (const auto failure =
            steps_.Try(Step::kRemoveOutput, [&] { staged_->Discard(); })) {
      problems.push_back(RepairWords(Step::kRemoveOutput, path_, output_kxt_) +
                         ": " + *failure);
    }
    staged_.reset();
  }

  // The counts so far, for NoteTotals; with `removed`, of an output that
  // could not be finished and was removed.
  OperationTotals Totals(bool removed) const {
    OperationTotals totals = Counts();
    totals.output = output_kxt_;
    if (removed) {
      totals.written = 0;
      totals.output_removed = true;
    }
    return totals;
  }

  // What the warning of an output that was not written adds about the
  // output of an earlier Repair.
  std::string EarlierOutput() const {
    return had_output_ ? "; the earlier '" + output_kxt_ + "' is as it was."
                       : std::string(".");
  }

  void Warn(const std::string& text, Step step = Step::kWarn) {
    steps_.Try(step, [&] { host_.WarnBox(text); });
  }

  // Back to idle; a failure is warned of.
  bool LeaveBusy() {
    busy_ = false;
    const auto failure =
        steps_.Try(Step::kLeaveBusy, [&] { host_.LeaveBusy(); });
    if (failure) Warn(RepairWords(Step::kLeaveBusy, path_) + ": " + *failure);
    return !failure;
  }

  HostType& host_;
  MakeTable& make_table_;
  RepairOptions options_;
  Steps<kWatched> steps_;

  decltype(std::declval<MakeTable&>()()) source_;
  decltype(std::declval<MakeTable&>()()) output_;
  std::string output_base_;
  std::string output_kxt_;
  std::string lock_path_;
  std::unique_ptr<Files::OutputLock> lock_;
  std::unique_ptr<Files::StagedTable> staged_;
  bool had_output_ = false;  // an output was there before, and the user
                             // chose to replace it

  // State of the record loop.
  // The character view of the current record, as far as anything looks at
  // it: whether it has "-" and ":" where a well-formed record has them. The
  // view of no record at all (empty) has not.
  bool view_has_separators_ = false;
  std::string stamp_;
  std::string previous_stamp_{kStartStamp};
  // The source's bytes of the record last written.
  RecordBytes previous_record_;
  bool changed_ = false;
  int32_t kept_ = 0;
  int32_t current_ = 0;  // the record being processed
  bool pending_ = false;
  bool reported_ = false;  // the current record has its severe-error line
  // For the record's note: its stamp as read, and the tests that failed.
  std::string read_stamp_;
  uint32_t failed_tests_ = 0;
  // The stamp as read of a record written with another stamp.
  std::string original_;

  // Current rule: the last record written with its own stamp, and the run
  // of records after it that took its stamp.
  int32_t spread_source_ = 0;
  Spread spread_;

  // Restoring rule: the rule, and the records that wait for it.
  std::unique_ptr<StampRestorer> restorer_;
  WaitingRecords waiting_;

  // Failures to tell the user at the end.
  int32_t severe_records_ = 0;
  int32_t unlogged_records_ = 0;  // severe-error lines the log refused
  std::string first_record_reason_;
  std::string last_reason_;
  // The first record that could not be appended to the output, and why.
  std::string unwritten_reason_;
  // The record ("record n") that could not be read, and why.
  std::string unreadable_;
  std::string unreadable_reason_;
  std::vector<std::string> summary_problems_;
};

}  // namespace repair_pass_internal

// Runs the repair pass on the table at `path`. `make_table` gives a new,
// closed table object (a std::unique_ptr to any class with the operations of
// Table); the pass makes two, the source and the output. A watched pass tells
// `observer` (which may be null) of every step; one that is not has no
// observer compiled in.
template <bool kWatched = false, class HostType, class MakeTable>
Outcome RunRepairPass(const std::string& path, HostType& host,
                      MakeTable&& make_table, const RepairOptions& options = {},
                      StepObserver* observer = nullptr) {
  using Make = std::remove_reference_t<MakeTable>;
  if (options.rule == RepairRule::kRestoring) {
    repair_pass_internal::RepairPass<HostType, Make, kWatched, true> pass(
        path, host, make_table, options, observer);
    return RunStages(pass);
  }
  repair_pass_internal::RepairPass<HostType, Make, kWatched, false> pass(
      path, host, make_table, options, observer);
  return RunStages(pass);
}

}  // namespace kxcheck

#endif  // KXCHECK_CORE_REPAIR_PASS_H_
