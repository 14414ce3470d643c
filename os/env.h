// The one boundary between this program and the operating system's files.
// The table engine and the platform services make every file call through an
// Env: Env::Default() is the machine's, a test hands in one that records or
// fails calls (os/fault_env.h).
//
// Calls mirror the system calls under them and report failure the same way:
// each returns 0 or the errno value of its failure (ENOENT, ELOOP, ...),
// leaving errno itself alone. Every descriptor is opened close-on-exec, and a
// path holding a NUL character is refused (EINVAL), never cut short.
#ifndef KXCHECK_OS_ENV_H_
#define KXCHECK_OS_ENV_H_

#include <fcntl.h>  // the open(2) flags that Open takes
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kxos {

// What a name leads to, as stat and lstat tell it.
struct FileInfo {
  enum class Type {
    kOther,  // not filled in, or a kind not named here
    kRegular,
    kDirectory,
    kLink,
    kFifo,
    kDevice,  // character or block device
    kSocket,
  };
  Type type = Type::kOther;
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  mode_t permissions = 0;  // the permission bits (0777)

  bool SameFileAs(const FileInfo& other) const {
    return device == other.device && inode == other.inode;
  }
};

class Fd;

class Env {
 public:
  virtual ~Env() = default;

  // The machine's own files; lives as long as the program.
  static Env* Default();

  // Opens `path` with the open(2) flags given (O_RDONLY, O_RDWR, O_CREAT,
  // O_EXCL, O_NOFOLLOW, O_NONBLOCK, O_DIRECTORY, ...); `mode` is for a file
  // that O_CREAT makes. On success `out` owns the new descriptor; on failure
  // it is empty.
  virtual int Open(const std::string& path, int flags, mode_t mode,
                   Fd& out) = 0;
  // Releases a descriptor; it is gone even when this reports a failure.
  // Fd calls it.
  virtual int Close(int fd) = 0;
  // Read up to `size` bytes from the file position (Read) or from `offset`
  // (ReadAt), over short reads and interruptions; `done` is less than `size`
  // only at the end of the file.
  virtual int Read(int fd, char* out, size_t size, size_t& done) = 0;
  virtual int ReadAt(int fd, char* out, size_t size, int64_t offset,
                     size_t& done) = 0;
  // Write all `size` bytes at the file position (Write) or at `offset`
  // (WriteAt), over short writes and interruptions.
  virtual int Write(int fd, const char* data, size_t size) = 0;
  virtual int WriteAt(int fd, const char* data, size_t size,
                      int64_t offset) = 0;
  // fsync: the file's data, or a directory's names, made durable.
  virtual int Sync(int fd) = 0;
  virtual int Truncate(int fd, int64_t size) = 0;
  // An exclusive flock, without waiting: EWOULDBLOCK when another open file
  // holds it. Released when the descriptor is closed.
  virtual int Lock(int fd) = 0;
  // What an open descriptor is; what a name leads to, following links
  // (Stat) or not (LinkStat).
  virtual int StatOpen(int fd, FileInfo& out) = 0;
  virtual int Stat(const std::string& path, FileInfo& out) = 0;
  virtual int LinkStat(const std::string& path, FileInfo& out) = 0;
  // True for an existing file or directory, following links; false for ""
  // and for anything that cannot be reached.
  virtual bool FileExists(const std::string& path) = 0;
  // rename(2): replaces whatever `to` named, writing through nothing.
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  // link(2): a second name `to` for the file `from`; EEXIST when anything
  // is at `to` already, a link included.
  virtual int Link(const std::string& from, const std::string& to) = 0;
  // Removes a name; a link goes as a link.
  virtual int Unlink(const std::string& path) = 0;
  // The names in a directory, without "." and "..", in no particular order.
  virtual int ListDirectory(const std::string& path,
                            std::vector<std::string>& names) = 0;
  // Fills `out` with bytes from the system's random source, for fresh names.
  virtual int RandomBytes(unsigned char* out, size_t size) = 0;
};

// Owns one descriptor and closes it through the Env that opened it.
class Fd {
 public:
  Fd() = default;
  Fd(Env* env, int fd) : env_(env), fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept
      : env_(other.env_), fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      env_ = other.env_;
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Fd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes through `env` from now on: an Env that hands Open on to another
  // makes the descriptor's Close come back to itself.
  void CloseThrough(Env* env) { env_ = env; }
  // Closes, whatever the close reports.
  void Reset() { Close(); }
  // Closes; 0 or the close's errno value.
  int Close() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 ? 0 : env_->Close(fd);
  }

 private:
  Env* env_ = nullptr;
  int fd_ = -1;
};

// The system's words for an errno value ("No such file or directory").
std::string ErrorText(int err);

// What a file that is not a regular one is, for a message: "a directory",
// "a FIFO", "a device", "a socket", or "not a regular file".
std::string KindText(FileInfo::Type type);

}  // namespace kxos

#endif  // KXCHECK_OS_ENV_H_
