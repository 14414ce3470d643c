#include "engine/file_io.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/record_table.h"

namespace kalvex::internal {

std::string ErrnoText(int err) { return std::strerror(err); }

void Fail(const std::string& file, const std::string& reason) {
  throw TableError(file + ": " + reason);
}

void FailRecord(const std::string& file, int64_t record,
                const std::string& reason) {
  throw TableError(file + ": record " + std::to_string(record) + ": " + reason);
}

ssize_t PreadFull(int fd, char* out, size_t size, int64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, out + done, size - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool PwriteFull(int fd, const char* data, size_t size, int64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, data + done, size - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool FileExistsAt(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string ReadSmallFile(const std::string& path, size_t limit,
                          std::string& out, bool& missing,
                          struct stat* opened) {
  missing = false;
  out.clear();
  // O_NONBLOCK: a FIFO in the table's place must not hang the open.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    int err = errno;
    missing = err == ENOENT;
    return ErrnoText(err);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return ErrnoText(errno);
  if (opened != nullptr) *opened = st;
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  char block[4096];
  while (out.size() <= limit) {
    size_t want = std::min(sizeof block, limit + 1 - out.size());
    ssize_t n = ::read(fd.get(), block, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoText(errno);
    }
    if (n == 0) break;
    out.append(block, static_cast<size_t>(n));
  }
  return {};
}

}  // namespace kalvex::internal
