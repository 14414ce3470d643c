#include "tools/kxtable/app.h"

#include <exception>
#include <functional>
#include <memory>
#include <new>

#include "engine/record_table.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/help_format.h"
#include "tools/kxtable/standard_streams.h"

namespace kxtable {

const char kExitStatusText[] =
    "Exit status, the same for every command: 0 success (for check, report "
    "and info: a clean table); 1 damage or problems found, or an output "
    "refused for a stated reason (it exists, it is the source); 2 the work "
    "could not be done (a missing or unreadable input, a wrong command line, "
    "a failed write). With several tables the status is the worst of them. "
    "A closed standard output ends a command quietly with status 2; a repair "
    "still writes or removes its table as a whole.";

CLI::Validator TablePath() {
  return CLI::Validator(
      [](std::string& path) {
        return HasKxtExtension(path) ? std::string()
                                     : "a table path must end in .kxt";
      },
      "TABLE.kxt");
}

std::string StatusNote(const std::string& success, const std::string& found) {
  return "Exit status: 0 when " + success + ", 1 when " + found +
         ", 2 when the work could not be done (see 'kxtable --help').";
}

void BuildApp(CLI::App& app, Runner& run, const std::string& version) {
  app.name("kxtable");
  app.description(
      "Make, inspect, convert, check and repair Kalvex tables, and map their "
      "damage.");
  app.formatter(std::make_shared<HelpFormatter>());
  app.set_version_flag("--version", "kxtable " + version);
  app.require_subcommand(1);
  app.footer(std::string(kExitStatusText) +
             "\n\n'kxtable help COMMAND' or 'kxtable COMMAND --help' shows a "
             "command's options and examples.");
  AddInfoCommand(app, run);
  AddDumpLoadCommands(app, run);
  AddCsvCommands(app, run);
  AddSampleCommand(app, run);
  AddCheckCommand(app, run);
  AddRepairCommand(app, run);
  AddReportCommand(app, run);
}

std::vector<const CLI::App*> Commands(const CLI::App& app) {
  return app.get_subcommands(std::function<bool(const CLI::App*)>());
}

int RunCommand(const Runner& run) {
  try {
    return run();
  } catch (const OutputFailed&) {
    ReportOutputFailure();
    return kExitCannotWork;
  } catch (const CommandError& e) {
    PrintError(e.path(), e.reason());
    return e.status();
  } catch (const kalvex::TableError& e) {
    // The engine names the file; it could not be read or written.
    PrintError("", e.what());
    return kExitCannotWork;
  } catch (const std::bad_alloc&) {
    PrintError("", "out of memory");
    return kExitCannotWork;
  } catch (const std::exception& e) {
    PrintError("", e.what());
    return kExitFound;
  }
}

}  // namespace kxtable
