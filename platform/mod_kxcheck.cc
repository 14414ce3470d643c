#include "platform/mod_kxcheck.h"

#include <sys/stat.h>

namespace modKXCheck {

bool FileExists(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace modKXCheck
