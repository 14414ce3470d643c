#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "tools/kxtable/commands.h"
#include "tools/kxtable/help_format.h"

namespace {

std::string CommandNames(const CLI::App& app) {
  std::string names;
  for (const CLI::App* command :
       app.get_subcommands(std::function<bool(const CLI::App*)>())) {
    if (!names.empty()) names += ", ";
    names += command->get_name();
  }
  return names;
}

const CLI::App* FindCommand(const CLI::App& app, const std::string& name) {
  try {
    return app.get_subcommand(name);
  } catch (const CLI::OptionNotFound&) {
    return nullptr;
  }
}

int UnknownCommand(const CLI::App& app, const std::string& name) {
  std::fprintf(stderr, "kxtable: unknown command '%s' (commands: %s)\n",
               name.c_str(), CommandNames(app).c_str());
  return 2;
}

// "kxtable" and the subcommand the parser had reached.
std::string CommandLine(CLI::App& app) {
  std::string line = app.get_name();
  for (const CLI::App* command : app.get_subcommands()) {
    line += " " + command->get_name();
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed standard output is an error to report, not a reason to die:
  // a repair still writes or removes its table as a whole.
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{"Make, inspect, convert, check and repair Kalvex tables.",
               "kxtable"};
  app.formatter(std::make_shared<kxtable::HelpFormatter>());
  app.set_version_flag("--version", std::string("kxtable ") + KX_VERSION);
  app.require_subcommand(1);
  app.footer(
      "'kxtable help COMMAND' or 'kxtable COMMAND --help' shows a command's "
      "options, exit status and examples.");
  kxtable::Runner run;
  kxtable::AddInfoCommand(app, run);
  kxtable::AddDumpLoadCommands(app, run);
  kxtable::AddCsvCommands(app, run);
  kxtable::AddSampleCommand(app, run);
  kxtable::AddCheckCommand(app, run);
  kxtable::AddRepairCommand(app, run);

  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "help") {
    if (argc > 3) {
      std::fputs("kxtable: help takes at most one command\n", stderr);
      return 2;
    }
    const CLI::App* about = &app;
    if (argc == 3) {
      about = FindCommand(app, argv[2]);
      if (about == nullptr) return UnknownCommand(app, argv[2]);
    }
    std::fputs(about->help(about == &app ? "" : app.get_name()).c_str(),
               stdout);
    return 0;
  }
  if (argc == 1) {
    std::fprintf(stderr, "kxtable: a command is required (commands: %s)\n",
                 CommandNames(app).c_str());
    return 2;
  }
  if (!first.empty() && first[0] != '-' && FindCommand(app, first) == nullptr) {
    return UnknownCommand(app, first);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "kxtable: %s (see '%s --help')\n", e.what(),
                 CommandLine(app).c_str());
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
    return std::max(code, 1);
  }
  return code;
}
