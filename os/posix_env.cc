// Env::Default(): the calls of os/env.h on this machine's files.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <type_traits>
#include <utility>

#include "os/env.h"

namespace kxos {

namespace {

// A path as the system takes it; false for one that a NUL would cut short.
bool Usable(const std::string& path) {
  return path.find('\0') == std::string::npos;
}

FileInfo InfoOf(const struct stat& st) {
  using Type = FileInfo::Type;
  static constexpr std::pair<mode_t, Type> kTypes[] = {
      {S_IFREG, Type::kRegular}, {S_IFDIR, Type::kDirectory},
      {S_IFLNK, Type::kLink},    {S_IFIFO, Type::kFifo},
      {S_IFSOCK, Type::kSocket}, {S_IFCHR, Type::kDevice},
      {S_IFBLK, Type::kDevice}};
  FileInfo info;
  for (const auto& [bits, type] : kTypes) {
    if ((st.st_mode & S_IFMT) == bits) info.type = type;
  }
  info.device = st.st_dev;
  info.inode = st.st_ino;
  info.size = st.st_size;
  info.permissions = st.st_mode & 0777;
  return info;
}

// The one loop of reads (into `data`) and of writes (from a const `data`):
// at `offset`, or at the file position when it is negative. A read stops at
// the end of the file; a write that makes no progress fails.
template <class Byte>
int Loop(int fd, Byte* data, size_t size, int64_t offset, size_t& done) {
  constexpr bool kWrite = std::is_const_v<Byte>;
  done = 0;
  while (done < size) {
    const off_t at = static_cast<off_t>(offset + static_cast<int64_t>(done));
    ssize_t n;
    if constexpr (kWrite) {
      n = offset < 0 ? ::write(fd, data + done, size - done)
                     : ::pwrite(fd, data + done, size - done, at);
    } else {
      n = offset < 0 ? ::read(fd, data + done, size - done)
                     : ::pread(fd, data + done, size - done, at);
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return kWrite ? EIO : 0;
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
    return Loop(fd, out, size, -1, done);
  }
  int ReadAt(int fd, char* out, size_t size, int64_t offset,
             size_t& done) override {
    return offset < 0 ? EINVAL : Loop(fd, out, size, offset, done);
  }
  int Write(int fd, const char* data, size_t size) override {
    size_t done;
    return Loop(fd, data, size, -1, done);
  }
  int WriteAt(int fd, const char* data, size_t size, int64_t offset) override {
    size_t done;
    return offset < 0 ? EINVAL : Loop(fd, data, size, offset, done);
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
  using Type = FileInfo::Type;
  return type == Type::kDirectory ? "a directory"
         : type == Type::kFifo    ? "a FIFO"
         : type == Type::kDevice  ? "a device"
         : type == Type::kSocket  ? "a socket"
                                  : "not a regular file";
}

}  // namespace kxos
