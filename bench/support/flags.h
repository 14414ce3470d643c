// The command line of a benchmark: "--name value" options and "--name"
// switches.
#ifndef KXCHECK_BENCH_SUPPORT_FLAGS_H_
#define KXCHECK_BENCH_SUPPORT_FLAGS_H_

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>

namespace kxbench {

class Flags {
 public:
  // Reads argv[1..]: each of `options` takes the next argument as its value,
  // each of `switches` none. An unknown flag, or an option without its
  // value, ends the benchmark with status 2.
  Flags(int argc, char** argv, std::initializer_list<std::string> options,
        std::initializer_list<std::string> switches = {}) {
    for (int i = 1; i < argc; ++i) {
      const std::string flag = argv[i];
      const bool option = std::ranges::count(options, flag) != 0;
      if (!option && std::ranges::count(switches, flag) == 0) {
        std::fprintf(stderr, "unknown flag %s\n", flag.c_str());
        std::exit(2);
      }
      if (option && i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a value\n", flag.c_str());
        std::exit(2);
      }
      given_[flag] = option ? argv[++i] : "";
    }
  }

  bool Has(const std::string& name) const { return given_.count(name) != 0; }
  // The option's value, or `fallback` when it was not given.
  std::string Text(const std::string& name, std::string fallback = "") const {
    return Has(name) ? given_.at(name) : fallback;
  }
  int64_t Number(const std::string& name, int64_t fallback) const {
    return Has(name) ? std::atoll(given_.at(name).c_str()) : fallback;
  }

 private:
  std::map<std::string, std::string> given_;
};

}  // namespace kxbench

#endif  // KXCHECK_BENCH_SUPPORT_FLAGS_H_
