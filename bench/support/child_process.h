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

}  // namespace kxbench

#endif  // KXCHECK_BENCH_SUPPORT_CHILD_PROCESS_H_
