// File services and the clock, as the operations' hosts offer them.
#ifndef KXCHECK_PLATFORM_SYSTEM_H_
#define KXCHECK_PLATFORM_SYSTEM_H_

#include <string>

#include "core/host.h"

namespace platform {

// Copies a file, replacing the target. Throws std::runtime_error naming both
// files and the reason.
void CopyFile(const std::string& from, const std::string& to);
// Deletes a file. Throws std::runtime_error naming the file and the reason.
void DeleteFile(const std::string& path);
// The present year from the system clock (local time).
int CurrentYear();

// A host with the results log, the file services and the clock of this
// machine; console and window hosts add the user-facing services.
class SystemHost : public kxcheck::LogHost {
 public:
  bool FileExists(const std::string& path) override;
  void CopyFile(const std::string& from, const std::string& to) override;
  void DeleteFile(const std::string& path) override;
  int CurrentYear() override;
};

}  // namespace platform

#endif  // KXCHECK_PLATFORM_SYSTEM_H_
