// File services and the clock, as the operations' hosts offer them. The file
// services make their calls through `env`, the machine's unless a test hands
// in another.
#ifndef KXCHECK_PLATFORM_SYSTEM_H_
#define KXCHECK_PLATFORM_SYSTEM_H_

#include <memory>
#include <string>

#include "core/host.h"
#include "os/env.h"
#include "platform/year_clock.h"

namespace platform {

// A staged table (engine/staged_table.h) for `target` whose definition is a
// copy of `definition`, through the host's Files role. Publish replaces the
// table at the target. Throws std::runtime_error naming the file and the
// reason.
std::unique_ptr<kxcheck::Files::StagedTable> StageTable(
    const std::string& definition, const std::string& target,
    kxos::Env* env = kxos::Env::Default());
// Refuses (std::runtime_error) an output `target` whose names lead to
// something no table can replace (a folder, a FIFO, a device).
void CheckOutputNames(const std::string& target,
                      kxos::Env* env = kxos::Env::Default());
// Takes the lock file `lock_path` for this process alone (created when
// missing, a link in its place removed, never followed; a name too long for
// its folder is shortened to one made from its hash). The lock file goes
// when the lock is destroyed, if the name still leads to it. Throws
// std::runtime_error when another process holds it.
std::unique_ptr<kxcheck::Files::OutputLock> LockOutput(
    const std::string& lock_path, kxos::Env* env = kxos::Env::Default());
// The present year from the system clock (local time).
int CurrentYear();

// A host with the results log, the files and the clock of this machine;
// console and window hosts add the user.
class SystemHost : public kxcheck::LogHost {
 public:
  explicit SystemHost(kxos::Env* env = kxos::Env::Default()) : env_(env) {}

  bool FileExists(const std::string& path) override;
  std::unique_ptr<StagedTable> StageTable(const std::string& definition,
                                          const std::string& target) override;
  std::unique_ptr<OutputLock> LockOutput(const std::string& lock_path) override;
  int CurrentYear() override { return year_clock_.Year(); }

 protected:
  kxos::Env* env() const { return env_; }

 private:
  kxos::Env* env_;
  YearClock year_clock_;
};

}  // namespace platform

#endif  // KXCHECK_PLATFORM_SYSTEM_H_
