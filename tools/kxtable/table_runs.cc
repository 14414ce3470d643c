#include "tools/kxtable/table_runs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "adapter/engine_operations.h"
#include "engine/record_table.h"
#include "tools/kxtable/csv_codec.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/standard_streams.h"
#include "tools/kxtable/table_list.h"

namespace kxtable {

namespace {

using kxcheck::Outcome;

// Says on `err` why an operation that warned nobody ended early.
void ExplainEnd(const TableReport& report, std::FILE* err) {
  const bool repair = report.operation == Operation::kRepair;
  switch (report.outcome) {
    case Outcome::kNothing:
      PrintError(err, "", "a table path is empty");
      break;
    case Outcome::kStopped:
      PrintError(err, report.table,
                 repair ? "repair stopped before the last record; the "
                          "unfinished output was removed"
                        : "check stopped before the last record");
      break;
    default:
      break;
  }
}

// Runs `operation` (a call of CheckEngineTable or RepairEngineTable) on one
// table through `host`; the report's outcome says how it ended.
// The operation is compiled into this function, beside the host it uses, as
// it was when each command ran its own operation: called out of line from
// here, the check took about a tenth longer (bench/check_bench).
template <class OperationCall>
[[gnu::flatten]] void RunOne(ConsoleHost& host, TableReport& report,
                             OperationCall&& operation) {
  report.outcome = operation(report.table, host);
}

// Whether the engine opens the table at all (problems with its companion
// files aside).
bool Opens(const std::string& table) {
  try {
    kalvex::RecordTable probe;
    probe.Open(table);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

// Runs the operation on the table of `report`, unless the table is not
// there, which is said in the system's words; then ends the report.
void RunTable(Operation operation, const ConsoleOptions& options,
              TableReport& report) {
  ConsoleHost host(options);
  struct stat st;
  if (!report.table.empty() && ::stat(report.table.c_str(), &st) != 0) {
    const std::string reason = std::strerror(errno);
    report.outcome = Outcome::kNotFound;
    report.warnings.push_back(reason);
    PrintError(options.err, report.table, reason);
  } else if (operation == Operation::kCheck) {
    kxos::Env* env = options.env;
    RunOne(host, report, [env](const std::string& path, ConsoleHost& host) {
      return adapter::CheckEngineTable(path, host, env);
    });
  } else {
    kxos::Env* env = options.env;
    report.source_unreadable = !Opens(report.table);
    RunOne(host, report,
           [&options, env](const std::string& path, ConsoleHost& host) {
             return adapter::RepairEngineTable(path, host, options.repair, env);
           });
    if (report.outcome == Outcome::kCompleted) host.TellRuleNotes();
    // A failed repair left its output in place (with a warning) only when
    // it reached its summary and did not remove the output; an earlier
    // output that is still there is not this run's.
    report.output_left = report.outcome == Outcome::kFailed &&
                         report.has_totals && !report.totals.output_removed;
  }
  host.EndReport();
  try {
    host.Finish();
  } catch (const std::exception& e) {
    report.output_failed = true;
    if (options.out == stdout) {
      ReportOutputFailure();
    } else {
      PrintError(options.err, report.table, e.what());
    }
  }
  if (!report.output_failed) ExplainEnd(report, options.err);
}

namespace {

// Writes what goes to standard output around the tables' own reports: the
// head line of each text report, the summary lines or rows. (A table's JSON
// line is its own report.)
class ReportWriter {
 public:
  ReportWriter(Operation operation, const RunArgs& args, std::FILE* out,
               bool many)
      : operation_(operation),
        out_(out),
        text_(!args.json && !args.summary && !args.quiet),
        summary_(args.summary && !args.quiet),
        tsv_(args.format == "tsv"),
        many_(many),
        eol_(args.crlf ? "\r\n" : "\n") {}

  // Before the first table.
  void Begin() {
    if (summary_ && tsv_) Write(SummaryHeaderTsv(operation_) + "\n");
  }
  // Before a table's own report; each is preceded by its table, as head(1)
  // does it.
  void BeforeTable(const std::string& table) {
    if (!text_ || !many_) return;
    Write((first_ ? "" : eol_) + "==> " + EscapeLine(table) + " <==" + eol_);
    first_ = false;
  }
  // After a table's own report. What there is goes out at once, so that a
  // reader sees each table as it is done.
  void AfterTable(const TableReport& report) {
    if (summary_) {
      Write((tsv_ ? SummaryRowTsv(report) : SummaryLine(report)) + "\n");
    }
    if (std::fflush(out_) != 0) failed_ = true;
  }
  // After the last table.
  void End(const std::vector<TableReport>& reports) {
    if (summary_ && !tsv_) Write(TotalLine(reports) + "\n");
    if (std::fflush(out_) != 0) failed_ = true;
  }
  bool Failed() const { return failed_ || std::ferror(out_); }

 private:
  void Write(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size()) {
      failed_ = true;
    }
  }

  Operation operation_;
  std::FILE* out_;
  bool text_;
  bool summary_;
  bool tsv_;
  bool many_;
  std::string eol_;
  bool first_ = true;
  bool failed_ = false;
};

ConsoleOptions OptionsFor(const ConsoleOptions& base, const RunArgs& args,
                          TableReport& report) {
  ConsoleOptions options = base;
  options.table = report.table;
  options.crlf = args.crlf;
  options.full = args.full;
  options.write_log = !args.json && !args.summary && !args.quiet;
  options.json = args.json && !args.quiet;
  options.progress = !args.no_progress && !args.quiet;
  options.quiet = args.quiet;
  options.report = &report;
  return options;
}

// Whether no table after this one should run: the user asked to stop, or
// nobody takes the output.
bool Halts(const TableReport& report, bool output_failed) {
  return report.outcome == Outcome::kStopped || report.output_failed ||
         output_failed;
}

using FilePtr = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

// One table of a run with several jobs: its report and the files its
// report and messages wait in until it is their turn.
struct Slot {
  FilePtr out{nullptr, &std::fclose};
  FilePtr err{nullptr, &std::fclose};
  bool done = false;
};

int RunInParallel(Operation operation, const RunArgs& args,
                  const ConsoleOptions& base, std::vector<TableReport>& reports,
                  ReportWriter& writer) {
  // The handlers stay in place from the first table to the last, so that a
  // signal stops every table running.
  StopOnSignals stop_on_signals;
  const size_t count = reports.size();
  // Tables finished ahead of the one being copied out wait in temporary
  // files; this many at most, so that a long table early on does not leave
  // thousands of files open.
  const size_t ahead = 4 * static_cast<size_t>(args.jobs);
  std::vector<Slot> slots(count);
  std::mutex mutex;
  std::condition_variable changed;
  size_t next = 0;
  size_t copied = 0;
  bool halt = false;

  auto work = [&] {
    for (;;) {
      size_t i;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] {
          return halt || next >= count || next < copied + ahead;
        });
        if (halt || next >= count) return;
        i = next++;
      }
      Slot& slot = slots[i];
      TableReport& report = reports[i];
      slot.out.reset(std::tmpfile());
      slot.err.reset(std::tmpfile());
      if (!slot.out || !slot.err) {
        report.output_failed = true;
        report.warnings.push_back(
            std::string("cannot make a temporary file for the report: ") +
            std::strerror(errno));
      } else {
        ConsoleOptions options = OptionsFor(base, args, report);
        options.out = slot.out.get();
        options.err = slot.err.get();
        options.out_name = "a temporary file";
        options.progress = false;
        try {
          RunTable(operation, options, report);
        } catch (const std::exception& e) {
          report.output_failed = true;
          report.warnings.push_back(e.what());
        }
      }
      std::lock_guard lock(mutex);
      slot.done = true;
      changed.notify_all();
    }
  };
  std::vector<std::thread> workers;
  const size_t threads = std::min(count, static_cast<size_t>(args.jobs));
  for (size_t t = 0; t < threads; ++t) workers.emplace_back(work);

