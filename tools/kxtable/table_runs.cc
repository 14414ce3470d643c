#include "tools/kxtable/table_runs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "adapter/engine_operations.h"

namespace kxtable {

namespace {

using kxcheck::Outcome;

void Message(std::FILE* err, const std::string& table,
             const std::string& text) {
  std::fputs((ErrorLine(table, text) + "\n").c_str(), err);
}

// Says on standard error why an operation that warned nobody ended early.
void ExplainEnd(const TableReport& report, std::FILE* err) {
  const bool repair = report.operation == Operation::kRepair;
  switch (report.outcome) {
    case Outcome::kNothing:
      Message(err, "", "a table path is empty");
      break;
    case Outcome::kStopped:
      Message(err, report.table,
              repair ? "repair stopped before the last record; the "
                       "unfinished output was removed"
                     : "check stopped before the last record");
      break;
    default:
      break;
  }
}

// Runs `operation` (a call of CheckEngineTable or RepairEngineTable) on one
// table through a host of its own; the report's outcome says how it ended.
// The operation is compiled into this function, beside the host it uses, as
// it was when each command ran its own operation: called out of line from
// here, the check took about a tenth longer (bench/check_bench).
template <class OperationCall>
[[gnu::flatten]] void RunOne(const ConsoleOptions& options, TableReport& report,
                             OperationCall&& operation) {
  ConsoleHost host(options);
  report.outcome = operation(report.table, host);
  try {
    host.Finish();
  } catch (const std::exception& e) {
    report.output_failed = true;
    Message(options.err, report.table, e.what());
  }
}

bool Write(std::FILE* out, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

}  // namespace

void AddRunOptions(CLI::App& command, RunArgs& args) {
  command.add_option("tables", args.tables, "The tables' main files (.kxt)")
      ->required();
  command.add_flag("--crlf", args.crlf,
                   "End the report's lines with CR LF: the results box's "
                   "text byte for byte");
  command.add_flag("--full", args.full,
                   "Write every finding line: no 65,000-character cap and no "
                   "truncation notice");
  command.add_flag("--json", args.json,
                   "Write one JSON document instead of the report (an array "
                   "of them for several tables); texts from tables and file "
                   "names have bytes that are not valid UTF-8, and control "
                   "characters, written as \\xHH, as export does");
  command.add_flag("--summary", args.summary,
                   "Write one line per table instead of the report, then a "
                   "total line");
  command.add_flag("--no-progress", args.no_progress,
                   "Never draw the progress bar");
  command.get_option("--json")->excludes("--summary");
}

int RunOnTables(Operation operation, const RunArgs& args,
                const ConsoleOptions& base) {
  const bool many = args.tables.size() > 1;
  const bool text = !args.json && !args.summary;
  const std::string eol = args.crlf ? "\r\n" : "\n";
  bool written = true;
  int worst = 0;
  std::vector<TableReport> reports;
  reports.reserve(args.tables.size());
  for (const std::string& table : args.tables) {
    TableReport& report = reports.emplace_back();
    report.operation = operation;
    report.table = table;
    report.keep_details = args.json;

    ConsoleOptions options = base;
    options.table = table;
    options.crlf = args.crlf;
    options.full = args.full;
    options.write_log = text;
    options.progress = !args.no_progress;
    options.report = &report;
    if (text && many) {
      // Each report is preceded by its table, as head(1) does it.
      written &=
          Write(options.out, (&table == &args.tables.front() ? "" : eol) +
                                 "==> " + table + " <==" + eol);
    }
    if (operation == Operation::kCheck) {
      RunOne(options, report, [](const std::string& path, ConsoleHost& host) {
        return adapter::CheckEngineTable(path, host);
      });
    } else {
      RunOne(options, report, [](const std::string& path, ConsoleHost& host) {
        return adapter::RepairEngineTable(path, host);
      });
    }
    ExplainEnd(report, options.err);
    worst = std::max(worst, ExitStatus(report));
    if (report.outcome == Outcome::kStopped) break;  // the user asked
  }

  std::string out;
  if (args.json) {
    out = (many ? ReportsJson(reports) : ReportJson(reports.front())) + "\n";
  } else if (args.summary) {
    for (const TableReport& report : reports) out += SummaryLine(report) + "\n";
    out += TotalLine(reports) + "\n";
  }
  written &= Write(base.out, out);
  if (std::fflush(base.out) != 0 || std::ferror(base.out) || !written) {
    Message(base.err, "",
            std::string("cannot write to standard output: ") +
                std::strerror(errno));
    worst = std::max(worst, operation == Operation::kCheck ? 2 : 1);
  }
  return worst;
}

}  // namespace kxtable
