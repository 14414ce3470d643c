// kxtable's manual pages, made from the same command line as its --help:
// kxtable(1) with the commands, the exit status, the files and examples, and
// one page kxtable-COMMAND(1) for each command with its options as well. The
// package builds them (kxtable_manual) so that they cannot drift from the
// program.
#ifndef KXCHECK_TOOLS_KXTABLE_MANUAL_H_
#define KXCHECK_TOOLS_KXTABLE_MANUAL_H_

#include <CLI/CLI.hpp>
#include <string>

namespace kxtable {

struct ManualFacts {
  std::string version;  // "0.1.0"
  std::string date;     // of the release, as the pages show it
};

// The page of `command`, one of app's subcommands, or of kxtable itself when
// `command` is null: roff source for man(1).
std::string ManualPage(const CLI::App& app, const CLI::App* command,
                       const ManualFacts& facts);

// "kxtable" or "kxtable-check": the page's name.
std::string ManualPageName(const CLI::App* command);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_MANUAL_H_
