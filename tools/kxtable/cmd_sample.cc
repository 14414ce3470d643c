// kxtable sample T.kxt --records N [--seed S] [--damage F] [--force]
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "tools/kxtable/commands.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/sample_generator.h"

namespace kxtable {

void AddSampleCommand(CLI::App& app, Runner& run) {
  struct Args {
    std::string table;
    SampleOptions options;
    bool force = false;
  };
  auto args = std::make_shared<Args>();

  CLI::App* sample = app.add_subcommand(
      "sample",
      "Make a table of logged readings (a reading every few seconds from "
      "eight instruments) where a fraction of the records is damaged in every "
      "way the checker looks for. The same seed gives the same bytes.");
  sample->add_option("table", args->table, "table to create")
      ->required()
      ->check(CLI::Validator(
          [](std::string& path) {
            return HasKxtExtension(path) ? std::string()
                                         : "a table path must end in .kxt";
          },
          "TABLE.kxt"));
  sample->add_option("--records", args->options.records, "number of records")
      ->required()
      ->check(
          CLI::Range(int64_t{0}, int64_t{std::numeric_limits<int32_t>::max()}));
  sample->add_option("--seed", args->options.seed, "random seed")
      ->capture_default_str();
  sample
      ->add_option("--damage", args->options.damage,
                   "fraction of damaged records, 0 to 1")
      ->capture_default_str()
      ->check(CLI::Validator(
          [](std::string& text) {
            double value = -1;
            try {
              value = std::stod(text);
            } catch (...) {
            }
            return value >= 0.0 && value <= 1.0
                       ? std::string()
                       : "the damage fraction must be a number from 0 to 1";
          },
          "FRACTION"));
  sample->add_flag("--force", args->force, "replace an existing table");
  sample->footer(
      "Example:\n  kxtable sample line4.kxt --records 1000000 --damage 0.01");
  sample->callback([&run, args] {
    run = [args] {
      WriteSampleTable(args->table, args->options, args->force);
      return 0;
    };
  });
}

}  // namespace kxtable
