// The check scan and the repair pass on Kalvex tables, compiled for the
// engine adapter and for the caller's own host class. Calls on a final class
// are bound at compile time, so the record loops run without a virtual call
// per operation; the operations themselves are the ones of core/.
#ifndef KXCHECK_ADAPTER_ENGINE_OPERATIONS_H_
#define KXCHECK_ADAPTER_ENGINE_OPERATIONS_H_

#include <memory>
#include <string>

#include "adapter/engine_table.h"
#include "core/check_scan.h"
#include "core/operations.h"
#include "core/repair_pass.h"
#include "os/env.h"

namespace adapter {

template <class HostType>
kxcheck::Outcome CheckEngineTable(const std::string& path, HostType& host,
                                  kxos::Env* env = kxos::Env::Default()) {
  return kxcheck::RunCheckScan(
      path, host, [env] { return std::make_unique<EngineTable>(env); });
}

template <class HostType>
kxcheck::Outcome RepairEngineTable(const std::string& path, HostType& host,
                                   const kxcheck::RepairOptions& options = {},
                                   kxos::Env* env = kxos::Env::Default()) {
  return kxcheck::RunRepairPass(
      path, host, [env] { return std::make_unique<EngineTable>(env); },
      options);
}

}  // namespace adapter

#endif  // KXCHECK_ADAPTER_ENGINE_OPERATIONS_H_
