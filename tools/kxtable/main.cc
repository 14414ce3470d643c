#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include "tools/kxtable/commands.h"

int main(int argc, char** argv) {
  // A closed standard output is an error to report, not a reason to die:
  // a repair still writes or removes its table as a whole.
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{
      "kxtable: make, inspect, convert, check and repair Kalvex tables"};
  app.set_version_flag("--version", "kxtable " KX_VERSION);
  app.require_subcommand(1);
  kxtable::Runner run;
  kxtable::AddInfoCommand(app, run);
  kxtable::AddDumpLoadCommands(app, run);
  kxtable::AddCsvCommands(app, run);
  kxtable::AddSampleCommand(app, run);
  kxtable::AddCheckCommand(app, run);
  kxtable::AddRepairCommand(app, run);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  if (!run) return 2;
  int code = 1;
  try {
    code = run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kxtable: %s\n", e.what());
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "kxtable: cannot write to standard output: %s\n",
                 std::strerror(errno));
    return 1;
  }
  return code;
}
