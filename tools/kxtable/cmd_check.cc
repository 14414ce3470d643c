// kxtable check T.kxt: the Check scan through the console host. The report
// goes to standard output exactly as the results box would hold it; warnings
// and the progress bar go to standard error.
#include <cstdio>
#include <memory>
#include <string>

#include "core/operations.h"
#include "platform/engine_operations.h"
#include "tools/kxtable/commands.h"
#include "tools/kxtable/console_host.h"

namespace kxtable {

namespace {

struct CheckArgs {
  std::string path;
  bool no_progress = false;
};

int RunCheck(const CheckArgs& args) {
  ConsoleOptions options;
  options.progress = !args.no_progress;
  ConsoleHost host(options);
  kxcheck::Outcome outcome = platform::CheckEngineTable(args.path, host);
  try {
    host.Finish();
  } catch (...) {
    // A failed write during the scan has been reported already.
    if (outcome == kxcheck::Outcome::kCompleted) throw;
  }
  if (outcome == kxcheck::Outcome::kStopped) {
    std::fputs("Check stopped before the last record.\n", stderr);
  }
  return outcome == kxcheck::Outcome::kCompleted && !host.TableProblemsShown()
             ? 0
             : 1;
}

}  // namespace

void AddCheckCommand(CLI::App& app, Runner& run) {
  auto args = std::make_shared<CheckArgs>();
  CLI::App* check = app.add_subcommand(
      "check",
      "Check every record's date and time stamp; the report goes to standard "
      "output (exit 0 when the check ran to its end)");
  check->add_option("table", args->path, "The table's main file (.kxt)")
      ->required();
  check->add_flag("--no-progress", args->no_progress,
                  "Never draw the progress bar");
  check->callback([&run, args] { run = [args] { return RunCheck(*args); }; });
}

}  // namespace kxtable
