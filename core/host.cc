#include "core/host.h"

#include <string>

namespace kxcheck {

std::string DateSetLine(int64_t n, std::string_view stamp) {
  return "Rec: " + std::to_string(n) + "- Date set to --> " +
         BytesToText(stamp);
}

const char* StampReasonName(StampReason reason) {
  static constexpr const char* kNames[kStampReasons] = {
      "failed test", "out of order",    "spike",
      "off cadence", "not a real date", "separators"};
  return kNames[static_cast<size_t>(reason)];
}

std::string SpreadText(const Spread& spread, std::string_view shown_stamp) {
  std::string text =
      std::to_string(spread.records) + " records from " +
      std::to_string(spread.first) + " to " + std::to_string(spread.last) +
      " took the stamp of record " + std::to_string(spread.source) + ", ";
  text += shown_stamp;
  return text;
}

std::string WithLines(std::string text, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) text += "\n" + line;
  return text;
}

std::string TableProblemsText(const std::string& path,
                              const std::vector<std::string>& problems) {
  return WithLines("Problems found in the files of '" + path + "':", problems);
}

void LogHost::AddFinding(const Finding& finding) {
  if (ResultsFull()) return;
  AddResult(FindingLine(finding.record, finding.stamp,
                        FindingSuffix(finding.test, finding.previous)));
}

void LogHost::AddStampSet(const StampSet& set) {
  if (ResultsFull()) return;
  AddResult(DateSetLine(set.record, set.stamp));
}

}  // namespace kxcheck
