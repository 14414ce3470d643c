// kxtable report T.kxt...: the check scan, run as `kxtable check` runs it,
// with every record it classifies fed to a damage map, and the map written
// as one HTML page that opens offline in any browser (report_page.h). The
// page goes beside the table as T.report.html, or where -o says; standard
// output gets the page's name (or, with -o -, the page itself). The exit
// status is the one `kxtable check` gives the table, or worse when the page
// cannot be written.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/record_table.h"
#include "tools/kxtable/commands.h"
#include "tools/kxtable/csv_codec.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/damage_map.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/report_page.h"
#include "tools/kxtable/staged_file.h"
#include "tools/kxtable/standard_streams.h"
#include "tools/kxtable/table_list.h"
#include "tools/kxtable/table_runs.h"

namespace kxtable {

namespace {

struct ReportArgs {
  std::vector<std::string> tables;
  std::string output;  // "" for the name beside each table, "-" for stdout
  bool force = false;
  bool recursive = false;
  bool quiet = false;
  bool no_progress = false;
};

constexpr char kPageSuffix[] = ".report.html";

// T.kxt gives T.report.html.
std::string DefaultPagePath(const std::string& table) {
  if (HasKxtExtension(table)) {
    return table.substr(0, table.size() - 4) + kPageSuffix;
  }
  return table + kPageSuffix;
}

// What is known of the table before the scan: whether the engine opens it,
// its layout, and whether the page may go to `page`: neither one of the
// table's files (by device and inode, whatever the name) nor, without
// `force`, anything that is there already.
struct Preparation {
  bool opens = false;
  std::string layout;
  int refused = 0;  // the exit status of a refusal, said on stderr; or 0
};

Preparation Prepare(const std::string& table, const std::string& page,
                    bool force) {
  Preparation prepared;
  kalvex::RecordTable probe;
  try {
    probe.Open(table);
  } catch (const std::exception&) {
    // The scan says what is wrong, in the words of `kxtable check`.
    return prepared;
  }
  prepared.opens = true;
  prepared.layout = LayoutText(probe.Layout());
  if (page != "-") {
    const std::string own = probe.FileNamedBy(page);
    struct stat st;
    if (!own.empty()) {
      PrintError(page, "is the same file as the table's '" + own +
                           "'; no page is written");
      prepared.refused = kExitFound;
    } else if (!force && ::lstat(page.c_str(), &st) == 0) {
      PrintError(page, "the file exists (--force replaces it)");
      prepared.refused = kExitFound;
    }
  }
  probe.Close();
  return prepared;
}

// Writes the page of `data` to standard output or as the new file `page`;
// gives the exit status: 0, 1 when the file was refused (one appeared
// meanwhile), 2 when it could not be written. Failures are said on standard
// error.
int WritePage(const std::string& table, const std::string& page,
              const std::string& data, bool force) {
  if (page == "-") {
    if (!WriteReportPage(stdout, data) || std::fflush(stdout) != 0) {
      ReportOutputFailure();
      return kExitCannotWork;
    }
    return kExitSuccess;
  }
  try {
    // The table's files are compared again here, by device and inode, in
    // case one of them appeared at the page's name since Prepare.
    StagedFile file(page, force, TableFiles(table));
    WriteReportPage([&](std::string_view text) { file.Write(text); }, data);
    file.Place();
    return kExitSuccess;
  } catch (const CommandError& e) {
    PrintError(e.path(), e.reason());
    return e.status();
  } catch (const std::exception& e) {
    PrintError("", e.what());
    return kExitFound;
  }
}

// The page of one table. Gives its exit status; `stopped` when the user
// asked to stop, so that no further table runs.
int ReportTable(const std::string& table, const ReportArgs& args,
                bool& stopped) {
  const std::string page =
      args.output.empty() ? DefaultPagePath(table) : args.output;
  const Preparation prepared = Prepare(table, page, args.force);
  if (prepared.refused != 0) return prepared.refused;

  TableReport report;
  report.operation = Operation::kCheck;
  report.table = table;
  std::optional<DamageMap> map;
  ConsoleOptions options;
  options.table = table;
  options.write_log = false;
  options.progress = !args.no_progress && !args.quiet;
  options.quiet = args.quiet;
  options.report = &report;
  options.damage_map = &map;
  RunTable(Operation::kCheck, options, report);
  stopped = report.outcome == kxcheck::Outcome::kStopped;
  const int status = ExitStatus(report);
  // No page of a table that could not be read at all.
  if (!prepared.opens || !map) return status;

  const std::string data =
      map->Json({.path = table,
                 .layout = prepared.layout,
                 .problems = report.problems,
                 .warnings = report.warnings,
                 .exit_status = status,
                 .status = StatusWord(report),
                 .complete = report.outcome == kxcheck::Outcome::kCompleted});
  const int written = WritePage(table, page, data, args.force);
  if (written == kExitSuccess && page != "-" && !args.quiet) {
    std::printf("%s\n", EscapeLine(page).c_str());
    std::fflush(stdout);
  }
  return std::max(status, written);
}

int RunReport(const ReportArgs& args) {
  if (!args.output.empty() && args.tables.size() != 1) {
    throw CannotWork("",
                     "-o names the page of one table; without it each "
                     "table's page goes beside it");
  }
  const TableList list = ListTables(args.tables, args.recursive,
                                    /*leave_out_repaired=*/false, stderr);
  if (!args.output.empty() && list.from_folder) {
    throw CannotWork(args.tables.front(),
                     "-o names the page of one table, not of a folder's");
  }
  // The stop signals stop the table running and keep the others from
  // starting.
  StopOnSignals stop_on_signals;
  int worst = list.status;
  for (const std::string& table : list.tables) {
    bool stopped = false;
    worst = std::max(worst, ReportTable(table, args, stopped));
    if (stopped) break;
  }
  return worst;
}

}  // namespace

void AddReportCommand(CLI::App& app, Runner& run) {
  auto args = std::make_shared<ReportArgs>();
  CLI::App* report = app.add_subcommand(
      "report",
      "Check every record's date and time stamp and write a damage map of "
      "the table: one HTML page that opens in any browser without a "
      "network.");
  report
      ->add_option("tables", args->tables,
                   "The tables' main files (.kxt), or folders of tables")
      ->required();
  report
      ->add_option("-o,--output", args->output,
                   "Write the page to PATH, or with '-' to standard output "
                   "(one table only; without it the page of T.kxt is "
                   "T.report.html beside it)")
      ->type_name("PATH");
  report->add_flag("--force", args->force, "Replace an existing page");
  report->add_flag("-r,--recursive", args->recursive,
                   "Take the tables in the folders' subfolders too");
  report->add_flag("-q,--quiet", args->quiet,
                   "Write nothing but errors: no page names, no progress");
  report->add_flag("--no-progress", args->no_progress,
                   "Never draw the progress bar");
  report->footer(
      "The page shows the table's summary (layout, records, the first and "
      "last good stamp and the span between, the four counts, the findings "
      "of each test, the problems in the table's files and the status "
      "'kxtable check' gives), the stamps against the record number with zoom "
      "and a read-out, the findings along the table stacked by kind, the "
      "longest runs of damaged records and the first findings of each kind. "
      "Its size does not grow with the table. Standard output gets the name "
      "of each page written. A page is written whenever the table could be "
      "opened, also when the check stopped early; the page never replaces "
      "one of the table's own files.\n\n" +
      StatusNote("every table is clean (deleted records alone are normal)",
                 "one has damage (as for kxtable check), or a page exists "
                 "and --force was not given, or would be one of the table's "
                 "files") +
      "\n\nExamples:\n"
      "  kxtable report line4.kxt && echo 'line4 is clean'\n"
      "  kxtable report --force -o /tmp/line4.html line4.kxt\n"
      "  kxtable report -r logs/\n"
      "  kxtable report -o - line4.kxt > line4.html");
  report->callback([&run, args] { run = [args] { return RunReport(*args); }; });
}

}  // namespace kxtable
