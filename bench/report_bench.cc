// Cost of the structured report: `kxtable check --json` against the plain
// text `kxtable check --full` on the same table, both writing every finding
// to a file. The two run in turn, round after round, so that both meet the
// same machine; times are processor time (user + system) of the child.
//
//   report_bench [--dir D] [--records N] [--damage F] [--rounds R]
//                [--only check|repair]
//
// Prints each round's times and ratio, then the ratio of the best times and
// the spread of the rounds' ratios, and exits 1 when the ratio of the best
// times is above 1.5.
//
// Then, for comparison only (the exit status does not depend on it), the
// same for `kxtable repair --json` against `kxtable repair` with its text
// report, which stops listing at 65,000 characters, and against `repair
// --full`, which lists what the JSON lists, in processor time and in elapsed
// time (the repair writes and syncs its table; every report goes to a file);
// and the peak memory of each run, which must not grow with the table. With
// KX_BASELINE_KXTABLE naming another kxtable (an earlier build), its repairs
// run in the same rounds, in turn with this build's.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bench/support/child_process.h"
#include "bench/support/flags.h"
#include "bench/support/work_dir.h"

namespace {

namespace fs = std::filesystem;

// check exits 1 on a damaged table.
kxbench::ChildUsage Run(const std::vector<std::string>& argv,
                        const std::string& out, const std::string& err) {
  return kxbench::MustRun(argv, out, err, /*found_ok=*/true);
}

// The lowest, median and highest of some values.
struct Spread {
  double low = 0;
  double median = 0;
  double high = 0;
};

Spread SpreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values.front(), values[values.size() / 2], values.back()};
}

double Best(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

// One kxtable's repair, repair --full and repair --json over the rounds.
struct RepairRuns {
  RepairRuns(std::string name, std::string program)
      : name(std::move(name)), program(std::move(program)) {}
  std::string name;
  std::string program;
  std::vector<double> cpu[3];
  std::vector<double> wall[3];
  long rss[3] = {0, 0, 0};
};

void PrintRepairRuns(const RepairRuns& runs) {
  const char* what[3] = {"repair", "--full", "--json"};
  std::printf("  repair (%s):\n", runs.name.c_str());
  for (int i = 0; i < 3; ++i) {
    const Spread cpu = SpreadOf(runs.cpu[i]);
    const Spread wall = SpreadOf(runs.wall[i]);
    std::printf(
        "    %-7s cpu best %7.1f ms (highest %7.1f)   elapsed best %7.1f ms "
        "(highest %7.1f)   peak memory %ld KB\n",
        what[i], cpu.low * 1e3, cpu.high * 1e3, wall.low * 1e3, wall.high * 1e3,
        runs.rss[i]);
  }
  std::vector<double> cpu_ratios;
  std::vector<double> wall_ratios;
  for (size_t r = 0; r < runs.cpu[0].size(); ++r) {
    cpu_ratios.push_back(runs.cpu[2][r] / runs.cpu[0][r]);
    wall_ratios.push_back(runs.wall[2][r] / runs.wall[0][r]);
  }
  const double cpu = Best(runs.cpu[2]) / Best(runs.cpu[0]);
  const double wall = Best(runs.wall[2]) / Best(runs.wall[0]);
  const Spread cpu_rounds = SpreadOf(cpu_ratios);
  const Spread wall_rounds = SpreadOf(wall_ratios);
  std::printf(
      "    --json / repair, best times: elapsed %.2f (limit 1.5: %s), "
      "processor %.2f (%s); --json / --full processor %.2f\n",
      wall, wall <= 1.5 ? "met" : "missed", cpu, cpu <= 1.5 ? "met" : "missed",
      Best(runs.cpu[2]) / Best(runs.cpu[1]));
  std::printf(
      "    per-round --json / repair: elapsed lowest %.2f, median %.2f, "
      "highest %.2f; processor lowest %.2f, median %.2f, highest %.2f\n",
      wall_rounds.low, wall_rounds.median, wall_rounds.high, cpu_rounds.low,
      cpu_rounds.median, cpu_rounds.high);
}

}  // namespace

