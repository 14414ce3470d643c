// kxtable import data.csv T.kxt [--force] [--delimiter D] [--no-header]
//                [--date-format F] [--time-format F]
// kxtable export T.kxt [data.csv] [--force]
#include <cstdio>
#include <memory>
#include <string>

#include "tools/kxtable/commands.h"
#include "tools/kxtable/csv_convert.h"
#include "tools/kxtable/csv_new_table.h"

namespace kxtable {

namespace {

struct CsvArgs {
  std::string csv = "-";
  std::string table;
  bool force = false;
  std::string delimiter;
  bool no_header = false;
  std::string date_format;
  std::string time_format;
};

int Import(const CsvArgs& args) {
  CsvFormat format;
  format.header = !args.no_header;
  if (!args.delimiter.empty()) {
    format.delimiter = args.delimiter == "tab" ? '\t' : args.delimiter[0];
  }
  format.date_format = args.date_format;
  format.time_format = args.time_format;
  ImportCsv(args.csv, args.table, args.force, format);
  return 0;
}

int Export(const CsvArgs& args) {
  return ReportTableProblems(
      args.csv == "-" ? ExportCsv(args.table, stdout)
                      : ExportCsvFile(args.table, args.csv, args.force));
}

}  // namespace

void AddCsvCommands(CLI::App& app, Runner& run) {
  auto args = std::make_shared<CsvArgs>();

  CLI::App* import = app.add_subcommand(
      "import",
      "Make a table from a CSV file: a header row, then date (YYYY-MM-DD), "
      "time (HH:MM:SS) and payload columns, and optionally a last column "
      "'deleted' (0 or 1). Headings 'name:width' set a least field width. A "
      "UTF-8 byte order mark is skipped, and a file with a UTF-16 one is read "
      "as UTF-16; cells written \\xHH are that byte.");
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
      ->check(CLI::IsMember({",", ";", "tab", "\t"}))
      ->type_name("D");
  import->add_flag("--no-header", args->no_header,
                   "the first row is data too; the payload columns are named "
                   "field3, field4, ...");
  import
      ->add_option("--date-format", args->date_format,
                   "read the date cells with this strptime(3) format, such "
                   "as %d/%m/%Y or %m/%d/%y (without it a date cell that is "
                   "not YYYY-MM-DD is refused)")
      ->type_name("FORMAT");
  import
      ->add_option("--time-format", args->time_format,
                   "read the time cells with this strptime(3) format, such "
                   "as %H:%M or %I:%M:%S %p (without it a time cell that is "
                   "not HH:MM:SS is refused)")
      ->type_name("FORMAT");
  import->footer(
      StatusNote("the table was made",
                 "a cell or row is refused (the message names its line and "
                 "column) or the table exists") +
      "\n\nExamples:\n"
      "  kxtable import readings.csv line4.kxt\n"
      "  kxtable export old.kxt | kxtable import - new.kxt --force\n"
      "  kxtable import --delimiter ';' --no-header export.csv line4.kxt\n"
      "  kxtable import --date-format %d/%m/%Y --time-format %H:%M excel.txt "
      "line4.kxt");
  import->callback([&run, args] { run = [args] { return Import(*args);
};
}  // namespace kxtable
);

CLI::App* export_command = app.add_subcommand(
    "export",
    "Write a table as CSV, with a header row and a last column 'deleted', "
    "as import reads it back; bytes that are not text, and in the date and "
    "time columns every character that is not where YYYY-MM-DD HH:MM:SS "
    "has it, are written as \\xHH.");
export_command->add_option("table", args->table, "table to read")
    ->required()
    ->check(TablePath());
export_command->add_option(
    "csv", args->csv, "CSV file to create; - or nothing for standard output");
export_command->add_flag("--force", args->force,
                         "replace an existing CSV file");
export_command->footer(
    StatusNote("every record was written and the table's files have no "
               "problem",
               "they have one (each is an error line) or the CSV file "
               "exists") +
    "\n\nExamples:\n"
    "  kxtable export line4.kxt > line4.csv\n"
    "  kxtable export line4.kxt line4.csv --force");
export_command->callback([&run, args] {
  run = [args] { return Export(*args); };
});
}

}  // namespace kxtable
