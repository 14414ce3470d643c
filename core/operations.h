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

// Which stamps a repair writes for records whose stamps are bad.
enum class RepairRule {
  // The stamp written before it (kFirstReplacementStamp for the first
  // record kept): the rule of the window's Repair.
  kCurrent,
  // Stamps restored from the kept stamps around them (StampRestorer,
  // stamp_restore.h), in one pass with a bounded look-ahead.
  kRestoring,
};

struct RepairOptions {
  RepairRule rule = RepairRule::kCurrent;
  // The user has already agreed to replace the output (the window's offer
  // to write it again with the restoring rule): an existing output is
  // replaced without asking.
  bool replace_agreed = false;
};

// Reads every record of the table and reports damaged stamps in the log.
// `observer` hears of every step (tests); null otherwise.
Outcome CheckTable(const std::string& path, Host& host, TableFactory& tables,
                   StepObserver* observer = nullptr);

// Writes a repaired copy of the table beside it, its base path ending in
// "_REPAIRED".
Outcome RepairTable(const std::string& path, Host& host, TableFactory& tables,
                    const RepairOptions& options = {},
                    StepObserver* observer = nullptr);

}  // namespace kxcheck

#endif  // KXCHECK_CORE_OPERATIONS_H_
