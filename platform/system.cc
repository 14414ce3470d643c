#include "platform/system.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/mod_kxcheck.h"

namespace platform {

void CopyFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(
      from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) {
    throw std::runtime_error("Cannot copy " + from + " to " + to + ": " +
                             ec.message());
  }
}

void DeleteFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::remove(path, ec) && ec) {
    throw std::runtime_error("Cannot delete " + path + ": " + ec.message());
  }
}

int CurrentYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    throw std::runtime_error("Cannot read the system clock");
  }
  return local.tm_year + 1900;
}

bool SystemHost::FileExists(const std::string& path) {
  return modKXCheck::FileExists(path);
}

void SystemHost::CopyFile(const std::string& from, const std::string& to) {
  platform::CopyFile(from, to);
}

void SystemHost::DeleteFile(const std::string& path) {
  platform::DeleteFile(path);
}

int SystemHost::CurrentYear() { return platform::CurrentYear(); }

}  // namespace platform
