#include "engine/file_io.h"

#include <algorithm>
#include <cerrno>

#include "engine/record_table.h"

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

}  // namespace kalvex::internal
