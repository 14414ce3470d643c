// The check scan: reads a table from the first record to the last without
// changing it and reports damaged or out-of-order stamps in the results log,
// then the numbers of deleted, null, duplicate and corrupted records.
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "core/operations.h"
#include "core/stamp.h"

namespace kxcheck {

namespace {

constexpr int32_t kProgressEvery = 1000;

// Where the scan is, so that a failure can be reported in plain words.
struct Position {
  enum class Phase { kBefore, kLoop, kAfter } phase = Phase::kBefore;
  int64_t record = 0;
  const char* doing = "starting";
};

std::string Reason(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

std::string FailureText(const std::string& path, const Position& at,
                        const std::string& reason) {
  std::string doing = at.doing;
  if (doing == "opening") return "Cannot open " + path + ": " + reason;
  if (doing == "closing") return "Cannot close " + path + ": " + reason;
  if (doing == "looking for the file") {
    return "Cannot tell whether " + path + " exists: " + reason;
  }
  std::string where;
  switch (at.phase) {
    case Position::Phase::kBefore:
      where = "Check stopped before the first record";
      break;
    case Position::Phase::kLoop:
      where = "Check stopped at record " + std::to_string(at.record);
      break;
    case Position::Phase::kAfter:
      where = "Check stopped after the last record";
      break;
  }
  return where + " while " + doing + ": " + reason;
}

// Whole-buffer equality, inlined: records are a few dozen bytes.
inline bool SameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  size_t i = 0;
  for (; i + 8 <= a.size(); i += 8) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) return false;
  }
  for (; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

void AddCountLine(Host& host, int32_t count, const char* what) {
  if (count > 0) {
    host.AddResultAlways("Found " + std::to_string(count) + what);
  }
}

}  // namespace

Outcome CheckTable(const std::string& path, Host& host, TableFactory& tables) {
  if (path.empty()) return Outcome::kNothing;

  Position at;
  std::unique_ptr<RecordTable> table;
  bool busy = false;
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
    table = tables.Create();
    table->Open(path);

    at.doing = "reading the number of records";
    int32_t header_count = table->RecordCount();
    at.doing = "writing to the results";
    host.AddResult("Filename: " + path);
    host.AddResult("Records:  " + std::to_string(header_count));

    at.doing = "reading the number of records";
    const int32_t total = table->RecordCount();
    const std::string total_text = " / " + std::to_string(total);
    at.doing = "showing the progress";
    host.ShowProgress("0" + total_text);

    int32_t deleted = 0;
    int32_t null = 0;
    int32_t duplicate = 0;
    int32_t corrupted = 0;
    // Reused from record to record so that the loop allocates nothing
    // once their capacity has grown to a record's size.
    std::string current;   // a record that may be examined
    std::string previous;  // buffer of the last examined record
    std::string stamp;
    std::string previous_stamp(kStartStamp);
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
      return outcome;
    };

    at.phase = Position::Phase::kLoop;
    // 64 bits, so that a total of the largest 32-bit value ends the loop.
    for (int64_t n = 1; n <= total; ++n) {
      at.record = n;
      const auto record = static_cast<int32_t>(n);
      if (record % kProgressEvery == 0) {
        at.doing = "showing the progress";
        host.ShowProgress(std::to_string(record) + total_text);
      }
      at.doing = "moving to the record";
      table->GoToRecord(record);
      at.doing = "reading the record";
      const std::string& buffer = table->RecordBuffer();

      bool examined = false;
      if (IsCheckNull(buffer)) {
        ++null;
      } else {
        // The buffer is only valid until the next call on the table, so
        // what it says is settled before the deletion mark is asked for,
        // and a record that may be examined is kept.
        const bool separators = HasSeparatorBytes(buffer);
        const bool same = separators && SameBytes(buffer, previous);
        if (separators && !same) current.assign(buffer);
        at.doing = "reading the deletion mark";
        if (table->Deleted()) {
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
        at.doing = "reading the date and time";
        const std::string date = table->FieldGet(1);
        const std::string time = table->FieldGet(2);
        BuildStamp(date, time, stamp);
        if (CompareText(stamp, previous_stamp) < 0) {  // the order test
          at.doing = "writing to the results";
          host.AddResult(FindingLine(
              n, stamp, FindingSuffix(StampTest::kOrder, previous_stamp)));
        }
        // The year test reads the clock every time it runs.
        at.doing = "reading the clock";
        int now = host.CurrentYear();
        if (now != year || year_text.empty()) {
          year = now;
          year_text = YearText(year);
        }
        if (uint32_t failed = FailedFieldTests(stamp, year_text); failed) {
          at.doing = "writing to the results";
          for (size_t i = 1; i < kAllStampTests.size(); ++i) {
            if (failed & (1u << i)) {
              host.AddResult(FindingLine(
                  n, stamp, FindingSuffix(kAllStampTests[i], previous_stamp)));
            }
          }
        }
        previous_stamp.swap(stamp);
        previous.swap(current);
      }

      at.doing = "processing window events";
      host.PumpEvents();
      if (host.StopRequested()) {
        at.phase = Position::Phase::kAfter;
        return finish(Outcome::kStopped);
      }
    }

    at.phase = Position::Phase::kAfter;
    at.doing = "showing the progress";
    host.ShowProgress(std::to_string(total) + total_text);
    at.doing = "writing the summary";
    if (host.ResultsLength() > ResultsLog::kCap) {
      host.AddResultAlways(">>> Output Truncated <<<");
    }
    AddCountLine(host, deleted, " Deleted records");
    AddCountLine(host, null, " Null records");
    AddCountLine(host, duplicate, " Duplicate records");
    AddCountLine(host, corrupted, " Corrupted records");
    host.AddResultAlways("");
    host.AddResultAlways("*** Processing Complete ***");

    return finish(Outcome::kCompleted);
  } catch (...) {
    std::string message =
        FailureText(path, at, Reason(std::current_exception()));
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
    return Outcome::kFailed;
  }
}

}  // namespace kxcheck
