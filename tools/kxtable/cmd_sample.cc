#include "tools/kxtable/commands.h"

namespace kxtable {

void AddSampleCommand(CLI::App&, Runner&) {}

}  // namespace kxtable
