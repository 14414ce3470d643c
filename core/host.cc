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

}  // namespace kxcheck
