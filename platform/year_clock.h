// The year from the system clock, for a host whose operations ask for it at
// every record.
#ifndef KXCHECK_PLATFORM_YEAR_CLOCK_H_
#define KXCHECK_PLATFORM_YEAR_CLOCK_H_

#include <ctime>

namespace platform {

// The clock is looked at every kStride questions, and the local time worked
// out again only when the clock has left the year seen last, so asking per
// record is cheap. Throws std::runtime_error when the clock cannot be read.
class YearClock {
 public:
  static constexpr unsigned kStride = 256;

  int Year() {
    if (year_ != 0 && ++questions_ % kStride != 0) return year_;
    return Read();
  }

 private:
  int Read();

  int year_ = 0;
  unsigned questions_ = 0;
  std::time_t begin_ = 1;  // [begin, end): the clock is in year_
  std::time_t end_ = 0;
};

}  // namespace platform

#endif  // KXCHECK_PLATFORM_YEAR_CLOCK_H_
