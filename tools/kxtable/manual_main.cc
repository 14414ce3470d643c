// Writes kxtable's manual pages into a folder, for the package:
//
//   kxtable_manual FOLDER VERSION DATE
//
// kxtable.1 and kxtable-COMMAND.1 for each command (see manual.h).
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tools/kxtable/app.h"
#include "tools/kxtable/manual.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FOLDER VERSION DATE\n", argv[0]);
    return 2;
  }
  CLI::App app;
  kxtable::Runner run;
  kxtable::BuildApp(app, run, argv[2]);
  const kxtable::ManualFacts facts{argv[2], argv[3]};
  std::vector<const CLI::App*> pages = kxtable::Commands(app);
  pages.insert(pages.begin(), nullptr);
  for (const CLI::App* page : pages) {
    const std::string path =
        std::string(argv[1]) + "/" + kxtable::ManualPageName(page) + ".1";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << kxtable::ManualPage(app, page, facts);
    out.close();
    if (!out) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
      return 1;
    }
  }
  return 0;
}
