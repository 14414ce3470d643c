#include "core/operation.h"

#include <exception>

namespace kxcheck {

std::string CurrentReason() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace kxcheck
