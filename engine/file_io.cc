#include "engine/file_io.h"

#include <algorithm>
#include <cerrno>

#include "engine/record_table.h"
#include "os/staged.h"

namespace kalvex::internal {

void Fail(const std::string& file, const std::string& reason) {
  throw TableError(file + ": " + reason);
}

void FailRecord(const std::string& file, int64_t record,
                const std::string& reason) {
  throw TableError(file + ": record " + std::to_string(record) + ": " + reason);
}

std::string ReadSmallFile(kxos::Env* env, const std::string& path, size_t limit,
                          std::string& out, bool& missing,
                          kxos::FileInfo* opened) {
  missing = false;
  out.clear();
  // O_NONBLOCK: a FIFO in the table's place must not hang the open.
  kxos::Fd fd;
  if (int err = env->Open(path, O_RDONLY | O_NONBLOCK, 0, fd)) {
    missing = err == ENOENT;
    return kxos::ErrorText(err);
  }
  kxos::FileInfo info;
  if (int err = env->StatOpen(fd.get(), info)) return kxos::ErrorText(err);
  if (opened != nullptr) *opened = info;
  if (info.type != kxos::FileInfo::Type::kRegular) return "not a regular file";
  char block[4096];
  while (out.size() <= limit) {
    size_t want = std::min(sizeof block, limit + 1 - out.size());
    size_t got = 0;
    if (int err = env->Read(fd.get(), block, want, got)) {
      return kxos::ErrorText(err);
    }
    out.append(block, got);
    if (got < want) break;
  }
  return {};
}

int WriteDurably(kxos::Env* env, const kxos::Fd& fd, const std::string& bytes) {
  int err = env->WriteAt(fd.get(), bytes.data(), bytes.size(), 0);
  if (err == 0) err = env->Sync(fd.get());
  return err;
}

void ReplaceFile(kxos::Env* env, const std::string& path,
                 const std::string& bytes, const char* what, mode_t mode) {
  std::string temp;
  kxos::Fd fd;
  const std::string name = kxos::FileNameOf(path);
  const std::string extension = name.size() > 4 && name[name.size() - 4] == '.'
                                    ? name.substr(name.size() - 4)
                                    : std::string(".new");
  if (int err = kxos::CreateStaged(env, path, extension, mode, temp, fd)) {
    Fail(path, std::string("cannot create a new ") + what + ": " +
                   kxos::ErrorText(err));
  }
  if (int err = WriteDurably(env, fd, bytes)) {
    env->Unlink(temp);
    Fail(path, std::string("cannot write the new ") + what + ": " +
                   kxos::ErrorText(err));
  }
  // Renamed while still open and locked, so that no writer cleaning up
  // after killed runs takes it for stale.
  if (int err = env->Rename(temp, path)) {
    env->Unlink(temp);
    Fail(path, std::string("cannot replace the ") + what + ": " +
                   kxos::ErrorText(err));
  }
  if (int err = fd.Close()) {
    Fail(path, std::string("cannot write the new ") + what + ": " +
                   kxos::ErrorText(err));
  }
  if (int err = kxos::SyncDirectoryOf(env, path)) {
    Fail(path, "cannot sync its directory: " + kxos::ErrorText(err));
  }
}

}  // namespace kalvex::internal
