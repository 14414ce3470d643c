// kxtable check and kxtable repair on one table or many: the options they
// share (which tables, how the report is written, how many at once) and the
// run over every table named.
#ifndef KXCHECK_TOOLS_KXTABLE_TABLE_RUNS_H_
#define KXCHECK_TOOLS_KXTABLE_TABLE_RUNS_H_

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/kxtable/console_host.h"
#include "tools/kxtable/table_report.h"

namespace kxtable {

struct RunArgs {
  std::vector<std::string> tables;  // tables and folders, as given
  bool recursive = false;
  bool crlf = false;
  bool full = false;
  bool json = false;
  bool summary = false;
  std::string format = "text";  // of the summary: "text" or "tsv"
  bool quiet = false;
  bool no_progress = false;
  int jobs = 1;
};

// Adds the tables argument and --recursive, --crlf, --full, --json,
// --summary, --format, --quiet, --no-progress and --jobs to the subcommand.
void AddRunOptions(CLI::App& command, RunArgs& args);

// Runs the operation on every table named with the console host set up from
// `base` and the arguments, writes the reports as asked, in the order of the
// tables, and returns the worst exit status of the tables.
//
// With jobs > 1 that many tables run at once, each on a thread of its own
// whose report and messages go to unnamed temporary files; each table's are
// copied out as soon as it and every table before it are done, so the output
// is the same as with one job and no report is held in memory.
int RunOnTables(Operation operation, const RunArgs& args,
                const ConsoleOptions& base);

// Runs the operation on the one table of `report` through a console host
// set up with `options`, unless the table is not there, which is said in the
// system's words; the report says how it ended (ExitStatus gives the
// status). The operation is the one `kxtable check` and `kxtable repair`
// run, compiled for the console host.
void RunTable(Operation operation, const ConsoleOptions& options,
              TableReport& report);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_TABLE_RUNS_H_
