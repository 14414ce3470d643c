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
  if (test == StampTest::kOrder) return OrderFails(stamp, previous);
  if (test == StampTest::kYear) return YearFails(stamp, year);
  // The tests of the stamp alone, in their order.
  static constexpr bool (*kTests[])(std::string_view) = {
      nullptr,   nullptr,     MonthFails,  DayFails,
      HourFails, MinuteFails, SecondFails, SeparatorsFail};
  return kTests[static_cast<size_t>(test)](stamp);
}

std::string FindingSuffix(StampTest test, std::string_view previous) {
  if (test == StampTest::kOrder) {
    return " Date is out of sequence with " + std::string(previous);
  }
  static constexpr const char* kInvalid[kAllStampTests.size()] = {
      "", "Year", "Month", "Day", "Hour", "Minute", "Second", "Separator(s)"};
  return std::string(" --> ") + kInvalid[static_cast<size_t>(test)] +
         " is invalid!";
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
  static constexpr const char* kNames[kAllStampTests.size()] = {
      "order", "year",   "month",  "day",
      "hour",  "minute", "second", "separators"};
  return kNames[static_cast<size_t>(test)];
}

}  // namespace kxcheck