int main(int argc, char** argv) {
  const kxbench::Flags flags(
      argc, argv, {"--dir", "--records", "--damage", "--only", "--rounds"});
  std::string dir = flags.Text("--dir");
  const long long records = flags.Number("--records", 1000000);
  const std::string damage = flags.Text("--damage", "0.01");
  const int rounds = std::max<int>(1, flags.Number("--rounds", 7));
  const std::string only = flags.Text("--only");
  if (!only.empty() && only != "check" && only != "repair") {
    std::fprintf(stderr, "--only takes check or repair\n");
    return 2;
  }
  const bool own_dir = kxbench::MakeWorkDir(dir, "report_bench");
  const std::string kxt = dir + "/bench.kxt";
  const std::string err = dir + "/err.txt";
  Run({KXTABLE_PATH, "sample", kxt, "--records", std::to_string(records),
       "--seed", "1", "--damage", damage, "--force"},
      "/dev/null", err);
  std::printf("report_bench: %lld records, damage %s, %d rounds, in %s\n",
              records, damage.c_str(), rounds, dir.c_str());

  bool met = true;
  if (only != "repair") {
    const std::vector<std::string> full = {KXTABLE_PATH, "check", "--full",
                                           "--no-progress", kxt};
    const std::vector<std::string> json = {KXTABLE_PATH, "check", "--json",
                                           "--no-progress", kxt};
    Run(full, dir + "/full.txt", err);  // into the page cache
    kxbench::ChildUsage best_full, best_json;
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
      const kxbench::ChildUsage f = Run(full, dir + "/full.txt", err);
      const kxbench::ChildUsage j = Run(json, dir + "/report.json", err);
      kxbench::KeepBest(best_full, f);
      kxbench::KeepBest(best_json, j);
      ratios.push_back(j.cpu / f.cpu);
      std::printf(
          "  round %d: check --full cpu %7.1f ms (wall %7.1f)   "
          "--json cpu %7.1f ms (wall %7.1f)   ratio %.2f\n",
          r + 1, f.cpu * 1e3, f.wall * 1e3, j.cpu * 1e3, j.wall * 1e3,
          ratios.back());
    }
    std::sort(ratios.begin(), ratios.end());
    const double ratio = best_json.cpu / best_full.cpu;
    met = ratio <= 1.5;
    std::printf("  output: %ju bytes of text, %ju bytes of JSON\n",
                static_cast<uintmax_t>(fs::file_size(dir + "/full.txt")),
                static_cast<uintmax_t>(fs::file_size(dir + "/report.json")));
    std::printf(
        "  best --json / best --full (processor time) %.2f  "
        "(target <= 1.5)  %s\n",
        ratio, met ? "met" : "MISSED");
    std::printf("  per-round ratios: lowest %.2f, median %.2f, highest %.2f\n",
                ratios.front(), ratios[ratios.size() / 2], ratios.back());
    std::printf("  peak memory: check --full %ld KB, --json %ld KB\n",
                best_full.max_rss_kb, best_json.max_rss_kb);
  }

  // The repair, for comparison.
  std::vector<RepairRuns> programs = {{"this build", KXTABLE_PATH}};
  if (const char* baseline = std::getenv("KX_BASELINE_KXTABLE")) {
    programs.emplace_back("baseline", baseline);
  }
  for (int r = 0; only != "check" && r < rounds; ++r) {
    for (RepairRuns& runs : programs) {
      const std::vector<std::string> repair = {
          runs.program, "repair", "--replace", "--no-progress", kxt};
      std::vector<std::string> argv[3] = {repair, repair, repair};
      argv[1].push_back("--full");
      argv[2].push_back("--json");
      for (int i = 0; i < 3; ++i) {
        // Removed here, not truncated by the run: dropping the last run's
        // pages is no part of this one.
        fs::remove(dir + "/repair.out");
        const kxbench::ChildUsage u = Run(argv[i], dir + "/repair.out", err);
        runs.cpu[i].push_back(u.cpu);
        runs.wall[i].push_back(u.wall);
        runs.rss[i] = std::max(runs.rss[i], u.max_rss_kb);
      }
    }
  }
  if (only != "check") {
    std::printf("  repair output: %ju bytes of JSON\n",
                static_cast<uintmax_t>(fs::file_size(dir + "/repair.out")));
    for (const RepairRuns& runs : programs) PrintRepairRuns(runs);
  }
  if (own_dir) fs::remove_all(dir);
  return met ? 0 : 1;
}
