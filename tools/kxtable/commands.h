// The subcommands of kxtable. Each Add* function registers one or more
// subcommands; when the user picks one, its callback stores in `run` the work
// to do, which main() runs after parsing. The work returns the exit code
// (0 success, 1 failure) and may throw std::exception for a failure, which
// main() reports as one line on standard error with exit code 1.
#ifndef KXCHECK_TOOLS_KXTABLE_COMMANDS_H_
#define KXCHECK_TOOLS_KXTABLE_COMMANDS_H_

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

namespace kxtable {

using Runner = std::function<int()>;

void AddInfoCommand(CLI::App& app, Runner& run);
void AddDumpLoadCommands(CLI::App& app, Runner& run);
void AddCsvCommands(CLI::App& app, Runner& run);
void AddSampleCommand(CLI::App& app, Runner& run);
void AddCheckCommand(CLI::App& app, Runner& run);
void AddRepairCommand(CLI::App& app, Runner& run);

// Writes the engine's problems with a table's files to standard error, one
// line each, and gives the exit code they call for: 1 when there are any,
// otherwise 0.
int ReportTableProblems(const std::vector<std::string>& problems);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_COMMANDS_H_
