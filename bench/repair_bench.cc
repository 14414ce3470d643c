// Repair through `kxtable repair --replace` against copying the same four
// files with cp, on a 1,000,000-record sample table with 1% damage, and the
// peak memory of a repair of 10,000,000 records against one of 100,000.
//
// Prints, after the benchmark table:
//   repair / cp             the time ratio (the aim: at most 3)
//   CPU repair / cp         user and system time of the two programs
//   repair / cp + sync      the time ratio with the copy forced to disk, as
//                           the repair's commit does
//   peak RSS 10M - 100k     in MB (the aim: within 10)
// With KX_BASELINE_KXTABLE naming another kxtable (an earlier build), its
// repair runs too, in the same run, and its ratios are printed beside.
//
// Run: build/<dir>/bench/repair_bench  (about a minute; needs ~1 GB of disk
// in $TMPDIR). --benchmark_filter works as usual; the ratios need all four.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/support/child_process.h"

namespace {

namespace fs = std::filesystem;

fs::path g_dir;
std::map<std::string, std::vector<double>> g_seconds;
std::map<std::string, std::vector<double>> g_cpu_seconds;
std::map<std::string, long> g_peak_kb;

using Run = kxbench::ChildUsage;

// Runs a program with its output thrown away and measures it.
Run RunProgram(const std::vector<std::string>& args) {
  Run run = kxbench::RunChild(args);
  if (run.code != 0) {
    throw std::runtime_error(args[0] + " " + args[1] + " failed");
  }
  return run;
}

std::string Table(const std::string& name) {
  return (g_dir / (name + ".kxt")).string();
}

// The four files of table `base` in `dir`.
std::vector<std::string> Files(const fs::path& dir, const std::string& base) {
  std::vector<std::string> files;
  for (const char* ext : {".kxt", ".kxd", ".kxi", ".kxa"}) {
    files.push_back((dir / (base + ext)).string());
  }
  return files;
}

void MakeSample(const std::string& name, long records) {
  RunProgram({KXTABLE_PATH, "sample", Table(name), "--records",
              std::to_string(records), "--damage", "0.01", "--seed", "3",
              "--force"});
}

void Repair(benchmark::State& state, const std::string& name,
            const std::string& key, const char* kxtable = KXTABLE_PATH) {
  for (auto _ : state) {
    Run run = RunProgram(
        {kxtable, "repair", "--replace", "--no-progress", Table(name)});
    state.SetIterationTime(run.wall);
    g_seconds[key].push_back(run.wall);
    g_cpu_seconds[key].push_back(run.cpu);
    g_peak_kb[key] = std::max(g_peak_kb[key], run.max_rss_kb);
  }
  state.counters["peak_rss_kb"] = static_cast<double>(g_peak_kb[key]);
}

void BM_Repair1M(benchmark::State& state) { Repair(state, "t1m", "repair"); }
void BM_BaselineRepair1M(benchmark::State& state) {
  Repair(state, "t1m", "baseline", std::getenv("KX_BASELINE_KXTABLE"));
}

void Copy(benchmark::State& state, bool sync, const std::string& key) {
  fs::path to = g_dir / "copy";
  for (auto _ : state) {
    fs::remove_all(to);
    fs::create_directory(to);
    std::vector<std::string> args = {"cp"};
    for (const std::string& f : Files(g_dir, "t1m")) args.push_back(f);
    args.push_back(to.string());
    Run run = RunProgram(args);
    g_cpu_seconds[key].push_back(run.cpu);
    if (sync) {
      std::vector<std::string> sync_args = Files(to, "t1m");
      sync_args.insert(sync_args.begin(), "sync");
      run.wall += RunProgram(sync_args).wall;
    }
    state.SetIterationTime(run.wall);
    g_seconds[key].push_back(run.wall);
  }
}

void BM_Cp1M(benchmark::State& state) { Copy(state, false, "cp"); }
void BM_CpSync1M(benchmark::State& state) { Copy(state, true, "cp+sync"); }

void BM_RepairMemory100k(benchmark::State& state) {
  Repair(state, "t100k", "rss100k");
}
void BM_RepairMemory10M(benchmark::State& state) {
  Repair(state, "t10m", "rss10m");
}

// Each timed by its runs' wall time, in milliseconds.
void Register(const char* name, void (*run)(benchmark::State&), int times) {
  benchmark::RegisterBenchmark(name, run)
      ->UseManualTime()
      ->Iterations(times)
      ->Unit(benchmark::kMillisecond);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string pattern = (fs::temp_directory_path() / "kxrepair-bench-XXXXXX");
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  g_dir = pattern;
  int code = 0;
  try {
    std::fprintf(stderr, "making sample tables in %s ...\n", g_dir.c_str());
    MakeSample("t1m", 1000000);
    MakeSample("t100k", 100000);
    MakeSample("t10m", 10000000);
    Register("BM_Repair1M", BM_Repair1M, 5);
    Register("BM_Cp1M", BM_Cp1M, 5);
    Register("BM_CpSync1M", BM_CpSync1M, 5);
    Register("BM_RepairMemory100k", BM_RepairMemory100k, 1);
    Register("BM_RepairMemory10M", BM_RepairMemory10M, 1);
    if (std::getenv("KX_BASELINE_KXTABLE") != nullptr) {
      Register("BM_BaselineRepair1M", BM_BaselineRepair1M, 5);
    }
    benchmark::RunSpecifiedBenchmarks();

    std::printf("\n");
    if (!g_seconds["repair"].empty() && !g_seconds["cp"].empty()) {
      double repair = Median(g_seconds["repair"]);
      double cp = Median(g_seconds["cp"]);
      std::printf(
          "repair / cp          = %6.2f  (repair %.3f s, cp %.3f s; aim <= "
          "3)\n",
          repair / cp, repair, cp);
      double repair_cpu = Median(g_cpu_seconds["repair"]);
      double cp_cpu = Median(g_cpu_seconds["cp"]);
      std::printf(
          "CPU repair / cp      = %6.2f  (repair %.3f s, cp %.3f s of user "
          "and system time)\n",
          cp_cpu > 0 ? repair_cpu / cp_cpu : 0.0, repair_cpu, cp_cpu);
      if (!g_seconds["cp+sync"].empty()) {
        double cp_sync = Median(g_seconds["cp+sync"]);
        std::printf("repair / cp + sync   = %6.2f  (cp + sync %.3f s)\n",
                    repair / cp_sync, cp_sync);
        if (!g_seconds["baseline"].empty()) {
          double baseline = Median(g_seconds["baseline"]);
          std::printf(
              "baseline / cp + sync = %6.2f  (baseline repair %.3f s; "
              "repair / baseline %.2f)\n",
              baseline / cp_sync, baseline, repair / baseline);
        }
      }
    }
    if (g_peak_kb.count("rss100k") && g_peak_kb.count("rss10m")) {
      double small = g_peak_kb["rss100k"] / 1024.0;
      double large = g_peak_kb["rss10m"] / 1024.0;
      std::printf(
          "peak RSS 10M - 100k  = %6.2f MB (10M %.1f MB, 100k %.1f MB; aim <= "
          "10)\n",
          large - small, large, small);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "repair_bench: %s\n", e.what());
    code = 1;
  }
  std::error_code ec;
  fs::remove_all(g_dir, ec);
  benchmark::Shutdown();
  return code;
}
