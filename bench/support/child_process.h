// Running a program as a child process and measuring what it used, for the
// benchmarks that compare kxtable with outside programs.
#ifndef KXCHECK_BENCH_SUPPORT_CHILD_PROCESS_H_
#define KXCHECK_BENCH_SUPPORT_CHILD_PROCESS_H_

#include <string>
#include <vector>

namespace kxbench {

struct ChildUsage {
  double cpu = 0;   // user + system seconds of the child
  double wall = 0;  // seconds from fork to the end of the wait
  long max_rss_kb = 0;
  int code = -1;  // exit code; 128 when the child did not exit normally
};

// Runs argv (found on PATH) with standard input, output and error redirected
// to the given files, waits for it and returns what it used. Ends the
// benchmark when the program cannot be started or waited for.
ChildUsage RunChild(const std::vector<std::string>& argv,
                    const std::string& in = "/dev/null",
                    const std::string& out = "/dev/null",
                    const std::string& err = "/dev/null");

// RunChild, ending the benchmark unless the program exits 0, or 1 when
// `found_ok` (the status of check and report for a damaged table).
ChildUsage MustRun(const std::vector<std::string>& argv,
                   const std::string& out = "/dev/null",
                   const std::string& err = "/dev/null", bool found_ok = false,
                   const std::string& in = "/dev/null");

// Keeps in `best` the lowest times and the highest peak memory of the runs
// handed to it.
void KeepBest(ChildUsage& best, const ChildUsage& run);

// The whole text of a file ("" when it cannot be read).
std::string ReadText(const std::string& path);

// Removes the four files of the table `kxt` and those of its repair's
// output, whichever are there.
void RemoveTable(const std::string& kxt);

}  // namespace kxbench

#endif  // KXCHECK_BENCH_SUPPORT_CHILD_PROCESS_H_
