#include "tools/kxtable/commands.h"

namespace kxtable {

void AddInfoCommand(CLI::App&, Runner&) {}

}  // namespace kxtable
