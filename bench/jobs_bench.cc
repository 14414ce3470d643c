// Many tables at once: `kxtable check --jobs 2` against `--jobs 1` on the
// same folder of tables, in turn, round after round. Times are wall-clock
// times, as --jobs is there to shorten them; processor time and peak memory
// are shown beside them. The outputs of the two must be the same bytes.
//
//   jobs_bench [--dir D] [--tables T] [--records N] [--damage F]
//              [--rounds R] [--full]
//
// --full compares the whole text reports (the reports of the tables that
// wait for their turn are kept in temporary files, not in memory) instead
// of the summaries. Prints each round's times and ratio, then the ratio of
// the best times and the peak memory of each, and exits 1 when the outputs
// differ or, on a machine of two cores or more, when the ratio of the best
// times is above 0.8.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
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

}  // namespace

int main(int argc, char** argv) {
  const kxbench::Flags flags(
      argc, argv, {"--dir", "--tables", "--records", "--damage", "--rounds"},
      {"--full"});
  std::string dir = flags.Text("--dir");
  const int tables = std::max<int>(2, flags.Number("--tables", 20));
  const long long records = flags.Number("--records", 300000);
  const std::string damage = flags.Text("--damage", "0.02");
  const int rounds = std::max<int>(1, flags.Number("--rounds", 5));
  const bool full = flags.Has("--full");
  const bool own_dir = kxbench::MakeWorkDir(dir, "jobs_bench");
  const std::string folder = dir + "/tables";
  const std::string err = dir + "/err.txt";
  fs::create_directories(folder);
  for (int t = 1; t <= tables; ++t) {
    char name[32];
    std::snprintf(name, sizeof name, "/t%03d.kxt", t);
    Run({KXTABLE_PATH, "sample", folder + name, "--records",
         std::to_string(records), "--seed", std::to_string(t), "--damage",
         damage, "--force"},
        "/dev/null", err);
  }
  const unsigned cores = std::thread::hardware_concurrency();
  std::printf(
      "jobs_bench: %d tables of %lld records, damage %s, %s, %d rounds, "
      "%u cores, in %s\n",
      tables, records, damage.c_str(), full ? "--full" : "--summary", rounds,
      cores, dir.c_str());

  auto command = [&](const char* jobs) {
    return std::vector<std::string>{
        KXTABLE_PATH,    "check",  full ? "--full" : "--summary",
        "--no-progress", "--jobs", jobs,
        folder};
  };
  const std::string one_out = dir + "/one.txt";
  const std::string two_out = dir + "/two.txt";
  Run(command("1"), one_out, err);  // into the page cache
  kxbench::ChildUsage best_one;
  kxbench::ChildUsage best_two;
  bool same = true;
  for (int r = 0; r < rounds; ++r) {
    const kxbench::ChildUsage one = Run(command("1"), one_out, err);
    const kxbench::ChildUsage two = Run(command("2"), two_out, err);
    same &= kxbench::ReadText(one_out) == kxbench::ReadText(two_out);
    if (r == 0 || one.wall < best_one.wall) best_one = one;
    if (r == 0 || two.wall < best_two.wall) best_two = two;
    std::printf(
        "  round %d: --jobs 1 wall %7.1f ms (cpu %7.1f)   --jobs 2 wall "
        "%7.1f ms (cpu %7.1f)   ratio %.2f\n",
        r + 1, one.wall * 1e3, one.cpu * 1e3, two.wall * 1e3, two.cpu * 1e3,
        two.wall / one.wall);
  }
  const double ratio = best_two.wall / best_one.wall;
  const bool limit_applies = cores >= 2;
  const bool met = !limit_applies || ratio <= 0.8;
  std::printf("  output: %ju bytes, the same with both: %s\n",
              static_cast<uintmax_t>(fs::file_size(one_out)),
              same ? "yes" : "NO");
  std::printf("  peak memory: --jobs 1 %ld KiB, --jobs 2 %ld KiB\n",
              best_one.max_rss_kb, best_two.max_rss_kb);
  std::printf(
      "  best --jobs 2 / best --jobs 1 (wall time) %.2f  (limit 0.8%s)"
      "  %s\n",
      ratio, limit_applies ? "" : ", not applied on one core",
      met ? "met" : "MISSED");
  if (own_dir) fs::remove_all(dir);
  return same && met ? 0 : 1;
}
