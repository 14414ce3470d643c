// kxtable's command line: every command with its options, its help text and
// the work it stores in `run` when the user picks it. main() parses with it,
// and the manual pages are made from it.
#ifndef KXCHECK_TOOLS_KXTABLE_APP_H_
#define KXCHECK_TOOLS_KXTABLE_APP_H_

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/kxtable/commands.h"

namespace kxtable {

// The exit status contract, as --help, the manual and the README state it.
extern const char kExitStatusText[];

// Sets up `app` as kxtable, version `version`, with all its commands.
void BuildApp(CLI::App& app, Runner& run, const std::string& version);

// The commands of `app`, in the order they were added.
std::vector<const CLI::App*> Commands(const CLI::App& app);

// Runs the work the command line asked for and reports a failure that ends
// it as one line on standard error; returns the exit status.
int RunCommand(const Runner& run);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_APP_H_
