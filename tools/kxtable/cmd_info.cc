// kxtable info T.kxt: the layout, the record and deletion counts, the sizes
// of the four files and every problem the engine found on the way.
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/record_table.h"
#include "tools/kxtable/commands.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/standard_streams.h"

namespace kxtable {

namespace {

std::string SizeText(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "missing";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  return std::to_string(static_cast<long long>(st.st_size)) + " bytes";
}

struct InfoArgs {
  std::string path;
  bool quiet = false;
};

void PrintFiles(const std::vector<std::string>& files) {
  static const char* kRoles[] = {"definition", "data", "attributes", "index"};
  for (size_t i = 0; i < files.size() && i < 4; ++i) {
    std::printf("File %-11s %s: %s\n", kRoles[i], files[i].c_str(),
                SizeText(files[i]).c_str());
  }
}

void PrintProblems(const std::vector<std::string>& problems) {
  if (problems.empty()) {
    std::printf("Problems         none\n");
    return;
  }
  std::printf("Problems         %zu\n", problems.size());
  for (const std::string& p : problems) std::printf("  - %s\n", p.c_str());
}

int Info(const InfoArgs& args) {
  const std::string& path = args.path;
  RequireExisting(path);
  kalvex::RecordTable table;
  if (args.quiet) {
    table.Open(path);
    table.Close();
    for (const std::string& problem : table.Problems()) {
      PrintError(path, problem);
    }
    return table.Problems().empty() ? kExitSuccess : kExitFound;
  }
  std::printf("Table            %s\n", path.c_str());
  try {
    table.Open(path);
  } catch (const kalvex::TableError& e) {
    std::vector<std::string> files = table.Files();
    PrintFiles(files);
    PrintProblems({e.what()});
    std::fflush(stdout);
    throw;
  }
  const kalvex::TableLayout& layout = table.Layout();
  std::printf("Record length    %u bytes\n", layout.RecordLength());
  std::printf("Field 1  %-16s offset %5d  width %5d\n", "date",
              kalvex::kDateOffset, kalvex::kDateBytes);
  std::printf("Field 2  %-16s offset %5d  width %5d\n", "time",
              kalvex::kTimeOffset, kalvex::kTimeBytes);
  uint32_t offset = kalvex::kPayloadOffset;
  for (size_t i = 0; i < layout.payload.size(); ++i) {
    const kalvex::FieldDef& f = layout.payload[i];
    std::printf("Field %-2zu %-16s offset %5u  width %5u\n", i + 3,
                f.name.c_str(), offset, f.width);
    offset += f.width;
  }

  std::printf("Records          %d\n", table.RecordCount());
  std::printf("Deleted          %lld\n",
              static_cast<long long>(table.DeletedCount()));
  PrintFiles(table.Files());
  PrintProblems(table.Problems());
  table.Close();
  // Problems with the files (the incomplete mark among them) are damage.
  return table.Problems().empty() ? kExitSuccess : kExitFound;
}

}  // namespace

int ReportTableProblems(const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) PrintError("", problem);
  return problems.empty() ? kExitSuccess : kExitFound;
}

void AddInfoCommand(CLI::App& app, Runner& run) {
  auto args = std::make_shared<InfoArgs>();
  CLI::App* info = app.add_subcommand(
      "info",
      "Show a table's layout, record count, deleted count, file sizes and "
      "every problem found in its files.");
  info->add_option("table", args->path, "the table's .kxt file")->required();
  info->add_flag("-q,--quiet", args->quiet,
                 "write nothing but the problems, as error lines; the exit "
                 "status tells the rest");
  info->footer(StatusNote("the table's files have no problem",
                          "they have one (an incomplete table among them)") +
               "\n\nExamples:\n  kxtable info line4.kxt\n"
               "  kxtable info -q line4_REPAIRED.kxt || echo 'not whole'");
  info->callback([&run, args] { run = [args] { return Info(*args); }; });
}

}  // namespace kxtable
