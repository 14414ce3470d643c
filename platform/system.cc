#include "platform/system.h"

#include <climits>
#include <stdexcept>
#include <utility>

#include "engine/record_table.h"
#include "engine/staged_table.h"
#include "os/staged.h"
#include "platform/mod_kxcheck.h"

namespace platform {

namespace {

using kxos::ErrorText;
using kxos::Fd;
using kxos::FileInfo;

// The engine's staged table in the Files role; its failures are
// std::runtime_error, as every file service's.
class StagedOutput final : public kxcheck::Files::StagedTable {
 public:
  explicit StagedOutput(std::unique_ptr<kalvex::StagedTable> table)
      : table_(std::move(table)) {}
  const std::string& Path() const override { return table_->Path(); }
  void Publish() override { table_->Publish(/*replace=*/true); }
  void Discard() override { table_->Discard(); }

 private:
  std::unique_ptr<kalvex::StagedTable> table_;
};

// The lock file of an output, held with flock. Released by removing the file
// while the lock is still held, if the name still leads to it, then closing
// it; both under the folder's lock, under which lock files are also made.
class FileLock final : public kxcheck::Files::OutputLock {
 public:
  FileLock(kxos::Env* env, std::string path, Fd fd, FileInfo held)
      : env_(env), path_(std::move(path)), fd_(std::move(fd)), held_(held) {}
  ~FileLock() override {
    kxos::DirectoryLock folder;
    FileInfo named;
    if (folder.Take(env_, path_) == 0 && env_->LinkStat(path_, named) == 0 &&
        named.SameFileAs(held_)) {
      env_->Unlink(path_);
    }
  }

 private:
  kxos::Env* env_;
  std::string path_;
  Fd fd_;
  FileInfo held_;
};

}  // namespace

std::unique_ptr<kxcheck::Files::StagedTable> StageTable(
    const std::string& definition, const std::string& target, kxos::Env* env) {
  try {
    return std::make_unique<StagedOutput>(
        kalvex::StagedTable::CopyingDefinition(target, definition, env));
  } catch (const kalvex::TableError& e) {
    throw std::runtime_error(e.what());
  }
}

void CheckOutputNames(const std::string& target, kxos::Env* env) {
  try {
    kalvex::StagedTable::CheckTargetNames(target, env);
  } catch (const kalvex::TableError& e) {
    throw std::runtime_error(e.what());
  }
}

std::unique_ptr<kxcheck::Files::OutputLock> LockOutput(
    const std::string& lock_path, kxos::Env* env) {
  std::string path = lock_path;
  if (kxos::FileNameOf(path).size() > NAME_MAX) {
    path =
        kxos::DirectoryOf(path) + "/.kxs-" + kxos::TargetHash(path) + ".lock";
  }
  kxos::DirectoryLock folder;
  if (int err = folder.Take(env, path)) {
    throw std::runtime_error("cannot lock the folder of " + path + ": " +
                             ErrorText(err));
  }
  int err = EAGAIN;
  for (int attempt = 0; attempt < 8; ++attempt) {
    Fd fd;
    err = env->Open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0644, fd);
    if (err == ELOOP) {
      // A link in the lock file's place is removed, never followed.
      const int gone = env->Unlink(path);
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
      throw std::runtime_error(path + " is " + kxos::KindText(held.type));
    }
    if ((err = env->Lock(fd.get())) != 0) {
      if (err == EWOULDBLOCK) {
        throw std::runtime_error(
            "another Repair is writing it (its lock file " + path +
            " is held)");
      }
      break;
    }
    // The lock counts only if the name still leads to the locked file.
    FileInfo named;
    err = env->LinkStat(path, named);
    if (err == 0 && named.SameFileAs(held)) {
      return std::make_unique<FileLock>(env, path, std::move(fd), held);
    }
    if (err == 0) err = EAGAIN;
  }
  throw std::runtime_error("cannot take the lock file " + path + ": " +
                           ErrorText(err));
}

int CurrentYear() { return YearClock().Year(); }

bool SystemHost::FileExists(const std::string& path) {
  return modKXCheck::FileExists(path);
}

std::unique_ptr<kxcheck::Files::StagedTable> SystemHost::StageTable(
    const std::string& definition, const std::string& target) {
  return platform::StageTable(definition, target, env_);
}

std::unique_ptr<kxcheck::Files::OutputLock> SystemHost::LockOutput(
    const std::string& lock_path) {
  return platform::LockOutput(lock_path, env_);
}

}  // namespace platform
