// kxtable sample T.kxt --records N [--seed S] [--damage F] [--force]
//   [--cadence SECONDS [--jitter SECONDS]] [--kinds K,...] [--block-length N]
//   [--truth FILE]
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tools/kxtable/commands.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/sample_generator.h"

namespace kxtable {

void AddSampleCommand(CLI::App& app, Runner& run) {
  struct Args {
    std::string table;
    SampleOptions options;
    bool force = false;
    std::vector<std::string> kinds;
    std::string truth;
  };
  auto args = std::make_shared<Args>();

  CLI::App* sample = app.add_subcommand(
      "sample",
      "Make a table of logged readings (a reading every few seconds from "
      "eight instruments, or at a regular cadence) where a fraction of the "
      "records is damaged in every way the checker looks for, or in the "
      "kinds chosen; optionally with the true stamps beside it. The same "
      "seed gives the same bytes.");
  sample->add_option("table", args->table, "table to create")
      ->required()
      ->check(TablePath());
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
  CLI::Option* cadence =
      sample
          ->add_option("--cadence", args->options.cadence,
                       "a reading every SECONDS seconds (by default every 1 "
                       "to 5 seconds)")
          ->type_name("SECONDS")
          ->check(CLI::Range(int64_t{1}, int64_t{86400}));
  sample
      ->add_option("--jitter", args->options.jitter,
                   "each step varies uniformly by up to SECONDS seconds either "
                   "way, at most the cadence")
      ->type_name("SECONDS")
      ->needs(cadence)
      ->check(CLI::Range(int64_t{0}, int64_t{86400}));
  std::string kind_names;
  for (int kind = 1; kind <= kSampleAllDamageKinds; ++kind) {
    std::string name(SampleDamageName(static_cast<SampleDamage>(kind)));
    for (char& c : name) {
      if (c == ' ') c = '-';
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    kind_names += (kind == 1 ? "" : ", ") + name;
  }
  sample
      ->add_option("--kinds", args->kinds,
                   "the kinds of damage, separated by commas, each as likely "
                   "as the others: " +
                       kind_names +
                       ". bitflip flips one bit of a digit of the stamp, "
                       "smash replaces one byte of the date or time, block "
                       "makes the date and time of a run of records garbage, "
                       "zerotime sets the time to 00:00:00. By default the "
                       "first fourteen.")
      ->delimiter(',')
      ->type_name("KIND")
      ->check(CLI::Validator(
          [](std::string& name) {
            SampleDamage kind;
            return SampleDamageNamed(name, kind)
                       ? std::string()
                       : "unknown kind of damage '" + name + "'";
          },
          ""));
  sample
      ->add_option("--block-length", args->options.block_length,
                   "a damaged block is 2 to N records long")
      ->type_name("N")
      ->capture_default_str()
      ->check(CLI::Range(2, 1000000));
  sample
      ->add_option(
          "--truth", args->truth,
          "also write the true stamp of every record, damaged or not, to FILE "
          "as "
          "CSV lines 'record,stamp' after a header; with --force an existing "
          "FILE is replaced")
      ->type_name("FILE");
  sample->add_flag("--force", args->force, "replace an existing table");
  sample->footer(
      "Examples:\n"
      "  kxtable sample line4.kxt --records 1000000 --damage 0.01\n"
      "  kxtable sample logger.kxt --records 60000 --cadence 10 --damage "
      "0.002 \\\n"
      "      --kinds bitflip,smash,block,zerotime --truth logger.csv");
  sample->callback([&run, args] {
    for (const std::string& name : args->kinds) {
      SampleDamage kind;
      SampleDamageNamed(name, kind);
      args->options.kinds.push_back(kind);
    }
    if (args->options.jitter > args->options.cadence) {
      throw CLI::ValidationError("--jitter", "must be at most the cadence");
    }
    run = [args] {
      WriteSampleTable(args->table, args->options, args->force, args->truth);
      return 0;
    };
  });
}

}  // namespace kxtable
