#include "tools/kxtable/commands.h"

namespace kxtable {

void AddDumpLoadCommands(CLI::App&, Runner&) {}

}  // namespace kxtable
