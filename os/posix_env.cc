// Env::Default(): the calls of os/env.h on this machine's files.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "os/env.h"

namespace kxos {

namespace {

// A path as the system takes it; false for one that a NUL would cut short.
bool Usable(const std::string& path) {
  return path.find('\0') == std::string::npos;
}

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  if (S_ISREG(st.st_mode)) {
    info.type = FileInfo::Type::kRegular;
  } else if (S_ISDIR(st.st_mode)) {
    info.type = FileInfo::Type::kDirectory;
  } else if (S_ISLNK(st.st_mode)) {
    info.type = FileInfo::Type::kLink;
  } else if (S_ISFIFO(st.st_mode)) {
    info.type = FileInfo::Type::kFifo;
  } else if (S_ISSOCK(st.st_mode)) {
    info.type = FileInfo::Type::kSocket;
  } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
    info.type = FileInfo::Type::kDevice;
  }
  info.device = st.st_dev;
  info.inode = st.st_ino;
  info.size = st.st_size;
  info.permissions = st.st_mode & 0777;
  return info;
}

// The one read loop and the one write loop: at `offset`, or at the file
// position when it is negative.
int ReadLoop(int fd, char* out, size_t size, int64_t offset, size_t& done) {
  done = 0;
  while (done < size) {
    const ssize_t n =
        offset < 0
            ? ::read(fd, out + done, size - done)
            : ::pread(fd, out + done, size - done,
                      static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return 0;
}

int WriteLoop(int fd, const char* data, size_t size, int64_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n =
        offset < 0
            ? ::write(fd, data + done, size - done)
            : ::pwrite(fd, data + done, size - done,
                       static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

int Result(int rc) { return rc == 0 ? 0 : errno; }

// `out` filled from what a stat call that returned `rc` put in `st`.
int Filled(int rc, const struct stat& st, FileInfo& out) {
  if (rc != 0) return errno;
  out = InfoOf(st);
  return 0;
}

class PosixEnv final : public Env {
 public:
  int Open(const std::string& path, int flags, mode_t mode, Fd& out) override {
    out.Reset();
    if (!Usable(path)) return EINVAL;
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0) return errno;
    out = Fd(this, fd);
    return 0;
  }
  int Close(int fd) override { return Result(::close(fd)); }
  int Read(int fd, char* out, size_t size, size_t& done) override {
    return ReadLoop(fd, out, size, -1, done);
  }
  int ReadAt(int fd, char* out, size_t size, int64_t offset,
             size_t& done) override {
    if (offset < 0) return EINVAL;
    return ReadLoop(fd, out, size, offset, done);
  }
  int Write(int fd, const char* data, size_t size) override {
    return WriteLoop(fd, data, size, -1);
  }
  int WriteAt(int fd, const char* data, size_t size, int64_t offset) override {
    if (offset < 0) return EINVAL;
    return WriteLoop(fd, data, size, offset);
  }
  int Sync(int fd) override { return Result(::fsync(fd)); }
  int Truncate(int fd, int64_t size) override {
    return Result(::ftruncate(fd, static_cast<off_t>(size)));
  }
  int Lock(int fd) override { return Result(::flock(fd, LOCK_EX | LOCK_NB)); }
  int StatOpen(int fd, FileInfo& out) override {
    struct stat st;
    return Filled(::fstat(fd, &st), st, out);
  }
  int Stat(const std::string& path, FileInfo& out) override {
    struct stat st;
    return Usable(path) ? Filled(::stat(path.c_str(), &st), st, out) : EINVAL;
  }
  int LinkStat(const std::string& path, FileInfo& out) override {
    struct stat st;
    return Usable(path) ? Filled(::lstat(path.c_str(), &st), st, out) : EINVAL;
  }
  bool FileExists(const std::string& path) override {
    struct stat st;
    return !path.empty() && Usable(path) && ::stat(path.c_str(), &st) == 0;
  }
  int Rename(const std::string& from, const std::string& to) override {
    if (!Usable(from) || !Usable(to)) return EINVAL;
    return Result(::rename(from.c_str(), to.c_str()));
  }
  int Link(const std::string& from, const std::string& to) override {
    if (!Usable(from) || !Usable(to)) return EINVAL;
    return Result(::link(from.c_str(), to.c_str()));
  }
  int Unlink(const std::string& path) override {
    if (!Usable(path)) return EINVAL;
    return Result(::unlink(path.c_str()));
  }
  int ListDirectory(const std::string& path,
                    std::vector<std::string>& names) override {
    names.clear();
    if (!Usable(path)) return EINVAL;
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
      const int err = errno;
      ::close(fd);
      return err;
    }
    int err = 0;
    for (;;) {
      errno = 0;
      const struct dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        err = errno;
        break;
      }
      if (std::strcmp(entry->d_name, ".") != 0 &&
          std::strcmp(entry->d_name, "..") != 0) {
        names.emplace_back(entry->d_name);
      }
    }
    ::closedir(dir);
    return err;
  }
  int RandomBytes(unsigned char* out, size_t size) override {
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::getrandom(out + done, size - done, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += static_cast<size_t>(n);
    }
    return 0;
  }
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* const env = new PosixEnv;
  return env;
}

std::string ErrorText(int err) { return std::strerror(err); }

std::string KindText(FileInfo::Type type) {
  switch (type) {
    case FileInfo::Type::kDirectory:
      return "a directory";
    case FileInfo::Type::kFifo:
      return "a FIFO";
    case FileInfo::Type::kDevice:
      return "a device";
    case FileInfo::Type::kSocket:
      return "a socket";
    default:
      return "not a regular file";
  }
}

}  // namespace kxos
