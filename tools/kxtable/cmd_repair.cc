#include "tools/kxtable/commands.h"

namespace kxtable {

void AddRepairCommand(CLI::App&, Runner&) {}

}  // namespace kxtable
