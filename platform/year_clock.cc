#include "platform/year_clock.h"

#include <stdexcept>

namespace platform {

int YearClock::Read() {
  const std::time_t now = std::time(nullptr);
  if (year_ != 0 && now >= begin_ && now < end_) return year_;
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    throw std::runtime_error("Cannot read the system clock");
  }
  year_ = local.tm_year + 1900;
  auto start_of = [](int year) {
    std::tm edge{};
    edge.tm_mday = 1;
    edge.tm_isdst = -1;
    edge.tm_year = year - 1900;
    return std::mktime(&edge);
  };
  begin_ = start_of(year_);
  end_ = start_of(year_ + 1);
  if (begin_ == static_cast<std::time_t>(-1) ||
      end_ == static_cast<std::time_t>(-1) || !(begin_ <= now && now < end_)) {
    // The year cannot be bounded: keep the answer for this second only.
    begin_ = now;
    end_ = now + 1;
  }
  return year_;
}

}  // namespace platform
