// The two operations, check scan and repair pass, through the table and host
// interfaces. Callers that know their concrete table and host classes can run
// the same operations compiled for them (RunCheckScan in check_scan.h,
// RunRepairPass in repair_pass.h).
#ifndef KXCHECK_CORE_OPERATIONS_H_
#define KXCHECK_CORE_OPERATIONS_H_

#include <string>

#include "core/host.h"
#include "core/step.h"
#include "core/table.h"

namespace kxcheck {

enum class Outcome {
  kNothing,    // empty path: nothing happened
  kNotFound,   // the path does not exist; the user was warned
  kDeclined,   // repair: the user would not replace an existing output
  kCompleted,  // ran to its end and wrote its summary
  kFailed,     // stopped by a failure; the user was warned
  kStopped,    // stopped because the host asked it to
};

// Reads every record of the table and reports damaged stamps in the log.
// `observer` hears of every step (tests); null otherwise.
Outcome CheckTable(const std::string& path, Host& host, TableFactory& tables,
                   StepObserver* observer = nullptr);

// Writes a repaired copy of the table beside it, its base path ending in
// "_REPAIRED".
Outcome RepairTable(const std::string& path, Host& host, TableFactory& tables,
                    StepObserver* observer = nullptr);

}  // namespace kxcheck

#endif  // KXCHECK_CORE_OPERATIONS_H_
