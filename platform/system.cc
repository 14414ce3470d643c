#include "platform/system.h"

#include <cerrno>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "platform/mod_kxcheck.h"

namespace platform {

namespace {

using kxos::ErrorText;
using kxos::Fd;
using kxos::FileInfo;

// What kind of thing a name is, in words, for a refusal to touch it.
std::string KindOf(FileInfo::Type type) {
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

// The lock file of an output, held with flock. Released by removing the file
// while the lock is still held, then closing it.
class FileLock final : public kxcheck::Host::OutputLock {
 public:
  FileLock(kxos::Env* env, std::string path, Fd fd)
      : env_(env), path_(std::move(path)), fd_(std::move(fd)) {}
  ~FileLock() override { env_->Unlink(path_); }

 private:
  kxos::Env* env_;
  std::string path_;
  Fd fd_;
};

}  // namespace

void CopyFile(const std::string& from, const std::string& to, kxos::Env* env) {
  auto fail = [&](const std::string& reason) {
    throw std::runtime_error("Cannot copy " + from + " to " + to + ": " +
                             reason);
  };
  Fd in;
  if (int err = env->Open(from, O_RDONLY | O_NONBLOCK, 0, in)) {
    fail(ErrorText(err));
  }
  FileInfo info;
  if (int err = env->StatOpen(in.get(), info)) fail(ErrorText(err));
  if (info.type != FileInfo::Type::kRegular) {
    fail(from + " is " + KindOf(info.type));
  }
  // A new file: never an existing one, never through a link.
  Fd out;
  if (int err =
          env->Open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644, out)) {
    fail(ErrorText(err));
  }
  char block[1 << 16];
  size_t got = sizeof block;
  int err = 0;
  while (err == 0 && got == sizeof block) {
    err = env->Read(in.get(), block, sizeof block, got);
    if (err == 0 && got > 0) err = env->Write(out.get(), block, got);
  }
  if (err == 0) err = env->Sync(out.get());
  if (err == 0) err = out.Close();
  if (err != 0) {
    env->Unlink(to);
    fail(ErrorText(err));
  }
}

void DeleteFile(const std::string& path, kxos::Env* env) {
  FileInfo info;
  if (int err = env->LinkStat(path, info)) {
    if (err == ENOENT) return;
    throw std::runtime_error("Cannot delete " + path + ": " + ErrorText(err));
  }
  // Links go as links; anything else but a file is not ours to remove.
  if (info.type != FileInfo::Type::kRegular &&
      info.type != FileInfo::Type::kLink) {
    throw std::runtime_error("Cannot delete " + path + ": it is " +
                             KindOf(info.type) + ", not a table file");
  }
  if (int err = env->Unlink(path); err != 0 && err != ENOENT) {
    throw std::runtime_error("Cannot delete " + path + ": " + ErrorText(err));
  }
}

bool IsLink(const std::string& path, kxos::Env* env) {
  FileInfo info;
  return env->LinkStat(path, info) == 0 && info.type == FileInfo::Type::kLink;
}

std::unique_ptr<kxcheck::Host::OutputLock> LockOutput(
    const std::string& lock_path, kxos::Env* env) {
  // A few rounds, for the case that the writer before us removes the file
  // between our open and our lock. When the name keeps leading elsewhere,
  // the last round's reason is that the lock file is busy.
  int err = EAGAIN;
  for (int attempt = 0; attempt < 8; ++attempt) {
    Fd fd;
    err = env->Open(lock_path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0644,
                    fd);
    if (err == ELOOP) {
      // A link in the lock file's place is removed, never followed.
      const int gone = env->Unlink(lock_path);
      if (gone != 0 && gone != ENOENT) {
        err = gone;
        break;
      }
      continue;
    }
    if (err != 0) break;
    FileInfo held;
    if ((err = env->StatOpen(fd.get(), held)) != 0) break;
    if (held.type != FileInfo::Type::kRegular) {
      throw std::runtime_error(lock_path + " is " + KindOf(held.type));
    }
    if ((err = env->Lock(fd.get())) != 0) {
      if (err == EWOULDBLOCK) {
        throw std::runtime_error(
            "another Repair is writing it (its lock file " + lock_path +
            " is held)");
      }
      break;
    }
    // The lock counts only if the name still leads to the locked file.
    FileInfo named;
    err = env->Stat(lock_path, named);
    if (err == 0 && named.SameFileAs(held)) {
      return std::make_unique<FileLock>(env, lock_path, std::move(fd));
    }
    if (err == 0) err = EAGAIN;
  }
  throw std::runtime_error("cannot take the lock file " + lock_path + ": " +
                           ErrorText(err));
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