  int worst = 0;
  size_t shown = 0;
  for (size_t i = 0; i < count; ++i) {
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return slots[i].done; });
    }
    Slot& slot = slots[i];
    TableReport& report = reports[i];
    writer.BeforeTable(report.table);
    bool output_failed = false;
    if (slot.out && slot.err) {
      output_failed = CopyStream(slot.out.get(), base.out) != 0;
      CopyStream(slot.err.get(), base.err);
    } else {
      PrintError(base.err, report.table, report.warnings.back());
    }
    slot.out.reset();
    slot.err.reset();
    writer.AfterTable(report);
    output_failed |= writer.Failed();
    worst = std::max(worst, ExitStatus(report));
    shown = i + 1;
    std::lock_guard lock(mutex);
    copied = i + 1;
    if (Halts(report, output_failed)) {
      // A check nobody reads need not go on; a repair running finishes its
      // table (or removes it) as it would have alone.
      if (output_failed && operation == Operation::kCheck) StopAllOperations();
      halt = true;
      if (output_failed) worst = 2;
    }
    changed.notify_all();
    if (halt) break;
  }
  for (std::thread& worker : workers) worker.join();
  reports.resize(shown);
  return worst;
}

}  // namespace

void AddRunOptions(CLI::App& command, RunArgs& args) {
  command
      .add_option("tables", args.tables,
                  "The tables' main files (.kxt), or folders of tables")
      ->required();
  command.add_flag("-r,--recursive", args.recursive,
                   "Take the tables in the folders' subfolders too");
  command.add_flag("--crlf", args.crlf,
                   "End the report's lines with CR LF: the results box's "
                   "text byte for byte");
  command.add_flag("--full", args.full,
                   "Write every finding line: no 65,000-character cap and no "
                   "truncation notice");
  command.add_flag("--json", args.json,
                   "Write one JSON object per table, each on one line (JSON "
                   "Lines, schema 1), instead of the report; texts from "
                   "tables and file names have bytes that are not valid "
                   "UTF-8, and control characters, written as \\xHH, as "
                   "export does");
  command.add_flag("--summary", args.summary,
                   "Write one line per table instead of the report, then a "
                   "total line");
  command
      .add_option("--format", args.format,
                  "How --summary writes: 'text', or 'tsv' for a header line "
                  "and one tab-separated row per table (no total)")
      ->check(CLI::IsMember({"text", "tsv"}))
      ->type_name("FORMAT")
      ->needs("--summary");
  command.add_flag("-q,--quiet", args.quiet,
                   "Write nothing but errors; the exit status tells the rest");
  command.add_flag("--no-progress", args.no_progress,
                   "Never draw the progress bar");
  command
      .add_option("-j,--jobs", args.jobs,
                  "Run N tables at once, on N cores (default 1); the reports "
                  "still come in the tables' order")
      ->check(CLI::Range(1, 1024))
      ->type_name("N");
  command.get_option("--json")->excludes("--summary");
}

