#include "core/stamp_time.h"

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

inline void PutTwoDigits(char* out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

// The day-count formulas are the usual ones for the proleptic Gregorian
// calendar, counting in eras of 400 years that start on 1 March.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year =
      (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 +
                               day_of_era / 36524 - day_of_era / 146096) /
                              365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_index = (5 * day_of_year + 2) / 153;
  day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
  month =
      static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
  year = static_cast<int>(year_of_era + era * 400 + (month <= 2));
}

bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30,
                                    31, 31, 30, 31, 30, 31};
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool ReadStampTime(std::string_view stamp, int current_year, int64_t& seconds) {
  if (stamp.size() != 19) return false;
  const char* s = stamp.data();
  const int century = TwoDigits(s);
  const int year_in_century = TwoDigits(s + 2);
  const int month = TwoDigits(s + 5);
  const int day = TwoDigits(s + 8);
  const int hour = TwoDigits(s + 11);
  const int minute = TwoDigits(s + 14);
  const int second = TwoDigits(s + 17);
  if ((century | year_in_century | month | day | hour | minute | second) < 0) {
    return false;
  }
  const int year = century * 100 + year_in_century;
  if (year < kFirstStampYear || year > current_year || month < 1 ||
      month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  seconds = DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 +
            minute * 60 + second;
  return true;
}

bool StampTimeReader::Read(std::string_view stamp, int64_t& seconds) {
  if (stamp.size() == 19 && SameDate(stamp.data())) {
    const char* s = stamp.data();
    const int hour = TwoDigits(s + 11);
    const int minute = TwoDigits(s + 14);
    const int second = TwoDigits(s + 17);
    if ((hour | minute | second) < 0 || hour > 23 || minute > 59 ||
        second > 59) {
      return false;
    }
    seconds = date_seconds_ + hour * 3600 + minute * 60 + second;
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
