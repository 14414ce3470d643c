// kxtable check and kxtable repair on one table or many: the options they
// share (how the report is written) and the run over every table named.
#ifndef KXCHECK_TOOLS_KXTABLE_TABLE_RUNS_H_
#define KXCHECK_TOOLS_KXTABLE_TABLE_RUNS_H_

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/kxtable/console_host.h"
#include "tools/kxtable/table_report.h"

namespace kxtable {

struct RunArgs {
  std::vector<std::string> tables;
  bool crlf = false;
  bool full = false;
  bool json = false;
  bool summary = false;
  bool no_progress = false;
};

// Adds the tables argument and --crlf, --full, --json, --summary and
// --no-progress to the subcommand.
void AddRunOptions(CLI::App& command, RunArgs& args);

// Runs the operation on every table in turn with the console host set up
// from `base` and the arguments, writes the reports as asked, and returns
// the worst exit status of the tables.
int RunOnTables(Operation operation, const RunArgs& args,
                const ConsoleOptions& base);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_TABLE_RUNS_H_
