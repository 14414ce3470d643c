#include "core/host.h"

#include <string>

namespace kxcheck {

std::string DateSetLine(int64_t n, std::string_view stamp) {
  return "Rec: " + std::to_string(n) + "- Date set to --> " +
         BytesToText(stamp);
}

void Host::AddFinding(const Finding& finding) {
  if (ResultsFull()) return;
  AddResult(FindingLine(finding.record, finding.stamp,
                        FindingSuffix(finding.test, finding.previous)));
}

void Host::AddStampSet(int64_t record, std::string_view stamp) {
  if (ResultsFull()) return;
  AddResult(DateSetLine(record, stamp));
}

void Host::ShowTableProblems(const std::string& path,
                             const std::vector<std::string>& problems) {
  std::string text = "Problems found in the files of '" + path + "':";
  for (const std::string& problem : problems) text += "\n" + problem;
  WarnBox(text);
}

}  // namespace kxcheck
