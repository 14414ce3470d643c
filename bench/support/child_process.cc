#include "bench/support/child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

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

}  // namespace kxbench
