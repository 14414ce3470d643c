#include "platform/mod_kxcheck.h"

#include "os/env.h"

namespace modKXCheck {

bool FileExists(const std::string& path) {
  return kxos::Env::Default()->FileExists(path);
}

}  // namespace modKXCheck
