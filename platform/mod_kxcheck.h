// Thin wrappers over the platform.
#ifndef KXCHECK_PLATFORM_MOD_KXCHECK_H_
#define KXCHECK_PLATFORM_MOD_KXCHECK_H_

#include <string>

namespace modKXCheck {

// True for an existing file or directory; false for "", for anything that
// does not exist or cannot be reached. Never throws.
bool FileExists(const std::string& path);

}  // namespace modKXCheck

#endif  // KXCHECK_PLATFORM_MOD_KXCHECK_H_
