// The check scan through the table and host interfaces, and the parts of the
// scan that are the same for every table and host.
#include "core/check_scan.h"

#include <string>

namespace kxcheck {

namespace check_scan_internal {

std::string FailureText(const std::string& path, const Position& at,
                        const std::string& reason) {
  switch (at.step) {
    case Step::kLookForSource:
      return "Cannot tell whether " + path + " exists: " + reason;
    case Step::kCreateTables:
    case Step::kOpenSource:
    case Step::kReadProblems:
      return "Cannot open " + path + ": " + reason;
    case Step::kCloseSource:
      return "Cannot close " + path + ": " + reason;
    default:
      break;
  }
  const std::string where =
      at.phase == Phase::kLoop     ? "at record " + std::to_string(at.record)
      : at.phase == Phase::kBefore ? "before the first record"
                                   : "after the last record";
  return "Check stopped " + where + " while " + CheckWords(at.step) + ": " +
         reason;
}

void ReadStampFromFields(Table& table, PackedStamp& stamp) {
  const std::string date = table.FieldGet(1);
  const std::string time = table.FieldGet(2);
  if (date.size() == 10 && time.size() == 8) {
    stamp.SetStamp(date.data(), time.data());
  } else {
    stamp.SetStamp(MakeStamp(date, time));
  }
}

void AddCountLine(Report& report, int32_t count, const char* what) {
  if (count > 0) {
    report.AddResultAlways("Found " + std::to_string(count) + what);
  }
}

}  // namespace check_scan_internal

Outcome CheckTable(const std::string& path, Host& host, TableFactory& tables,
                   StepObserver* observer) {
  return RunCheckScan<true>(
      path, host, [&tables] { return tables.Create(); }, observer);
}

}  // namespace kxcheck
