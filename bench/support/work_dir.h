// Where a benchmark keeps its sample tables.
#ifndef KXCHECK_BENCH_SUPPORT_WORK_DIR_H_
#define KXCHECK_BENCH_SUPPORT_WORK_DIR_H_

#include <string>

namespace kxbench {

// When `dir` is empty, makes a fresh folder "<name>-XXXXXX" under the
// system's temporary folder and puts its path in `dir`; gives whether it did
// (the benchmark then removes it at its end). Ends the benchmark when the
// folder cannot be made.
bool MakeWorkDir(std::string& dir, const char* name);

}  // namespace kxbench

#endif  // KXCHECK_BENCH_SUPPORT_WORK_DIR_H_
