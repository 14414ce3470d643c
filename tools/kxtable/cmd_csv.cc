// kxtable import data.csv T.kxt [--force]
// kxtable export T.kxt
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
    std::string csv;
    std::string table;
    bool force = false;
  };
  auto args = std::make_shared<Args>();

  CLI::App* import = app.add_subcommand(
      "import",
      "Make a table from a CSV file: a header row, then date (YYYY-MM-DD), "
      "time (HH:MM:SS) and payload columns, and optionally a last column "
      "'deleted' (0 or 1). Headings 'name:width' set a least field width.");
  import->add_option("csv", args->csv, "CSV file")->required();
  import->add_option("table", args->table, "table to create")
      ->required()
      ->check(TablePath());
  import->add_flag("--force", args->force, "replace an existing table");
  import->callback([&run, args] {
    run = [args] {
      ImportCsv(args->csv, args->table, args->force);
  return 0;
};
}  // namespace kxtable
);

CLI::App* export_command = app.add_subcommand(
    "export",
    "Write a table as CSV to standard output, with a last column 'deleted'; "
    "bytes that are not text are written as \\xHH.");
export_command->add_option("table", args->table, "table to read")
    ->required()
    ->check(TablePath());
export_command->callback([&run, args] {
  run = [args] { return ReportTableProblems(ExportCsv(args->table, stdout)); };
});
}

}  // namespace kxtable
