#include "tools/kxtable/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kxtable {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw std::runtime_error(path + ": " + what + ": " + std::strerror(errno));
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

void WriteNewFile(const std::string& path, std::string_view bytes,
                  bool replace) {
  struct stat st;
  if (!replace && ::lstat(path.c_str(), &st) == 0) {
    errno = EEXIST;
    Fail(path, "cannot write");
  }
  // mkstemp makes the staged file with O_EXCL under a name of its own.
  std::string staged = path + ".XXXXXX";
  const int fd = ::mkstemp(staged.data());
  if (fd < 0) Fail(path, "cannot create");
  struct Staged {
    const std::string& path;
    int fd;
    bool placed = false;
    ~Staged() {
      if (fd >= 0) ::close(fd);
      if (!placed) ::unlink(path.c_str());
    }
  } guard{staged, fd};

  // The permissions of a file made the ordinary way.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd, 0666 & ~mask) != 0 || !WriteAll(fd, bytes) ||
      ::fsync(fd) != 0) {
    Fail(path, "cannot write");
  }
  guard.fd = -1;
  if (::close(fd) != 0) Fail(path, "cannot write");

  // Without `replace`, link() refuses a file that appeared meanwhile.
  if (replace) {
    if (::rename(staged.c_str(), path.c_str()) != 0) {
      Fail(path, "cannot put the file in place");
    }
    guard.placed = true;
  } else if (::link(staged.c_str(), path.c_str()) != 0) {
    Fail(path, "cannot put the file in place");
  }
}

}  // namespace kxtable
