// The check scan, written once for every kind of table and host: reads the
// table from the first record to the last without changing anything and
// reports, in the results log, every record whose stamp is damaged or out of
// order, then the numbers of null, deleted, duplicate and corrupted records.
//
// Failures: the scan catches none. A failing call ends it at that call, no
// summary is written, the table is released, the window returns to idle, and
// the user is warned with what failed, at which record and why. The engine's
// problems with the table's files are shown once the scan has ended.
//
// CheckTable (operations.h) runs it through the Table and Host interfaces. A
// caller that knows its concrete table and host classes (the engine adapter
// and the console or window host, declared final) can run the same scan
// compiled for them (RunCheckScan), so that the calls of the record loop are
// bound at compile time and inlined; what the scan does is the same either
// way.
#ifndef KXCHECK_CORE_CHECK_SCAN_H_
#define KXCHECK_CORE_CHECK_SCAN_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/host.h"
#include "core/operation.h"
#include "core/operations.h"
#include "core/packed_stamp.h"
#include "core/record_bytes.h"
#include "core/results_log.h"
#include "core/stamp.h"
#include "core/step.h"
#include "core/table.h"

namespace kxcheck {

namespace check_scan_internal {

// The warning for a failure at `at`.
std::string FailureText(const std::string& path, const Position& at,
                        const std::string& reason);

// "Found <count><what>" for the summary, or nothing when the count is 0.
void AddCountLine(Report& report, int32_t count, const char* what);

// Reads the stamp of the table's current record into `stamp`: FieldGet(1),
// a space and FieldGet(2), the first call first.
void ReadStampFromFields(Table& table, PackedStamp& stamp);
template <class TableType>
inline void ReadStamp(TableType& table, PackedStamp& stamp) {
  char date_and_time[18];
  if (table.DateAndTimeText(date_and_time)) {
    stamp.SetStamp(date_and_time, date_and_time + 10);
  } else {
    ReadStampFromFields(table, stamp);
  }
}

template <class HostType, class MakeTable, bool kWatched>
class CheckScan : public OperationState {
 public:
  CheckScan(const std::string& path, HostType& host, MakeTable& make_table,
            StepObserver* observer)
      : OperationState(path),
        host_(host),
        make_table_(make_table),
        steps_(observer) {}

  // The stages, as RunStages runs them.
  Steps<kWatched>& steps() { return steps_; }

  std::optional<Outcome> Prepare() {
    if (!Run(Step::kLookForSource, [&] { return host_.FileExists(path_); })) {
      Run(Step::kWarnMissing,
          [&] { host_.WarnBox("Filename does not exist!"); });
      return Outcome::kNotFound;
    }
    busy_ = true;
    Run(Step::kEnterBusy, [&] { host_.EnterBusy(); });
    Run(Step::kClearResults, [&] { host_.ClearResults(); });

    Run(Step::kCreateTables, [&] { table_ = make_table_(); });
    Run(Step::kOpenSource, [&] { table_->Open(path_); });
    problems_ = Run(Step::kReadProblems, [&] { return table_->Problems(); });

    const int32_t count =
        Run(Step::kReadRecordCount, [&] { return table_->RecordCount(); });
    Run(Step::kHeaderLines, [&] {
      host_.AddResult("Filename: " + path_);
      host_.AddResult("Records:  " + std::to_string(count));
      host_.NoteRecordCount(count);
    });
    total_ = Run(Step::kReadTotal, [&] { return table_->RecordCount(); });
    Run(Step::kShowProgress,
        [&] { host_.ShowProgress(ProgressText(0, total_)); });
    notes_ = Run(Step::kNoteRecord, [&] { return host_.WantsRecordNotes(); });
    return std::nullopt;
  }

  bool OneRecord(int32_t n) {
    steps_.AtRecord(n);
    if (n % kProgressEvery == 0) {
      Run(Step::kShowProgress,
          [&] { host_.ShowProgress(ProgressText(n, total_)); });
    }
    Run(Step::kPositioning, [&] { table_->GoToRecord(n); });
    const std::string_view buffer =
        Run(Step::kReadRecord, [&] { return table_->RecordBuffer(); });

    const int current = 1 - previous_;
    const RecordClass kind =
        Classify(buffer, bytes_[current], bytes_[previous_]);
    uint32_t failed = 0;
    if (kind == RecordClass::kExamined) {
      failed = TestStamp(n, stamps_[current], stamps_[previous_]);
    }
    if (notes_) [[unlikely]] {
      NoteRecord(n, kind, stamps_[current], failed);
    }
    if (kind == RecordClass::kExamined) previous_ = current;

    Run(Step::kPumpEvents, [&] { host_.PumpEvents(); });
    return !Run(Step::kPumpEvents, [&] { return host_.StopRequested(); });
  }

  Outcome Summary() {
    Run(Step::kShowProgress,
        [&] { host_.ShowProgress(ProgressText(total_, total_)); });
    Run(Step::kNoteTotals, [&] { host_.NoteTotals(Counts()); });
    if (Run(Step::kMeasureLog,
            [&] { return host_.ResultsLength() > ResultsLog::kCap; })) {
      Run(Step::kTruncationNotice,
          [&] { host_.AddResultAlways(">>> Output Truncated <<<"); });
    }
    Run(Step::kCountLines, [&] {
      AddCountLine(host_, deleted_, " Deleted records");
      AddCountLine(host_, null_, " Null records");
      AddCountLine(host_, duplicate_, " Duplicate records");
      AddCountLine(host_, corrupted_, " Corrupted records");
    });
    Run(Step::kClosingLines, [&] {
      host_.AddResultAlways("");
      host_.AddResultAlways("*** Processing Complete ***");
    });
    return Finish(Outcome::kCompleted);
  }

