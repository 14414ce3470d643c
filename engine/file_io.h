// The system calls under every file the engine reads and writes, and the
// errors it raises when one fails.
#ifndef KXCHECK_ENGINE_FILE_IO_H_
#define KXCHECK_ENGINE_FILE_IO_H_

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace kalvex::internal {

// Owns one file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Closes and reports whether the close succeeded.
  bool Close() {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

std::string ErrnoText(int err);

// Raises TableError for `file`, with the reason.
[[noreturn]] void Fail(const std::string& file, const std::string& reason);
// Raises TableError for record `record` of `file`, with the reason.
[[noreturn]] void FailRecord(const std::string& file, int64_t record,
                             const std::string& reason);

// Reads up to `size` bytes at `offset`, retrying short reads; returns the
// number of bytes read (less than size only at the end of the file).
ssize_t PreadFull(int fd, char* out, size_t size, int64_t offset);
// Writes all `size` bytes at `offset`, retrying short writes.
bool PwriteFull(int fd, const char* data, size_t size, int64_t offset);

bool FileExistsAt(const std::string& path);

// Reads a whole small regular file. Returns "" or why it cannot be read;
// `missing` tells that it does not exist. Files longer than `limit` are cut at
// limit + 1 bytes so that callers can tell "too long" without reading it all.
std::string ReadSmallFile(const std::string& path, size_t limit,
                          std::string& out, bool& missing,
                          struct stat* opened = nullptr);

}  // namespace kalvex::internal

#endif  // KXCHECK_ENGINE_FILE_IO_H_