int RunOnTables(Operation operation, const RunArgs& args,
                const ConsoleOptions& base) {
  const TableList list = ListTables(args.tables, args.recursive,
                                    operation == Operation::kRepair, base.err);
  if (list.left_out > 0 && !args.quiet) {
    PrintError(base.err, "",
               "left out " + std::to_string(list.left_out) +
                   (list.left_out == 1 ? " table that is the output"
                                       : " tables that are the outputs") +
                   " of an earlier repair (*_REPAIRED.kxt); name one alone "
                   "to repair it again");
  }
  std::vector<TableReport> reports(list.tables.size());
  for (size_t i = 0; i < reports.size(); ++i) {
    reports[i].operation = operation;
    reports[i].table = list.tables[i];
  }
  // Several tables named, or a folder: text reports come with head lines,
  // however many tables are left to run.
  const bool many =
      args.tables.size() > 1 || list.tables.size() > 1 || list.from_folder;
  ReportWriter writer(operation, args, base.out, many);
  writer.Begin();

  int worst = list.status;
  if (args.jobs > 1 && reports.size() > 1) {
    worst =
        std::max(worst, RunInParallel(operation, args, base, reports, writer));
  } else {
    for (size_t i = 0; i < reports.size(); ++i) {
      TableReport& report = reports[i];
      ConsoleOptions options = OptionsFor(base, args, report);
      options.stop_when_unwritable = operation == Operation::kCheck;
      writer.BeforeTable(report.table);
      RunTable(operation, options, report);
      writer.AfterTable(report);
      worst = std::max(worst, ExitStatus(report));
      if (Halts(report, writer.Failed())) {
        reports.resize(i + 1);
        break;
      }
    }
  }
  writer.End(reports);
  if (writer.Failed()) {
    ReportOutputFailure();
    worst = 2;
  }
  return worst;
}

}  // namespace kxtable
