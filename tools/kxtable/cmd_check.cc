// kxtable check T.kxt...: the Check scan through the console host. The
// report goes to standard output as the results box would hold it (or as
// one JSON line per table, or as one summary line per table); warnings and
// the progress bar go to standard error.
#include <memory>

#include "tools/kxtable/commands.h"
#include "tools/kxtable/table_runs.h"

namespace kxtable {

void AddCheckCommand(CLI::App& app, Runner& run) {
  auto args = std::make_shared<RunArgs>();
  CLI::App* check = app.add_subcommand(
      "check",
      "Check every record's date and time stamp and write the report to "
      "standard output: the results box's text with LF line ends.");
  AddRunOptions(*check, *args);
  check->footer(
      StatusNote("every table is clean (deleted records alone are normal)",
                 "one has damage (a finding line, a null, duplicate or "
                 "corrupted record, or a problem in its files)") +
      "\n\nExamples:\n"
      "  kxtable check line4.kxt || echo 'line4 is damaged'\n"
      "  kxtable check -q line4.kxt; echo $?\n"
      "  kxtable check --summary --jobs 4 logs/\n"
      "  kxtable check --summary --format tsv -r logs/ > status.tsv\n"
      "  kxtable check --json logs/ | jq -c '.records[]'");
  check->callback([&run, args] {
    run = [args] { return RunOnTables(Operation::kCheck, *args, {}); };
  });
}

}  // namespace kxtable
