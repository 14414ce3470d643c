// The subcommands of kxtable. Each Add* function registers one or more
// subcommands; when the user picks one, its callback stores in `run` the work
// to do, which main() runs after parsing. The work returns the exit status
// (errors.h) and may throw for a failure, which RunCommand (app.h) reports
// as one line on standard error: a CommandError with its own status (a
// CannotWork with 2), any other std::exception with 1.
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
void AddReportCommand(CLI::App& app, Runner& run);

// Writes the engine's problems with a table's files to standard error, one
// line each, and gives the exit status they call for: 1 when there are any,
// otherwise 0.
int ReportTableProblems(const std::vector<std::string>& problems);

// A line of a command's help that stands before its examples: what its exit
// statuses 0 and 1 mean for it. The contract itself is in 'kxtable --help'.
std::string StatusNote(const std::string& success, const std::string& found);

// Refuses a table path that does not end in .kxt.
CLI::Validator TablePath();

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_COMMANDS_H_
