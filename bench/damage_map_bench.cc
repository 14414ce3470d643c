// Cost of the damage map page: `kxtable report` (the check scan with every
// record fed to the damage map, and the page written) against `kxtable
// check` on the same sample table, at two sizes. The two run in turn, round
// after round, so that both meet the same machine; times are processor time
// (user + system) of the child, the best of the rounds. Memory is the
// child's peak resident set.
//
//   damage_map_bench [--dir D] [--records N] [--large M] [--damage F]
//                    [--rounds R]
//
// N is 1,000,000 and M 10,000,000 by default (--large 0 leaves the large
// table out). Prints one line per round and size, and exits 1 when report
// takes more than 1.5 times the check's time at either size, or when what
// report holds beyond what the check holds grows with the table.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/child_process.h"

namespace {

namespace fs = std::filesystem;

constexpr double kLimit = 1.5;

kxbench::ChildUsage Run(const std::vector<std::string>& argv,
                        const std::string& err) {
  kxbench::ChildUsage u =
      kxbench::RunChild(argv, "/dev/null", "/dev/null", err);
  // check and report exit 1 on a damaged table.
  if (u.code != 0 && u.code != 1) {
    std::fprintf(stderr, "%s %s failed (exit %d), see %s\n", argv[0].c_str(),
                 argv[1].c_str(), u.code, err.c_str());
    std::exit(1);
  }
  return u;
}

struct Figures {
  long long records = 0;
  double check_cpu = 0;  // best of the rounds
  double report_cpu = 0;
  long check_rss_kb = 0;  // the largest of the rounds
  long report_rss_kb = 0;
  double Ratio() const { return report_cpu / check_cpu; }
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
  Run(check, err);  // into the page cache
  Figures f;
  f.records = records;
  for (int r = 0; r < rounds; ++r) {
    const kxbench::ChildUsage c = Run(check, err);
    const kxbench::ChildUsage p = Run(report, err);
    f.check_cpu = r == 0 ? c.cpu : std::min(f.check_cpu, c.cpu);
    f.report_cpu = r == 0 ? p.cpu : std::min(f.report_cpu, p.cpu);
    f.check_rss_kb = std::max(f.check_rss_kb, c.max_rss_kb);
    f.report_rss_kb = std::max(f.report_rss_kb, p.max_rss_kb);
    std::printf(
        "  %lld records, round %d: check %8.2f ms  report %8.2f ms  ratio "
        "%.2f\n",
        records, r + 1, c.cpu * 1e3, p.cpu * 1e3, p.cpu / c.cpu);
  }
  std::printf(
      "  %lld records: check %.2f ms (%.2f ns/record), report %.2f ms "
      "(%.2f ns/record); report / check %.2f (limit %.1f) %s\n",
      records, f.check_cpu * 1e3, f.check_cpu / records * 1e9,
      f.report_cpu * 1e3, f.report_cpu / records * 1e9, f.Ratio(), kLimit,
      f.Ratio() <= kLimit ? "within" : "OVER");
  std::printf("  %lld records: peak memory check %ld KiB, report %ld KiB\n",
              records, f.check_rss_kb, f.report_rss_kb);
  fs::remove(kxt);
  for (const char* ext : {".kxd", ".kxa", ".kxi"}) {
    fs::remove(kxt.substr(0, kxt.size() - 4) + ext);
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  long long records = 1000000;
  long long large = 10000000;
  std::string damage = "0.01";
  int rounds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const std::string value = argv[i + 1];
    if (flag == "--dir") {
      dir = value;
    } else if (flag == "--records") {
      records = std::max(1LL, std::atoll(value.c_str()));
    } else if (flag == "--large") {
      large = std::max(0LL, std::atoll(value.c_str()));
    } else if (flag == "--damage") {
      damage = value;
    } else if (flag == "--rounds") {
      rounds = std::max(1, std::atoi(value.c_str()));
    } else {
      std::fprintf(stderr, "unknown flag %s\n", flag.c_str());
      return 2;
    }
  }
  const bool own_dir = dir.empty();
  if (own_dir) {
    std::string pattern = fs::temp_directory_path() / "damage_map_bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      return 1;
    }
    dir = pattern;
  }
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
    const long small_extra = sizes[0].report_rss_kb - sizes[0].check_rss_kb;
    const long large_extra = sizes[1].report_rss_kb - sizes[1].check_rss_kb;
    bounded = large_extra <= small_extra + std::max(2048L, small_extra / 10);
    std::printf(
        "  report beyond check: %ld KiB at %lld records, %ld KiB at %lld: "
        "%s\n",
        small_extra, sizes[0].records, large_extra, sizes[1].records,
        bounded ? "does not grow with the table" : "GROWS with the table");
  }
  if (own_dir) fs::remove_all(dir);
  return fast && bounded ? 0 : 1;
}
