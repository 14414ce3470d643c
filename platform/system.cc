#include "platform/system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "platform/mod_kxcheck.h"

namespace platform {

namespace {

// Owns a file descriptor.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  // Closes and reports whether the close succeeded.
  bool Close() { return ::close(release()) == 0; }

 private:
  int fd_;
};

std::string ErrnoText() { return std::strerror(errno); }

// What kind of thing a name is, in words, for a refusal to touch it.
std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The lock file of an output, held with flock. Released by removing the file
// while the lock is still held, then closing it.
class FileLock final : public kxcheck::Host::OutputLock {
 public:
  FileLock(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~FileLock() override { ::unlink(path_.c_str()); }

 private:
  std::string path_;
  Fd fd_;
};

}  // namespace

void CopyFile(const std::string& from, const std::string& to) {
  auto fail = [&](const std::string& reason) {
    throw std::runtime_error("Cannot copy " + from + " to " + to + ": " +
                             reason);
  };
  Fd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!in.valid()) fail(ErrnoText());
  struct stat st;
  if (::fstat(in.get(), &st) != 0) fail(ErrnoText());
  if (!S_ISREG(st.st_mode)) fail(from + " is " + KindOf(st.st_mode));
  // A new file: never an existing one, never through a link.
  Fd out(::open(to.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!out.valid()) fail(ErrnoText());
  char block[1 << 16];
  for (;;) {
    ssize_t n = ::read(in.get(), block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n < 0 || !WriteAll(out.get(), block, static_cast<size_t>(n))) {
      const std::string reason = ErrnoText();
      ::unlink(to.c_str());
      fail(reason);
    }
  }
  if (::fsync(out.get()) != 0 || !out.Close()) {
    const std::string reason = ErrnoText();
    ::unlink(to.c_str());
    fail(reason);
  }
}

void DeleteFile(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    throw std::runtime_error("Cannot delete " + path + ": " + ErrnoText());
  }
  // Links go as links; anything else but a file is not ours to remove.
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    throw std::runtime_error("Cannot delete " + path + ": it is " +
                             KindOf(st.st_mode) + ", not a table file");
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    throw std::runtime_error("Cannot delete " + path + ": " + ErrnoText());
  }
}

bool IsLink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::unique_ptr<kxcheck::Host::OutputLock> LockOutput(
    const std::string& lock_path) {
  // A few rounds, for the case that the writer before us removes the file
  // between our open and our lock.
  for (int attempt = 0; attempt < 8; ++attempt) {
    Fd fd(::open(lock_path.c_str(),
                 O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!fd.valid() && errno == ELOOP) {
      // A link in the lock file's place is removed, never followed.
      if (::unlink(lock_path.c_str()) != 0 && errno != ENOENT) break;
      continue;
    }
    if (!fd.valid()) break;
    struct stat held;
    if (::fstat(fd.get(), &held) != 0) break;
    if (!S_ISREG(held.st_mode)) {
      throw std::runtime_error(lock_path + " is " + KindOf(held.st_mode));
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) {
        throw std::runtime_error(
            "another Repair is writing it (its lock file " + lock_path +
            " is held)");
      }
      break;
    }
    // The lock counts only if the name still leads to the locked file.
    struct stat named;
    if (::stat(lock_path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
      return std::make_unique<FileLock>(lock_path, fd.release());
    }
  }
  throw std::runtime_error("cannot take the lock file " + lock_path + ": " +
                           ErrnoText());
}

int CurrentYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    throw std::runtime_error("Cannot read the system clock");
  }
  return local.tm_year + 1900;
}

bool SystemHost::FileExists(const std::string& path) {
  return modKXCheck::FileExists(path);
}

void SystemHost::CopyFile(const std::string& from, const std::string& to) {
  platform::CopyFile(from, to);
}

void SystemHost::DeleteFile(const std::string& path) {
  platform::DeleteFile(path);
}

bool SystemHost::IsLink(const std::string& path) {
  return platform::IsLink(path);
}

std::unique_ptr<kxcheck::Host::OutputLock> SystemHost::LockOutput(
    const std::string& lock_path) {
  return platform::LockOutput(lock_path);
}

}  // namespace platform
