// kxtable repair T.kxt: the Repair pass through the console host. It writes
// T_REPAIRED.kxt and its companions beside the table; the report goes to
// standard output exactly as the results box would hold it, warnings and the
// progress bar to standard error.
#include <cstdio>
#include <memory>
#include <string>

#include "core/operations.h"
#include "platform/engine_operations.h"
#include "tools/kxtable/commands.h"
#include "tools/kxtable/console_host.h"

namespace kxtable {

namespace {

struct RepairArgs {
  std::string path;
  bool keep_deleted = false;
  bool keep_duplicates = false;
  bool skip_corrupted = false;
  bool replace = false;
  bool no_progress = false;
};

int RunRepair(const RepairArgs& args) {
  ConsoleOptions options;
  // The window starts with deleted and duplicate records skipped and
  // corrupted ones kept.
  options.skip_deleted = !args.keep_deleted;
  options.skip_duplicates = !args.keep_duplicates;
  options.skip_corrupted = args.skip_corrupted;
  options.answer_yes = args.replace;
  options.progress = !args.no_progress;
  ConsoleHost host(options);
  kxcheck::Outcome outcome = platform::RepairEngineTable(args.path, host);
  try {
    host.Finish();
  } catch (...) {
    // A failed write during the pass has been reported already.
    if (outcome == kxcheck::Outcome::kCompleted) throw;
  }
  switch (outcome) {
    case kxcheck::Outcome::kStopped:
      std::fputs(
          "Repair stopped before the last record; the unfinished output was "
          "removed.\n",
          stderr);
      break;
    case kxcheck::Outcome::kDeclined:
      std::fputs("Nothing written: the output exists (use --replace).\n",
                 stderr);
      break;
    case kxcheck::Outcome::kNothing:
      std::fputs("No table named.\n", stderr);
      break;
    default:
      break;
  }
  return outcome == kxcheck::Outcome::kCompleted && !host.TableProblemsShown()
             ? 0
             : 1;
}

}  // namespace

void AddRepairCommand(CLI::App& app, Runner& run) {
  auto args = std::make_shared<RepairArgs>();
  CLI::App* repair = app.add_subcommand(
      "repair",
      "Write a repaired copy T_REPAIRED.kxt beside the table; the report goes "
      "to standard output (exit 0 when the pass ran to its end without a "
      "failure)");
  repair->add_option("table", args->path, "The table's main file (.kxt)")
      ->required();
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
  repair->add_flag("--no-progress", args->no_progress,
                   "Never draw the progress bar");
  repair->callback([&run, args] { run = [args] { return RunRepair(*args); }; });
}

}  // namespace kxtable
