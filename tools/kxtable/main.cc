#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>

#include "tools/kxtable/app.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/standard_streams.h"

namespace {

std::string CommandNames(const CLI::App& app) {
  std::string names;
  for (const CLI::App* command : kxtable::Commands(app)) {
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
  kxtable::PrintError("", "unknown command '" + name +
                              "' (commands: " + CommandNames(app) + ")");
  return kxtable::kExitCannotWork;
}

// "kxtable" and the subcommand the parser had reached.
std::string CommandLine(CLI::App& app) {
  std::string line = app.get_name();
  for (const CLI::App* command : app.get_subcommands()) {
    line += " " + command->get_name();
  }
  return line;
}

// Help, the version and the command's work, with the exit status.
int Run(CLI::App& app, const kxtable::Runner& run, int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "help") {
    if (argc > 3) {
      kxtable::PrintError("", "help takes at most one command");
      return kxtable::kExitCannotWork;
    }
    const CLI::App* about = &app;
    if (argc == 3) {
      about = FindCommand(app, argv[2]);
      if (about == nullptr) return UnknownCommand(app, argv[2]);
    }
    std::fputs(about->help(about == &app ? "" : app.get_name()).c_str(),
               stdout);
    return kxtable::kExitSuccess;
  }
  if (argc == 1) {
    kxtable::PrintError(
        "", "a command is required (commands: " + CommandNames(app) + ")");
    return kxtable::kExitCannotWork;
  }
  if (!first.empty() && first[0] != '-' && FindCommand(app, first) == nullptr) {
    return UnknownCommand(app, first);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    // --help and --version, through kxtable's own standard output.
    std::ostringstream out;
    std::ostringstream err;
    const int code = app.exit(e, out, err);
    std::fputs(out.str().c_str(), stdout);
    std::fputs(err.str().c_str(), stderr);
    return code;
  } catch (const CLI::ParseError& e) {
    kxtable::PrintError(
        "", std::string(e.what()) + " (see '" + CommandLine(app) + " --help')");
    return kxtable::kExitCannotWork;
  }
  if (!run) return kxtable::kExitCannotWork;
  return kxtable::RunCommand(run);
}

}  // namespace

int main(int argc, char** argv) {
  kxtable::UsePatientStandardStreams();
  CLI::App app;
  kxtable::Runner run;
  kxtable::BuildApp(app, run, KX_VERSION);
  int code = Run(app, run, argc, argv);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    kxtable::ReportOutputFailure();
    code = std::max(code, kxtable::kExitCannotWork);
  }
  return code;
}
