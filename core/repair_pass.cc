// The repair pass through the table and host interfaces, and the parts of
// the pass that are the same for every table and host.
#include "core/repair_pass.h"

#include <string>
#include <vector>

namespace kxcheck {

namespace repair_pass_internal {

std::string SevereLine(int64_t n) {
  return "Rec: " + std::to_string(n) +
         " - Encountered a Severe error - skipping!";
}

}  // namespace repair_pass_internal

Outcome RepairTable(const std::string& path, Host& host, TableFactory& tables,
                    const RepairOptions& options, StepObserver* observer) {
  return RunRepairPass<true>(
      path, host, [&tables] { return tables.Create(); }, options, observer);
}

}  // namespace kxcheck
