// An Env for tests: hands every call on to another Env, records each one in
// order, and fails the calls it is told to fail, so that a test can pin the
// order of the calls that keep files safe, or see what a failing disk does,
// without touching the system underneath.
#ifndef KXCHECK_OS_FAULT_ENV_H_
#define KXCHECK_OS_FAULT_ENV_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "os/env.h"

namespace kxos {

// The calls of an Env, one kind each.
enum class Call {
  kOpen,
  kClose,
  kRead,
  kReadAt,
  kWrite,
  kWriteAt,
  kSync,
  kTruncate,
  kLock,
  kStatOpen,
  kStat,
  kLinkStat,
  kFileExists,
  kRename,
  kLink,
  kUnlink,
  kListDirectory,
  kRandomBytes,  // the last
};

class FaultEnv : public Env {
 public:
  // One call as it was made. Calls on a descriptor carry the path it was
  // opened with ("" when it was not opened through this Env).
  struct Record {
    Call call = Call::kOpen;
    std::string path = {};
    std::string to = {};  // Rename: the new name
    int64_t offset = -1;  // ReadAt, WriteAt
    size_t size = 0;      // reads and writes: the bytes asked for
  };

  // Hands the calls that do not fail on to `target`.
  explicit FaultEnv(Env* target = Env::Default()) : target_(target) {}

  // Makes the `nth` call of `call` from now on (1: the next one) fail with
  // `error` without reaching the target; with a `path_suffix`, only calls on
  // a path that ends with it count (for Rename, either name). A failed Close
  // still closes, as the system's does; a failed FileExists says false.
  void FailCall(Call call, int nth, int error,
                const std::string& path_suffix = "");
  // Runs `action` with the call's path (for Rename and Link, the new name)
  // just before the first call of `call` for which `when` holds reaches the
  // target, once: a test puts a file or a link at a name between two steps.
  void BeforeCall(Call call, std::function<bool(const Record&)> when,
                  std::function<void(const std::string& path)> action);
  const std::vector<Record>& Calls() const { return calls_; }

  int Open(const std::string& path, int flags, mode_t mode, Fd& out) override;
  int Close(int fd) override;
  int Read(int fd, char* out, size_t size, size_t& done) override;
  int ReadAt(int fd, char* out, size_t size, int64_t offset,
             size_t& done) override;
  int Write(int fd, const char* data, size_t size) override;
  int WriteAt(int fd, const char* data, size_t size, int64_t offset) override;
  int Sync(int fd) override;
  int Truncate(int fd, int64_t size) override;
  int Lock(int fd) override;
  int StatOpen(int fd, FileInfo& out) override;
  int Stat(const std::string& path, FileInfo& out) override;
  int LinkStat(const std::string& path, FileInfo& out) override;
  bool FileExists(const std::string& path) override;
  int Rename(const std::string& from, const std::string& to) override;
  int Link(const std::string& from, const std::string& to) override;
  int Unlink(const std::string& path) override;
  int ListDirectory(const std::string& path,
                    std::vector<std::string>& names) override;
  int RandomBytes(unsigned char* out, size_t size) override;

 private:
  struct Fault {
    Call call;
    int countdown;
    int error;
    std::string suffix;
  };

  struct Hook {
    Call call;
    std::function<bool(const Record&)> when;
    std::function<void(const std::string&)> action;
  };

  // Records the call and runs the hook it meets; returns the error it is to
  // fail with, or 0.
  int Enter(Record record);
  // Enters `record` and, unless it is to fail, makes the call on the target.
  template <class Forward>
  int Pass(Record record, Forward&& forward) {
    const int err = Enter(std::move(record));
    return err != 0 ? err : forward();
  }
  std::string PathOf(int fd) const;

  Env* target_;
  std::vector<Record> calls_;
  std::vector<Fault> faults_;
  std::vector<Hook> hooks_;
  std::map<int, std::string> open_paths_;
};

// "open", "pwrite", "fsync", ...: the system call under each kind.
const char* CallName(Call call);

}  // namespace kxos

#endif  // KXCHECK_OS_FAULT_ENV_H_
