// kxtable report T.kxt...: the check scan, run as `kxtable check` runs it,
// with every record it classifies fed to a damage map, and the map written
// as one HTML page that opens offline in any browser (report_page.h). The
// page goes beside the table as T.report.html, or where -o says; standard
// output gets the page's name (or, with -o -, the page itself). The exit
// status is the one `kxtable check` gives the table, or worse when the page
// cannot be written.
//
// With --repair the page also shows what a repair changed: the repair's
// output T_REPAIRED.kxt is read beside the table while the check runs, and
// each record's stamp in the table is set against the one written for it
// (repair_overlay.h). With --restore no output is read: the stamps are those
// the restoring rule would write.
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
#include "platform/system.h"
#include "tools/kxtable/commands.h"
#include "tools/kxtable/csv_codec.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/damage_map.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/repair_overlay.h"
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
  bool repair = false;
  bool restore = false;
  std::string repaired;  // the repair's output; "" for T_REPAIRED.kxt
};

// T.kxt and ".report.html" give T.report.html.
std::string BesideTable(const std::string& table, const char* suffix) {
  return (HasKxtExtension(table) ? table.substr(0, table.size() - 4) : table) +
         suffix;
}

// What is known of the table before the scan: whether the engine opens it,
// its layout, and whether the page may go to `page`: neither one of the
// table's files (by device and inode, whatever the name) nor, without
// `force`, anything that is there already.
struct Preparation {
  bool opens = false;
  std::string layout;
  std::string repaired;  // BasePath + "_REPAIRED.kxt"
  int refused = 0;       // the exit status of a refusal, said on stderr; or 0
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
  prepared.repaired = probe.BasePath() + "_REPAIRED.kxt";
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
              const ReportData& data, bool force) {
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

// The records of a repair's output as the engine reads them.
class EngineOutput final : public OutputRecords {
 public:
  explicit EngineOutput(const std::string& path) {
    table_.Open(path);
    count_ = table_.RecordCount();
  }
  bool Next(std::string_view& record) override {
    if (n_ >= count_) return false;
    table_.GoToRecord(++n_);
    record = table_.RecordBuffer();
    return true;
  }

 private:
  kalvex::RecordTable table_;
  int32_t count_ = 0;
  int32_t n_ = 0;
};

// The page of one table. Gives its exit status; `stopped` when the user
// asked to stop, so that no further table runs.
int ReportTable(const std::string& table, const ReportArgs& args,
                bool& stopped) {
  const std::string page =
      args.output.empty() ? BesideTable(table, ".report.html") : args.output;
  const Preparation prepared = Prepare(table, page, args.force);
  if (prepared.refused != 0) return prepared.refused;

  // What a repair changed: its output, opened before the check runs, or the
  // restoring rule.
  const std::string repaired = !args.repaired.empty() ? args.repaired
                               : prepared.opens
                                   ? prepared.repaired
                                   : BesideTable(table, "_REPAIRED.kxt");
  std::unique_ptr<EngineOutput> output;
  std::unique_ptr<RepairAligner> aligner;
  std::unique_ptr<RestoreOverlay> restore;
  if (args.repair && prepared.opens) {
    struct stat st;
    if (::stat(repaired.c_str(), &st) != 0) {
      PrintError(repaired, std::strerror(errno));
      return kExitCannotWork;
    }
    try {
      output = std::make_unique<EngineOutput>(repaired);
    } catch (const std::exception& e) {
      PrintError(repaired, e.what());
      return kExitCannotWork;
    }
    aligner = std::make_unique<RepairAligner>(*output);
  } else if (args.restore && prepared.opens) {
    try {
      restore = std::make_unique<RestoreOverlay>(platform::CurrentYear());
    } catch (const std::exception& e) {
      PrintError(table, e.what());
      return kExitCannotWork;
    }
  }

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
  if (aligner || restore) {
    options.on_record = [&](const kxcheck::RecordNote& note) {
      aligner ? aligner->Add(note, *map) : restore->Add(note, *map);
    };
  }
  RunTable(Operation::kCheck, options, report);
  stopped = report.outcome == kxcheck::Outcome::kStopped;
  const int status = ExitStatus(report);
  // No page of a table that could not be read at all.
  if (!prepared.opens || !map) return status;
  const bool complete = report.outcome == kxcheck::Outcome::kCompleted;
  if (aligner) {
    aligner->Finish(complete);
    if (!aligner->Warning().empty()) {
      PrintError(table,
                 "the repair's output '" + repaired +
                     "' does not match the table: " + aligner->Warning() +
                     "; the page shows the records before");
    }
    map->DescribeRepair(repaired, /*dry_run=*/false, aligner->Warning());
  } else if (restore) {
    restore->Finish(*map);
    map->DescribeRepair(repaired, /*dry_run=*/true, "");
  }

  const DamageMapTable about = {.path = table,
                                .layout = prepared.layout,
                                .problems = report.problems,
                                .warnings = report.warnings,
                                .exit_status = status,
                                .status = StatusWord(report),
                                .complete = complete};
  // The data goes into the page as it is made, part by part.
  const ReportData data = [&](const auto& part) {
    map->WriteJson(about, part);
  };
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
  if (!args.repaired.empty() && args.tables.size() != 1) {
    throw CannotWork("", "--repaired names the output of one table's repair");
  }
  // A repair's output has no output of its own to compare with.
  const TableList list = ListTables(args.tables, args.recursive,
                                    /*leave_out_repaired=*/args.repair, stderr);
  if (!args.repaired.empty() && list.from_folder) {
    throw CannotWork(args.tables.front(),
                     "--repaired names the output of one table's repair, "
                     "not of a folder's");
  }
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
  CLI::Option* repair = report->add_flag(
      "--repair", args->repair,
      "Also show what a repair changed: the stamps it replaced and wrote, "
      "read from T_REPAIRED.kxt beside the table, and the runs of records "
      "given one stamp");
  CLI::Option* restore = report->add_flag(
      "--restore", args->restore,
      "Also show what the restoring rule would write, without reading or "
      "writing any output");
  CLI::Option* repaired =
      report
          ->add_option("--repaired", args->repaired,
                       "With --repair: the repair's output is PATH, not "
                       "T_REPAIRED.kxt (one table only)")
          ->type_name("PATH");
  repair->excludes(restore);
  repaired->needs(repair);
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
      "one of the table's own files.\n\n"
      "With --repair the page also shows what the repair changed, read from "
      "its output T_REPAIRED.kxt beside the table (made by kxtable repair): "
      "the stamps replaced and the stamps written against the record number, "
      "how many were replaced, and the runs of more than 100 records that "
      "were all given one written stamp (spreads). Records are paired by the "
      "bytes after their date and time, which a repair never changes, so the "
      "repair's options need not be known; where the output stops matching "
      "the table the page and standard error say so. With --restore nothing "
      "but the table is read: the page shows what `kxtable repair --restore` "
      "would write with its default options. A missing output is an error "
      "(status 2).\n\n" +
      StatusNote("every table is clean (deleted records alone are normal)",
                 "one has damage (as for kxtable check), or a page exists "
                 "and --force was not given, or would be one of the table's "
                 "files") +
      "\n\nExamples:\n"
      "  kxtable report line4.kxt && echo 'line4 is clean'\n"
      "  kxtable report --force -o /tmp/line4.html line4.kxt\n"
      "  kxtable report -r logs/\n"
      "  kxtable report -o - line4.kxt > line4.html\n"
      "  kxtable repair line4.kxt && kxtable report --repair line4.kxt\n"
      "  kxtable report --restore line4.kxt");
  report->callback([&run, args] { run = [args] { return RunReport(*args); }; });
}

}  // namespace kxtable
