#include "core/stamp.h"

#include <cstdio>

#include "core/results_log.h"

namespace kxcheck {

std::string MakeStamp(std::string_view date, std::string_view time) {
  std::string stamp(date);
  stamp += ' ';
  stamp += time;
  return stamp;
}

bool StampTestFails(StampTest test, std::string_view stamp,
                    std::string_view previous, std::string_view year) {
  switch (test) {
    case StampTest::kOrder:
      return OrderFails(stamp, previous);
    case StampTest::kYear:
      return YearFails(stamp, year);
    case StampTest::kMonth:
      return MonthFails(stamp);
    case StampTest::kDay:
      return DayFails(stamp);
    case StampTest::kHour:
      return HourFails(stamp);
    case StampTest::kMinute:
      return MinuteFails(stamp);
    case StampTest::kSecond:
      return SecondFails(stamp);
    case StampTest::kSeparators:
      return SeparatorsFail(stamp);
  }
  return false;
}

std::string FindingSuffix(StampTest test, std::string_view previous) {
  switch (test) {
    case StampTest::kOrder:
      return " Date is out of sequence with " + std::string(previous);
    case StampTest::kYear:
      return " --> Year is invalid!";
    case StampTest::kMonth:
      return " --> Month is invalid!";
    case StampTest::kDay:
      return " --> Day is invalid!";
    case StampTest::kHour:
      return " --> Hour is invalid!";
    case StampTest::kMinute:
      return " --> Minute is invalid!";
    case StampTest::kSecond:
      return " --> Second is invalid!";
    case StampTest::kSeparators:
      return " --> Separator(s) is invalid!";
  }
  return {};
}

std::string FindingLine(int64_t n, std::string_view stamp,
                        std::string_view suffix) {
  std::string line = "Rec: " + std::to_string(n) + " - ";
  line += BytesToText(stamp);
  line += BytesToText(suffix);
  return line;
}

std::string YearText(int year) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", year);
  return text;
}

std::string ProgressText(int64_t n, int64_t total) {
  return std::to_string(n) + " / " + std::to_string(total);
}

const char* StampTestName(StampTest test) {
  switch (test) {
    case StampTest::kOrder:
      return "order";
    case StampTest::kYear:
      return "year";
    case StampTest::kMonth:
      return "month";
    case StampTest::kDay:
      return "day";
    case StampTest::kHour:
      return "hour";
    case StampTest::kMinute:
      return "minute";
    case StampTest::kSecond:
      return "second";
    case StampTest::kSeparators:
      return "separators";
  }
  return "unknown";
}

}  // namespace kxcheck
