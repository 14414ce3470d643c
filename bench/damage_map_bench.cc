// Cost of the damage map page: `kxtable report` (the check scan with every
// record fed to the damage map, and the page written) against `kxtable
// check` on the same sample table, at two sizes. The two run in turn, round
// after round, so that both meet the same machine; times are processor time
// (user + system) of the child, the best of the rounds. Memory is the
// child's peak resident set. The same for `kxtable report --repair` (with
// the table's repair made first) and `kxtable report --restore`.
//
//   damage_map_bench [--dir D] [--records N] [--large M] [--damage F]
//                    [--rounds R]
//
// N is 1,000,000 and M 10,000,000 by default (--large 0 leaves the large
// table out). Prints one line per round and size, and exits 1 when report
// takes more than 1.5 times the check's time at either size, or when what
// report (with or without --repair or --restore) holds beyond what the
// check holds grows with the table. The times of --repair and --restore are
// printed against the check's for comparison, beside two floors that bound
// them from below: the restoring rule alone over the table's stamps (run in
// this process on stamps read beforehand: those of every record neither null
// nor deleted), and the reading of the repair's output (`kxtable check` of
// T_REPAIRED.kxt, and the engine's reading of its records in this process,
// as --repair reads them).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/child_process.h"
#include "bench/support/flags.h"
#include "bench/support/work_dir.h"
#include "core/stamp.h"
#include "core/stamp_restore.h"
#include "engine/record_table.h"
#include "platform/system.h"
#include "tools/kxtable/repair_overlay.h"

