#include "core/host.h"

namespace kxcheck {

void Host::ShowTableProblems(const std::string& path,
                             const std::vector<std::string>& problems) {
  std::string text = "Problems found in the files of '" + path + "':";
  for (const std::string& problem : problems) text += "\n" + problem;
  WarnBox(text);
}

}  // namespace kxcheck
