// kxtable repair T.kxt...: the Repair pass through the console host. It
// writes T_REPAIRED.kxt and its companions beside each table; the report goes
// to standard output as the results box would hold it (or as one JSON line
// per table, or as one summary line per table), warnings and the progress
// bar to standard error.
#include <memory>

#include "tools/kxtable/commands.h"
#include "tools/kxtable/table_runs.h"

namespace kxtable {

namespace {

struct RepairArgs {
  RunArgs run;
  bool keep_deleted = false;
  bool keep_duplicates = false;
  bool skip_corrupted = false;
  bool replace = false;
  bool restore = false;
};

int RunRepair(const RepairArgs& args) {
  ConsoleOptions options;
  // The window starts with deleted and duplicate records skipped and
  // corrupted ones kept.
  options.skip_deleted = !args.keep_deleted;
  options.skip_duplicates = !args.keep_duplicates;
  options.skip_corrupted = args.skip_corrupted;
  options.answer_yes = args.replace;
  if (args.restore) options.repair.rule = kxcheck::RepairRule::kRestoring;
  return RunOnTables(Operation::kRepair, args.run, options);
}

}  // namespace

void AddRepairCommand(CLI::App& app, Runner& run) {
  auto args = std::make_shared<RepairArgs>();
  CLI::App* repair = app.add_subcommand(
      "repair",
      "Write a repaired copy T_REPAIRED.kxt beside each table and the report "
      "to standard output: the results box's text with LF line ends.");
  AddRunOptions(*repair, args->run);
  repair->add_flag("--keep-deleted", args->keep_deleted,
                   "Write deleted records too (skipped by default)");
  repair->add_flag("--keep-duplicates", args->keep_duplicates,
                   "Write duplicate records too (skipped by default)");
  repair->add_flag("--skip-corrupted", args->skip_corrupted,
                   "Leave out records whose separators are damaged (kept and "
                   "repaired by default)");
  repair->add_flag("--replace", args->replace,
                   "Replace an existing output (without it, an existing "
                   "output is left alone)");
  repair->add_flag(
      "--restore", args->restore,
      "Restore bad stamps from the good ones around them instead of giving "
      "each the stamp written before it: every stamp that is a real time "
      "and fits the series is kept, the others get the value the series "
      "gives at their place; what was replaced and why goes to standard "
      "error (or the JSON)");
  repair->footer(
      "Tables named *_REPAIRED.kxt, the outputs of an earlier repair, are "
      "left out unless the command names one table alone.\n\n" +
      StatusNote("every output was written complete (damage repaired)",
                 "a source's files have problems, or an existing output "
                 "was not replaced") +
      "\n\nExamples:\n"
      "  kxtable repair line4.kxt --replace > repair.txt\n"
      "  kxtable repair --restore --json line4.kxt > restored.json\n"
      "  kxtable repair --summary --skip-corrupted --jobs 2 logs/\n"
      "  kxtable repair --json --replace line4.kxt | jq .records_written");
  repair->callback([&run, args] { run = [args] { return RunRepair(*args); }; });
}

}  // namespace kxtable
