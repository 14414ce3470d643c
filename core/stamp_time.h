// Stamps read as moments in time, for the repair that restores stamps.
//
// The stamp tests (stamp.h) compare characters; restoring a stamp needs its
// value. A stamp is read as a naive civil time: no time zone, no daylight
// saving, every day 86,400 seconds, dates by the proleptic Gregorian
// calendar. A time is a count of seconds since 1970-01-01 00:00:00.
#ifndef KXCHECK_CORE_STAMP_TIME_H_
#define KXCHECK_CORE_STAMP_TIME_H_

#include <cstdint>
#include <cstring>
#include <string_view>

namespace kxcheck {

// The earliest year a stamp may have (the year test's lower limit).
inline constexpr int kFirstStampYear = 1990;

// Days from 1970-01-01 to the given date (negative before it).
int64_t DaysFromCivil(int64_t year, int month, int day);
// The date `days` days after 1970-01-01.
void CivilFromDays(int64_t days, int& year, int& month, int& day);

int DaysInMonth(int64_t year, int month);

// Reads a stamp of 19 characters "YYYY-MM-DD HH:MM:SS" as a real calendar
// time: digits only where digits belong, a year from 1990 to
// `current_year`, a month from 01 to 12, a day that exists in its month and
// year, hour, minute and second in range. The characters between the fields
// (5, 8, 11, 14 and 17) are not looked at. False for anything else.
bool ReadStampTime(std::string_view stamp, int current_year, int64_t& seconds);

// ReadStampTime for a series of stamps, most of which share their date with
// the stamp before: the date is read once.
class StampTimeReader {
 public:
  explicit StampTimeReader(int current_year) : current_year_(current_year) {}
  bool Read(std::string_view stamp, int64_t& seconds);

 private:
  // Whether the 10 characters at `date` are the date kept.
  bool SameDate(const char* date) const {
    uint64_t head;
    uint16_t tail;
    std::memcpy(&head, date, sizeof head);
    std::memcpy(&tail, date + sizeof head, sizeof tail);
    return have_date_ && head == date_head_ && tail == date_tail_;
  }

  int current_year_;
  bool have_date_ = false;
  // The date's 10 characters, as two numbers.
  uint64_t date_head_ = 0;
  uint16_t date_tail_ = 0;
  int64_t date_seconds_ = 0;
};

// Whether the characters between the fields are "-", "-", " ", ":", ":".
inline bool HasStampSeparators(std::string_view stamp) {
  return stamp.size() == 19 && stamp[4] == '-' && stamp[7] == '-' &&
         stamp[10] == ' ' && stamp[13] == ':' && stamp[16] == ':';
}

// Writes the time as "YYYY-MM-DD HH:MM:SS" into out[0..18].
void WriteStampTime(int64_t seconds, char* out);

}  // namespace kxcheck

#endif  // KXCHECK_CORE_STAMP_TIME_H_
