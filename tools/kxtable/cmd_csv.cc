// kxtable import data.csv T.kxt [--force] [--delimiter D] [--no-header]
// kxtable export T.kxt [data.csv] [--force]
#include <cstdio>
#include <memory>
#include <string>

#include "tools/kxtable/commands.h"
#include "tools/kxtable/csv_convert.h"
#include "tools/kxtable/csv_new_table.h"

namespace kxtable {

namespace {

CLI::Validator TablePath() {
  return CLI::Validator(
      [](std::string& path) {
        return HasKxtExtension(path) ? std::string()
                                     : "a table path must end in .kxt";
      },
      "TABLE.kxt");
}

}  // namespace

void AddCsvCommands(CLI::App& app, Runner& run) {
  struct Args {
    std::string csv = "-";
    std::string table;
    bool force = false;
    std::string delimiter;
    bool no_header = false;
  };
  auto args = std::make_shared<Args>();

  CLI::App* import = app.add_subcommand(
      "import",
      "Make a table from a CSV file: a header row, then date (YYYY-MM-DD), "
      "time (HH:MM:SS) and payload columns, and optionally a last column "
      "'deleted' (0 or 1). Headings 'name:width' set a least field width. A "
      "UTF-8 byte order mark is skipped; cells written \\xHH are that byte.");
  import->add_option("csv", args->csv, "CSV file, - for standard input")
      ->required();
  import->add_option("table", args->table, "table to create")
      ->required()
      ->check(TablePath());
  import->add_flag("--force", args->force, "replace an existing table");
  import
      ->add_option("--delimiter", args->delimiter,
                   "the cell separator: ',' ';' or 'tab' (by default a "
                   "comma, or ';' or a tab when the first line has one "
                   "and no comma outside quotes)")
      ->check(CLI::IsMember({",", ";", "tab", "\t"}));
  import->add_flag("--no-header", args->no_header,
                   "the first row is data too; the payload columns are named "
                   "field3, field4, ...");
  import->footer(
      "Examples:\n"
      "  kxtable import readings.csv line4.kxt\n"
      "  kxtable export old.kxt | kxtable import - new.kxt --force\n"
      "  kxtable import --delimiter ';' --no-header export.csv line4.kxt");
  import->callback([&run, args] {
    run = [args] {
      CsvFormat format;
  format.header = !args->no_header;
  if (!args->delimiter.empty()) {
    format.delimiter = args->delimiter == "tab" ? '\t' : args->delimiter[0];
  }
  ImportCsv(args->csv, args->table, args->force, format);
  return 0;
};
}  // namespace kxtable
);

CLI::App* export_command = app.add_subcommand(
    "export",
    "Write a table as CSV, with a header row and a last column 'deleted', "
    "as import reads it back; bytes that are not text are written as "
    "\\xHH.");
export_command->add_option("table", args->table, "table to read")
    ->required()
    ->check(TablePath());
export_command->add_option(
    "csv", args->csv, "CSV file to create; - or nothing for standard output");
export_command->add_flag("--force", args->force,
                         "replace an existing CSV file");
export_command->footer(
    "Examples:\n"
    "  kxtable export line4.kxt > line4.csv\n"
    "  kxtable export line4.kxt line4.csv --force");
export_command->callback([&run, args] {
  run = [args] {
    return ReportTableProblems(
        args->csv == "-" ? ExportCsv(args->table, stdout)
                         : ExportCsvFile(args->table, args->csv, args->force));
  };
});
}

}  // namespace kxtable