  Outcome Stopped() { return Finish(Outcome::kStopped); }

  Outcome Fail() {
    const std::string message =
        FailureText(path_, steps_.Failed(), CurrentReason());
    table_.reset();
    // The warning goes out even when the window could not leave the busy
    // state.
    if (busy_) steps_.Try(Step::kLeaveBusy, [&] { host_.LeaveBusy(); });
    steps_.Try(Step::kWarn, [&] { host_.WarnBox(message); });
    ShowProblems(host_, steps_);
    return Outcome::kFailed;
  }

 private:
  template <class Call>
  decltype(auto) Run(Step step, Call&& call) {
    return steps_.Run(step, std::forward<Call>(call));
  }

  // Counts the record by the first rule that holds; a record that may be
  // examined has its bytes kept in `current`.
  RecordClass Classify(std::string_view buffer, RecordBytes& current,
                       const RecordBytes& previous) {
    if (IsCheckNull(buffer)) {
      ++null_;
      return RecordClass::kNull;
    }
    // The buffer may only be valid until the next call on the table, so
    // what it says is settled, and a record that may be examined is kept,
    // before the deletion mark is asked for.
    const bool separators = HasSeparatorBytes(buffer);
    const bool same = separators && previous.HasBytes(buffer);
    if (separators && !same) {
      Run(Step::kKeepRecord, [&] { current.KeepBytes(buffer); });
    }
    if (Run(Step::kDeletionMark, [&] { return table_->Deleted(); })) {
      ++deleted_;
      return RecordClass::kDeleted;
    }
    if (!separators) {
      ++corrupted_;
      return RecordClass::kCorrupted;
    }
    if (same) {
      ++duplicate_;
      return RecordClass::kDuplicate;
    }
    return RecordClass::kExamined;
  }

  // Reads the stamp of an examined record and runs the stamp tests, adding
  // the findings; gives the tests that failed.
  uint32_t TestStamp(int32_t n, PackedStamp& current,
                     const PackedStamp& previous) {
    Run(Step::kReadStamp, [&] { ReadStamp(*table_, current); });
    uint32_t failed = 0;
    if (current.OrderFails(previous)) {
      failed = Bit(StampTest::kOrder);
      AddFindings(n, failed, current, previous);
    }
    // The year test reads the clock every time it runs.
    const std::string_view year =
        Run(Step::kClock, [&] { return year_.Of(host_.CurrentYear()); });
    if (const uint32_t fields = current.FailedFieldTests(year, previous)) {
      AddFindings(n, fields, current, previous);
      failed |= fields;
    }
    return failed;
  }

  // The findings of record n for the failed tests, in the order of the
  // tests.
  void AddFindings(int32_t n, uint32_t failed, const PackedStamp& current,
                   const PackedStamp& previous) {
    Run(Step::kFinding, [&] {
      char stamp_room[19];
      char previous_room[19];
      const std::string_view stamp = current.StampText(stamp_room);
      const std::string_view before = previous.StampText(previous_room);
      for (StampTest test : kAllStampTests) {
        if (failed & Bit(test)) {
          host_.AddFinding(Finding{n, test, stamp, before});
        }
      }
    });
  }

  void NoteRecord(int32_t n, RecordClass kind, const PackedStamp& stamp,
                  uint32_t failed) {
    Run(Step::kNoteRecord, [&] {
      char room[19];
      RecordNote note;
      note.record = n;
      note.kind = kind;
      // The table is still on record n: its buffer is the one classified.
      note.bytes = table_->RecordBuffer();
      if (kind == RecordClass::kExamined) {
        note.stamp = stamp.StampText(room);
        note.failed_tests = failed;
      }
      host_.NoteRecord(note);
    });
  }

  // The normal ends, whole or stopped early: close, then back to idle.
  Outcome Finish(Outcome outcome) {
    Run(Step::kCloseSource, [&] { table_->Close(); });
    table_.reset();
    busy_ = false;
    Run(Step::kLeaveBusy, [&] { host_.LeaveBusy(); });
    ShowProblems(host_, steps_);
    return outcome;
  }

  HostType& host_;
  MakeTable& make_table_;
  Steps<kWatched> steps_;

  decltype(std::declval<MakeTable&>()()) table_;
  // The record being examined and the one examined before it (at
  // previous_), which change roles after every examined record.
  RecordBytes bytes_[2];
  PackedStamp stamps_[2];
  int previous_ = 0;
};

}  // namespace check_scan_internal

// Runs the check scan on the table at `path`. `make_table` gives a new,
// closed table object (a std::unique_ptr to any class with the operations of
// Table). A watched scan tells `observer` (which may be null) of every step;
// one that is not has no observer compiled in.
template <bool kWatched = false, class HostType, class MakeTable>
Outcome RunCheckScan(const std::string& path, HostType& host,
                     MakeTable&& make_table, StepObserver* observer = nullptr) {
  check_scan_internal::CheckScan<HostType, std::remove_reference_t<MakeTable>,
                                 kWatched>
      scan(path, host, make_table, observer);
  return RunStages(scan);
}

}  // namespace kxcheck

#endif  // KXCHECK_CORE_CHECK_SCAN_H_
