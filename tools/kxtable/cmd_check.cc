#include "tools/kxtable/commands.h"

namespace kxtable {

void AddCheckCommand(CLI::App&, Runner&) {}

}  // namespace kxtable
