// Cost of the structured report: `kxtable check --json` against the plain
// text `kxtable check --full` on the same table, both writing every finding
// to a file. The two run in turn, round after round, so that both meet the
// same machine; times are processor time (user + system) of the child.
//
//   report_bench [--dir D] [--records N] [--damage F] [--rounds R]
//
// Prints each round's times and ratio, then the ratio of the best times and
// the spread of the rounds' ratios, and exits 1 when the ratio of the best
// times is above 1.5.
//
// Then, for comparison only (the exit status does not depend on it), the
// same for `kxtable repair --json` against `kxtable repair` with its text
// report, which stops listing at 65,000 characters, and against `repair
// --full`, which lists what the JSON lists; and the peak memory of each
// JSON run, which must not grow with the table.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/child_process.h"
#include "bench/support/work_dir.h"

namespace {

namespace fs = std::filesystem;

kxbench::ChildUsage Run(const std::vector<std::string>& argv,
                        const std::string& out, const std::string& err) {
  kxbench::ChildUsage u = kxbench::RunChild(argv, "/dev/null", out, err);
  // check exits 1 on a damaged table.
  if (u.code != 0 && u.code != 1) {
    std::fprintf(stderr, "%s %s failed (exit %d), see %s\n", argv[0].c_str(),
                 argv[1].c_str(), u.code, err.c_str());
    std::exit(1);
  }
  return u;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  long long records = 1000000;
  std::string damage = "0.01";
  int rounds = 7;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const std::string value = argv[i + 1];
    if (flag == "--dir") {
      dir = value;
    } else if (flag == "--records") {
      records = std::atoll(value.c_str());
    } else if (flag == "--damage") {
      damage = value;
    } else if (flag == "--rounds") {
      rounds = std::max(1, std::atoi(value.c_str()));
    } else {
      std::fprintf(stderr, "unknown flag %s\n", flag.c_str());
      return 2;
    }
  }
  const bool own_dir = kxbench::MakeWorkDir(dir, "report_bench");
  const std::string kxt = dir + "/bench.kxt";
  const std::string err = dir + "/err.txt";
  Run({KXTABLE_PATH, "sample", kxt, "--records", std::to_string(records),
       "--seed", "1", "--damage", damage, "--force"},
      "/dev/null", err);
  std::printf("report_bench: %lld records, damage %s, %d rounds, in %s\n",
              records, damage.c_str(), rounds, dir.c_str());

  const std::vector<std::string> full = {KXTABLE_PATH, "check", "--full",
                                         "--no-progress", kxt};
  const std::vector<std::string> json = {KXTABLE_PATH, "check", "--json",
                                         "--no-progress", kxt};
  Run(full, dir + "/full.txt", err);  // into the page cache
  double best_full = 0;
  double best_json = 0;
  long full_rss = 0;
  long json_rss = 0;
  std::vector<double> ratios;
  for (int r = 0; r < rounds; ++r) {
    const kxbench::ChildUsage f = Run(full, dir + "/full.txt", err);
    const kxbench::ChildUsage j = Run(json, dir + "/report.json", err);
    best_full = r == 0 ? f.cpu : std::min(best_full, f.cpu);
    best_json = r == 0 ? j.cpu : std::min(best_json, j.cpu);
    full_rss = std::max(full_rss, f.max_rss_kb);
    json_rss = std::max(json_rss, j.max_rss_kb);
    ratios.push_back(j.cpu / f.cpu);
    std::printf(
        "  round %d: check --full cpu %7.1f ms (wall %7.1f)   "
        "--json cpu %7.1f ms (wall %7.1f)   ratio %.2f\n",
        r + 1, f.cpu * 1e3, f.wall * 1e3, j.cpu * 1e3, j.wall * 1e3,
        ratios.back());
  }
  std::sort(ratios.begin(), ratios.end());
  const double ratio = best_json / best_full;
  const bool met = ratio <= 1.5;
  std::printf("  output: %ju bytes of text, %ju bytes of JSON\n",
              static_cast<uintmax_t>(fs::file_size(dir + "/full.txt")),
              static_cast<uintmax_t>(fs::file_size(dir + "/report.json")));
  std::printf(
      "  best --json / best --full (processor time) %.2f  "
      "(target <= 1.5)  %s\n",
      ratio, met ? "met" : "MISSED");
  std::printf("  per-round ratios: lowest %.2f, median %.2f, highest %.2f\n",
              ratios.front(), ratios[ratios.size() / 2], ratios.back());
  std::printf("  peak memory: check --full %ld KB, --json %ld KB\n", full_rss,
              json_rss);

  // The repair, for comparison.
  const std::vector<std::string> repair = {KXTABLE_PATH, "repair", "--replace",
                                           "--no-progress", kxt};
  std::vector<std::string> repair_full = repair;
  repair_full.push_back("--full");
  std::vector<std::string> repair_json = repair;
  repair_json.push_back("--json");
  double best[3] = {0, 0, 0};
  long rss[3] = {0, 0, 0};
  for (int r = 0; r < rounds; ++r) {
    const std::vector<std::string>* runs[3] = {&repair, &repair_full,
                                               &repair_json};
    for (int i = 0; i < 3; ++i) {
      const kxbench::ChildUsage u = Run(*runs[i], dir + "/repair.out", err);
      best[i] = r == 0 ? u.cpu : std::min(best[i], u.cpu);
      rss[i] = std::max(rss[i], u.max_rss_kb);
    }
  }
  std::printf(
      "  repair: best cpu %.1f ms, --full %.1f ms, --json %.1f ms; "
      "--json / repair %.2f (limit 1.5: %s), --json / --full %.2f\n",
      best[0] * 1e3, best[1] * 1e3, best[2] * 1e3, best[2] / best[0],
      best[2] / best[0] <= 1.5 ? "met" : "missed", best[2] / best[1]);
  std::printf("  repair peak memory: %ld KB, --full %ld KB, --json %ld KB\n",
              rss[0], rss[1], rss[2]);
  if (own_dir) fs::remove_all(dir);
  return met ? 0 : 1;
}
