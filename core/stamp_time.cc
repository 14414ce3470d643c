#include "core/stamp_time.h"

#include <chrono>

namespace kxcheck {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// The value of two digit characters, or -1 when either is not a digit.
inline int TwoDigits(const char* p) {
  const unsigned high = static_cast<unsigned char>(p[0]) - '0';
  const unsigned low = static_cast<unsigned char>(p[1]) - '0';
  if (high > 9 || low > 9) return -1;
  return static_cast<int>(high * 10 + low);
}

// The second of the day of the time at characters 12 to 19 of `s`, or -1
// when it is no time.
inline int SecondOfDay(const char* s) {
  const int hour = TwoDigits(s + 11);
  const int minute = TwoDigits(s + 14);
  const int second = TwoDigits(s + 17);
  if ((hour | minute | second) < 0 || hour > 23 || minute > 59 || second > 59) {
    return -1;
  }
  return hour * 3600 + minute * 60 + second;
}

inline void PutTwoDigits(char* out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int month, int day) {
  const std::chrono::year_month_day date(
      std::chrono::year(static_cast<int>(year)) / month / day);
  return std::chrono::sys_days(date).time_since_epoch().count();
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  const std::chrono::year_month_day date{
      std::chrono::sys_days(std::chrono::days(days))};
  year = static_cast<int>(date.year());
  month = static_cast<int>(static_cast<unsigned>(date.month()));
  day = static_cast<int>(static_cast<unsigned>(date.day()));
}

int DaysInMonth(int64_t year, int month) {
  const std::chrono::year_month_day_last last(
      std::chrono::year(static_cast<int>(year)) / month / std::chrono::last);
  return static_cast<int>(static_cast<unsigned>(last.day()));
}

bool ReadStampTime(std::string_view stamp, int current_year, int64_t& seconds) {
  if (stamp.size() != 19) return false;
  const char* s = stamp.data();
  const int century = TwoDigits(s);
  const int year_in_century = TwoDigits(s + 2);
  const int month = TwoDigits(s + 5);
  const int day = TwoDigits(s + 8);
  const int time = SecondOfDay(s);
  if ((century | year_in_century | month | day | time) < 0) return false;
  const int year = century * 100 + year_in_century;
  if (year < kFirstStampYear || year > current_year || month < 1 ||
      month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return false;
  }
  seconds = DaysFromCivil(year, month, day) * kSecondsPerDay + time;
  return true;
}

bool StampTimeReader::Read(std::string_view stamp, int64_t& seconds) {
  if (stamp.size() == 19 && SameDate(stamp.data())) {
    const int time = SecondOfDay(stamp.data());
    if (time < 0) return false;
    seconds = date_seconds_ + time;
    return true;
  }
  if (!ReadStampTime(stamp, current_year_, seconds)) return false;
  std::memcpy(&date_head_, stamp.data(), sizeof date_head_);
  std::memcpy(&date_tail_, stamp.data() + sizeof date_head_, sizeof date_tail_);
  date_seconds_ = seconds - seconds % kSecondsPerDay;
  have_date_ = true;
  return true;
}

void WriteStampTime(int64_t seconds, char* out) {
  int64_t days = seconds / kSecondsPerDay;
  int64_t second_of_day = seconds % kSecondsPerDay;
  if (second_of_day < 0) {
    second_of_day += kSecondsPerDay;
    --days;
  }
  int year, month, day;
  CivilFromDays(days, year, month, day);
  PutTwoDigits(out, year / 100 % 100);
  PutTwoDigits(out + 2, year % 100);
  out[4] = '-';
  PutTwoDigits(out + 5, month);
  out[7] = '-';
  PutTwoDigits(out + 8, day);
  out[10] = ' ';
  const int s = static_cast<int>(second_of_day);
  PutTwoDigits(out + 11, s / 3600);
  out[13] = ':';
  PutTwoDigits(out + 14, s / 60 % 60);
  out[16] = ':';
  PutTwoDigits(out + 17, s % 60);
}

}  // namespace kxcheck
