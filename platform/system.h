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

// Copies a regular file to a new file `to`, synced: a target that exists
// (a link included) is refused, and a failed copy leaves no target. Throws
// std::runtime_error naming both files and the reason.
void CopyFile(const std::string& from, const std::string& to,
              kxos::Env* env = kxos::Env::Default());
// Deletes a file, or a link as a link; nothing when there is nothing at the
// path. A directory, FIFO or device is refused. Throws std::runtime_error
// naming the file and the reason.
void DeleteFile(const std::string& path, kxos::Env* env = kxos::Env::Default());
// Whether the path is a symbolic link (its target need not exist).
bool IsLink(const std::string& path, kxos::Env* env = kxos::Env::Default());
// Takes the lock file `lock_path` for this process alone (created when
// missing, a link in its place removed); the lock file goes when the lock is
// destroyed. Throws std::runtime_error when another process holds it.
std::unique_ptr<kxcheck::Host::OutputLock> LockOutput(
    const std::string& lock_path, kxos::Env* env = kxos::Env::Default());
// The present year from the system clock (local time).
int CurrentYear();

// A host with the results log, the files and the clock of this machine;
// console and window hosts add the user.
class SystemHost : public kxcheck::LogHost {
 public:
  bool FileExists(const std::string& path) override;
  void CopyFile(const std::string& from, const std::string& to) override;
  void DeleteFile(const std::string& path) override;
  bool IsLink(const std::string& path) override;
  std::unique_ptr<OutputLock> LockOutput(const std::string& lock_path) override;
  int CurrentYear() override { return year_clock_.Year(); }

 private:
  YearClock year_clock_;
};

}  // namespace platform

#endif  // KXCHECK_PLATFORM_SYSTEM_H_
