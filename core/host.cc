#include "core/host.h"

#include <string>

namespace kxcheck {

std::string DateSetLine(int64_t n, std::string_view stamp) {
  return "Rec: " + std::to_string(n) + "- Date set to --> " +
         BytesToText(stamp);
}

std::string TableProblemsText(const std::string& path,
                              const std::vector<std::string>& problems) {
  std::string text = "Problems found in the files of '" + path + "':";
  for (const std::string& problem : problems) text += "\n" + problem;
  return text;
}

void LogHost::AddFinding(const Finding& finding) {
  if (ResultsFull()) return;
  AddResult(FindingLine(finding.record, finding.stamp,
                        FindingSuffix(finding.test, finding.previous)));
}

void LogHost::AddStampSet(int64_t record, std::string_view stamp) {
  if (ResultsFull()) return;
  AddResult(DateSetLine(record, stamp));
}

}  // namespace kxcheck
