#include "bench/support/child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kxbench {

namespace {

double Seconds(const struct timeval& tv) {
  return static_cast<double>(tv.tv_sec) + tv.tv_usec * 1e-6;
}

}  // namespace

ChildUsage RunChild(const std::vector<std::string>& argv, const std::string& in,
                    const std::string& out, const std::string& err) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    auto redirect = [](const std::string& path, int fd, int flags) {
      int f = ::open(path.c_str(), flags, 0644);
      if (f < 0 || ::dup2(f, fd) < 0) _exit(126);
      ::close(f);
    };
    redirect(in, 0, O_RDONLY);
    redirect(out, 1, O_WRONLY | O_CREAT | O_TRUNC);
    redirect(err, 2, O_WRONLY | O_CREAT | O_TRUNC);
    std::vector<char*> args;
    for (const std::string& a : argv) {
      args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    _exit(127);
  }
  ChildUsage usage;
  int status = 0;
  struct rusage ru {};
  if (pid < 0 || ::wait4(pid, &status, 0, &ru) != pid) {
    std::fprintf(stderr, "cannot run %s\n", argv[0].c_str());
    std::exit(1);
  }
  usage.wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  usage.cpu = Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
  usage.max_rss_kb = ru.ru_maxrss;
  usage.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return usage;
}

ChildUsage MustRun(const std::vector<std::string>& argv, const std::string& out,
                   const std::string& err, bool found_ok,
                   const std::string& in) {
  const ChildUsage usage = RunChild(argv, in, out, err);
  if (usage.code == 0 || (found_ok && usage.code == 1)) return usage;
  std::string line;
  for (const std::string& a : argv) line += a + " ";
  std::fprintf(stderr, "failed (exit %d): %s(see %s)\n", usage.code,
               line.c_str(), err.c_str());
  std::exit(1);
}

void KeepBest(ChildUsage& best, const ChildUsage& run) {
  const bool first = best.code < 0;
  best.cpu = first ? run.cpu : std::min(best.cpu, run.cpu);
  best.wall = first ? run.wall : std::min(best.wall, run.wall);
  best.max_rss_kb = std::max(best.max_rss_kb, run.max_rss_kb);
  best.code = run.code;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void RemoveTable(const std::string& kxt) {
  const std::string base = kxt.substr(0, kxt.size() - 4);
  for (const std::string& b : {base, base + "_REPAIRED"}) {
    for (const char* ext : {".kxt", ".kxd", ".kxa", ".kxi"}) {
      std::error_code ec;
      std::filesystem::remove(b + ext, ec);
    }
  }
}

}  // namespace kxbench
