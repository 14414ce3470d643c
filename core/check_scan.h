// The check scan, written once for every kind of table and host.
//
// CheckTable (operations.h) runs it through the Table and Host
// interfaces. A caller that knows its concrete table and host classes (the
// engine adapter and the console or window host, declared final) can run the
// same scan compiled for them, so that the calls of the record loop are bound
// at compile time and inlined; what the scan does is the same either way.
#ifndef KXCHECK_CORE_CHECK_SCAN_H_
#define KXCHECK_CORE_CHECK_SCAN_H_

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "core/host.h"
#include "core/operations.h"
#include "core/packed_record.h"
#include "core/table.h"
#include "core/results_log.h"
#include "core/stamp.h"

namespace kxcheck {

namespace check_scan_internal {

inline constexpr int32_t kProgressEvery = 1000;

// Where the scan is, so that a failure can be reported in plain words.
struct Position {
  enum class Phase { kBefore, kLoop, kAfter } phase = Phase::kBefore;
  int64_t record = 0;
  const char* doing = "starting";
};

// The warning for a failure at `at`; the exception is the one being handled.
std::string FailureText(const std::string& path, const Position& at,
                        std::exception_ptr failure);

// "Found <count><what>" for the summary, or nothing when the count is 0.
void AddCountLine(Host& host, int32_t count, const char* what);

// Reads the stamp of the table's current record into `record`: FieldGet(1),
// a space and FieldGet(2), the first call first.
void ReadStampFromFields(Table& table, PackedRecord& record);
template <class Table>
inline void ReadStamp(Table& table, PackedRecord& record) {
  char date_and_time[18];
  if (table.DateAndTimeText(date_and_time)) {
    record.SetStamp(date_and_time, date_and_time + 10);
  } else {
    ReadStampFromFields(table, record);
  }
}

}  // namespace check_scan_internal

// Runs the check scan on the table at `path`. `make_table` gives a new,
// closed table object (a std::unique_ptr to any class with the operations of
// Table).
template <class HostType, class MakeTable>
Outcome CheckScan(const std::string& path, HostType& host,
                  MakeTable&& make_table) {
  using check_scan_internal::kProgressEvery;
  using check_scan_internal::Position;
  using check_scan_internal::ReadStamp;
  if (path.empty()) return Outcome::kNothing;

  Position at;
  decltype(make_table()) table;
  bool busy = false;
  // What the engine found wrong with the table's files: shown once the scan
  // has ended, whichever way.
  std::vector<std::string> problems;
  auto show_problems = [&] {
    if (problems.empty()) return;
    try {
      host.ShowTableProblems(path, problems);
    } catch (...) {
      // Nobody left to tell.
    }
  };
  try {
    at.doing = "looking for the file";
    if (!host.FileExists(path)) {
      at.doing = "warning that the file is missing";
      host.WarnBox("Filename does not exist!");
      return Outcome::kNotFound;
    }

    at.doing = "entering the busy state";
    busy = true;  // a half-done EnterBusy still wants its LeaveBusy
    host.EnterBusy();
    at.doing = "clearing the results";
    host.ClearResults();

    at.doing = "opening";
    table = make_table();
    table->Open(path);
    problems = table->Problems();

    at.doing = "reading the number of records";
    int32_t header_count = table->RecordCount();
    at.doing = "writing to the results";
    host.AddResult("Filename: " + path);
    host.AddResult("Records:  " + std::to_string(header_count));
    host.NoteRecordCount(header_count);

    at.doing = "reading the number of records";
    const int32_t total = table->RecordCount();
    const std::string total_text = " / " + std::to_string(total);
    at.doing = "showing the progress";
    host.ShowProgress("0" + total_text);

    int32_t deleted = 0;
    int32_t null = 0;
    int32_t duplicate = 0;
    int32_t corrupted = 0;
    // The record being examined and the one examined before it, which
    // change roles after every examined record.
    PackedRecord records[2];
    size_t previous_at = 0;
    int year = 0;
    std::string year_text;

    // The normal ends, whole or stopped early: close, then back to idle.
    auto finish = [&](Outcome outcome) {
      at.doing = "closing";
      table->Close();
      table.reset();
      at.doing = "leaving the busy state";
      busy = false;
      host.LeaveBusy();
      show_problems();
      return outcome;
    };

    // Runs one step of the record loop. A failure is marked with the record
    // and what the step was doing, and goes on to the handler below; the
    // marks cost nothing while nothing fails.
    auto step = [&at](int64_t n, const char* doing,
                      auto&& call) -> decltype(auto) {
      try {
        return call();
      } catch (...) {
        at.record = n;
        at.doing = doing;
        throw;
      }
    };

    // The findings of record n for the failed tests (bit i for
    // kAllStampTests[i]), in the order of the tests.
    auto add_findings = [&](int64_t n, uint32_t failed,
                            const PackedRecord& current,
                            const PackedRecord& previous) {
      step(n, "writing to the results", [&] {
        char stamp_room[19];
        char previous_room[19];
        const std::string_view stamp = current.StampText(stamp_room);
        const std::string_view previous_stamp =
            previous.StampText(previous_room);
        for (StampTest test : kAllStampTests) {
          if (failed & Bit(test)) {
            host.AddFinding(Finding{n, test, stamp, previous_stamp});
          }
        }
      });
    };

    at.phase = Position::Phase::kLoop;
    int64_t next_progress = kProgressEvery;
    // 64 bits, so that a total of the largest 32-bit value ends the loop.
    for (int64_t n = 1; n <= total; ++n) {
      const auto record = static_cast<int32_t>(n);
      if (n == next_progress) {
        next_progress += kProgressEvery;
        step(n, "showing the progress",
             [&] { host.ShowProgress(std::to_string(record) + total_text); });
      }
      step(n, "moving to the record", [&] { table->GoToRecord(record); });
      const std::string_view buffer =
          step(n, "reading the record", [&] { return table->RecordBuffer(); });

      PackedRecord& current = records[1 - previous_at];
      const PackedRecord& previous = records[previous_at];
      bool examined = false;
      if (IsCheckNull(buffer)) {
        ++null;
      } else {
        // The buffer may only be valid until the next call on the table, so
        // what it says is settled, and a record that may be examined is
        // kept, before the deletion mark is asked for.
        const bool separators = HasSeparatorBytes(buffer);
        const bool same = separators && previous.HasBytes(buffer);
        if (separators && !same) {
          step(n, "keeping the record", [&] { current.KeepBytes(buffer); });
        }
        if (step(n, "reading the deletion mark",
                 [&] { return table->Deleted(); })) {
          ++deleted;
        } else if (!separators) {
          ++corrupted;
        } else if (same) {
          ++duplicate;
        } else {
          examined = true;
        }
      }

      if (examined) {
        step(n, "reading the date and time",
             [&] { ReadStamp(*table, current); });
        if (current.OrderFails(previous)) {
          add_findings(n, Bit(StampTest::kOrder), current, previous);
        }
        // The year test reads the clock every time it runs.
        step(n, "reading the clock", [&] {
          const int now = host.CurrentYear();
          if (now != year || year_text.empty()) {
            year = now;
            year_text = YearText(year);
          }
        });
        if (const uint32_t failed =
                current.FailedFieldTests(year_text, previous)) {
          add_findings(n, failed, current, previous);
        }
        previous_at = 1 - previous_at;
      }

      const bool stop = step(n, "processing window events", [&] {
        host.PumpEvents();
        return host.StopRequested();
      });
      if (stop) {
        at.phase = Position::Phase::kAfter;
        return finish(Outcome::kStopped);
      }
    }

    at.phase = Position::Phase::kAfter;
    at.doing = "showing the progress";
    host.ShowProgress(std::to_string(total) + total_text);
    at.doing = "writing the summary";
    OperationTotals totals;
    totals.deleted = deleted;
    totals.null = null;
    totals.duplicate = duplicate;
    totals.corrupted = corrupted;
    host.NoteTotals(totals);
    if (host.ResultsLength() > ResultsLog::kCap) {
      host.AddResultAlways(">>> Output Truncated <<<");
    }
    check_scan_internal::AddCountLine(host, deleted, " Deleted records");
    check_scan_internal::AddCountLine(host, null, " Null records");
    check_scan_internal::AddCountLine(host, duplicate, " Duplicate records");
    check_scan_internal::AddCountLine(host, corrupted, " Corrupted records");
    host.AddResultAlways("");
    host.AddResultAlways("*** Processing Complete ***");

    return finish(Outcome::kCompleted);
  } catch (...) {
    std::string message =
        check_scan_internal::FailureText(path, at, std::current_exception());
    table.reset();
    if (busy) {
      try {
        host.LeaveBusy();
      } catch (...) {
        // The warning below still goes out; nothing more can be done.
      }
    }
    try {
      host.WarnBox(message);
    } catch (...) {
      // Nobody left to tell.
    }
    show_problems();
    return Outcome::kFailed;
  }
}

}  // namespace kxcheck

#endif  // KXCHECK_CORE_CHECK_SCAN_H_