namespace {

namespace fs = std::filesystem;

constexpr double kLimit = 1.5;

// check and report exit 1 on a damaged table.
kxbench::ChildUsage Run(const std::vector<std::string>& argv,
                        const std::string& err) {
  return kxbench::MustRun(argv, "/dev/null", err, /*found_ok=*/true);
}

// Where the reads of ReadSeconds go, so that they are made.
volatile uint64_t g_sink = 0;

double ProcessSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The stamps of the records of `path` that are neither null nor deleted, as
// the map's overlay of the restoring rule is given them: each in a slot of
// 19 bytes of one block (freed whole, so that the children run after it do
// not start from this process's peak), with its size.
struct Stamps {
  std::string slots;
  std::vector<uint8_t> sizes;
};

Stamps TableStamps(const std::string& path) {
  kalvex::RecordTable table;
  table.Open(path);
  Stamps stamps;
  stamps.slots.reserve(static_cast<size_t>(table.RecordCount()) * 19);
  stamps.sizes.reserve(static_cast<size_t>(table.RecordCount()));
  for (int32_t n = 1; n <= table.RecordCount(); ++n) {
    table.GoToRecord(n);
    const std::string_view record = table.RecordBuffer();
    if (kxcheck::IsCheckNull(record) || table.Deleted()) continue;
    char room[19] = {};
    const std::string_view stamp = kxtable::RecordStamp(record, room);
    stamps.slots.append(room, 19);
    stamps.sizes.push_back(static_cast<uint8_t>(stamp.size()));
  }
  return stamps;
}

// Processor seconds of the restoring rule over `stamps`, every ready stamp
// taken as soon as it is ready; `kept` counts the stamps kept.
double RestoreSeconds(const Stamps& stamps, int64_t& kept) {
  const double start = ProcessSeconds();
  kxcheck::StampRestorer restorer(platform::CurrentYear());
  kept = 0;
  auto drain = [&] {
    while (restorer.Ready()) {
      kept += restorer.Front().fate == kxcheck::StampFate::kKept;
      restorer.Pop();
    }
  };
  for (size_t i = 0; i < stamps.sizes.size(); ++i) {
    restorer.Push(
        static_cast<int64_t>(i) + 1,
        std::string_view(stamps.slots).substr(i * 19, stamps.sizes[i]));
    drain();
  }
  restorer.Finish();
  drain();
  return ProcessSeconds() - start;
}

// Processor seconds of reading every record of `path` through the engine,
// as report --repair reads the repair's output; `sum` keeps the reads.
double ReadSeconds(const std::string& path, uint64_t& sum) {
  const double start = ProcessSeconds();
  kalvex::RecordTable table;
  table.Open(path);
  sum = 0;
  for (int32_t n = 1; n <= table.RecordCount(); ++n) {
    table.GoToRecord(n);
    const std::string_view record = table.RecordBuffer();
    sum += static_cast<unsigned char>(record.back());
  }
  table.Close();
  return ProcessSeconds() - start;
}

// The best times and the largest peak memory of the rounds.
struct Figures {
  long long records = 0;
  kxbench::ChildUsage check, report, repair, restore;
  kxbench::ChildUsage output_check;  // kxtable check T_REPAIRED.kxt
  double output_read_cpu = 0;        // the engine's reading of it, in process
  double restore_rule_cpu = 0;       // the restoring rule alone, in process
  int64_t rule_kept = 0;             // of the stamps given to it
  double Ratio() const { return report.cpu / check.cpu; }
};

Figures Measure(const std::string& dir, long long records,
                const std::string& damage, int rounds) {
  const std::string kxt = dir + "/bench" + std::to_string(records) + ".kxt";
  const std::string page = dir + "/bench.report.html";
  const std::string err = dir + "/err.txt";
  Run({KXTABLE_PATH, "sample", kxt, "--records", std::to_string(records),
       "--seed", "1", "--damage", damage, "--force"},
      err);
  const std::vector<std::string> check = {KXTABLE_PATH, "check",
                                          "--no-progress", kxt};
  const std::vector<std::string> report = {
      KXTABLE_PATH, "report", "--no-progress", "--force", "-o", page, kxt};
  std::vector<std::string> repair = report;
  repair.insert(repair.begin() + 2, "--repair");
  std::vector<std::string> restore = report;
  restore.insert(restore.begin() + 2, "--restore");
  Run({KXTABLE_PATH, "repair", "--no-progress", "--replace", kxt}, err);
  const std::string repaired = kxt.substr(0, kxt.size() - 4) + "_REPAIRED.kxt";
  const std::vector<std::string> check_output = {KXTABLE_PATH, "check",
                                                 "--no-progress", repaired};
  Run(check, err);  // into the page cache
  Run(check_output, err);
  Figures f;
  f.records = records;
  for (int r = 0; r < rounds; ++r) {
    kxbench::KeepBest(f.output_check, Run(check_output, err));
    const kxbench::ChildUsage c = Run(check, err);
    const kxbench::ChildUsage p = Run(report, err);
    const kxbench::ChildUsage a = Run(repair, err);
    const kxbench::ChildUsage s = Run(restore, err);
    kxbench::KeepBest(f.check, c);
    kxbench::KeepBest(f.report, p);
    kxbench::KeepBest(f.repair, a);
    kxbench::KeepBest(f.restore, s);
    std::printf(
        "  %lld records, round %d: check %8.2f ms  report %8.2f ms  "
        "--repair %8.2f ms  --restore %8.2f ms  ratio %.2f\n",
        records, r + 1, c.cpu * 1e3, p.cpu * 1e3, a.cpu * 1e3, s.cpu * 1e3,
        p.cpu / c.cpu);
  }
  // The floors, in this process, once every child has run.
  {
    const Stamps stamps = TableStamps(kxt);
    for (int r = 0; r < rounds; ++r) {
      int64_t kept = 0;
      uint64_t sum = 0;
      const double rule = RestoreSeconds(stamps, kept);
      const double read = ReadSeconds(repaired, sum);
      f.restore_rule_cpu = r == 0 ? rule : std::min(f.restore_rule_cpu, rule);
      f.output_read_cpu = r == 0 ? read : std::min(f.output_read_cpu, read);
      f.rule_kept = kept;
      g_sink = sum;
    }
  }
  std::printf(
      "  %lld records: check %.2f ms (%.2f ns/record), report %.2f ms "
      "(%.2f ns/record); report / check %.2f (limit %.1f) %s\n",
      records, f.check.cpu * 1e3, f.check.cpu / records * 1e9,
      f.report.cpu * 1e3, f.report.cpu / records * 1e9, f.Ratio(), kLimit,
      f.Ratio() <= kLimit ? "within" : "OVER");
  std::printf(
      "  %lld records: report --repair %.2f ms, / check %.2f; report "
      "--restore %.2f ms, / check %.2f\n",
      records, f.repair.cpu * 1e3, f.repair.cpu / f.check.cpu,
      f.restore.cpu * 1e3, f.restore.cpu / f.check.cpu);
  std::printf(
      "  %lld records: floors: the restoring rule alone %.2f ms (/ check "
      "%.2f, %lld stamps kept); reading the output %.2f ms in process (/ check "
      "%.2f), "
      "kxtable check of it %.2f ms (/ check %.2f)\n",
      records, f.restore_rule_cpu * 1e3, f.restore_rule_cpu / f.check.cpu,
      static_cast<long long>(f.rule_kept), f.output_read_cpu * 1e3,
      f.output_read_cpu / f.check.cpu, f.output_check.cpu * 1e3,
      f.output_check.cpu / f.check.cpu);
  std::printf(
      "  %lld records: peak memory check %ld KiB, report %ld KiB, --repair "
      "%ld KiB, --restore %ld KiB\n",
      records, f.check.max_rss_kb, f.report.max_rss_kb, f.repair.max_rss_kb,
      f.restore.max_rss_kb);
  kxbench::RemoveTable(kxt);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const kxbench::Flags flags(
      argc, argv, {"--dir", "--records", "--large", "--damage", "--rounds"});
  std::string dir = flags.Text("--dir");
  const long long records =
      std::max<int64_t>(1, flags.Number("--records", 1000000));
  const long long large =
      std::max<int64_t>(0, flags.Number("--large", 10000000));
  const std::string damage = flags.Text("--damage", "0.01");
  const int rounds = std::max<int>(1, flags.Number("--rounds", 5));
  const bool own_dir = kxbench::MakeWorkDir(dir, "damage_map_bench");
  std::printf("damage_map_bench: damage %s, %d rounds, in %s\n", damage.c_str(),
              rounds, dir.c_str());

  std::vector<Figures> sizes = {Measure(dir, records, damage, rounds)};
  if (large > 0) sizes.push_back(Measure(dir, large, damage, rounds));

  bool fast = true;
  for (const Figures& f : sizes) fast = fast && f.Ratio() <= kLimit;
  // What report holds beside the check's own (the map, the page) is the
  // same however long the table; allowed: a tenth, or 2 MiB, for the
  // allocator's rounding.
  bool bounded = true;
  if (sizes.size() == 2) {
    auto compare = [&](const char* what, kxbench::ChildUsage Figures::*run) {
      const long small_extra =
          (sizes[0].*run).max_rss_kb - sizes[0].check.max_rss_kb;
      const long large_extra =
          (sizes[1].*run).max_rss_kb - sizes[1].check.max_rss_kb;
      const bool within =
          large_extra <= small_extra + std::max(2048L, small_extra / 10);
      std::printf(
          "  %s beyond check: %ld KiB at %lld records, %ld KiB at %lld: "
          "%s\n",
          what, small_extra, sizes[0].records, large_extra, sizes[1].records,
          within ? "does not grow with the table" : "GROWS with the table");
      bounded = bounded && within;
    };
    compare("report", &Figures::report);
    compare("report --repair", &Figures::repair);
    compare("report --restore", &Figures::restore);
  }
  if (own_dir) fs::remove_all(dir);
  return fast && bounded ? 0 : 1;
}
