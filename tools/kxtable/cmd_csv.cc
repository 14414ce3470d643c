#include "tools/kxtable/commands.h"

namespace kxtable {

void AddCsvCommands(CLI::App&, Runner&) {}

}  // namespace kxtable
