#include <cstdio>
#include <exception>

#include "tools/kxtable/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"kxtable: make, inspect, convert, check and repair Kalvex tables"};
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
  try {
    return run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kxtable: %s\n", e.what());
    return 1;
  }
}
