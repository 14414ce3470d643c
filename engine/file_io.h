// The errors the engine raises, and the reading and writing of the small
// files (the definition and the index) through the Env.
#ifndef KXCHECK_ENGINE_FILE_IO_H_
#define KXCHECK_ENGINE_FILE_IO_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "os/env.h"

namespace kalvex::internal {

// Raises TableError for `file`, with the reason.
[[noreturn]] void Fail(const std::string& file, const std::string& reason);
// Raises TableError for record `record` of `file`, with the reason.
[[noreturn]] void FailRecord(const std::string& file, int64_t record,
                             const std::string& reason);

// Reads a whole small regular file. Returns "" or why it cannot be read;
// `missing` tells that it does not exist. Files longer than `limit` are cut at
// limit + 1 bytes so that callers can tell "too long" without reading it all.
std::string ReadSmallFile(kxos::Env* env, const std::string& path, size_t limit,
                          std::string& out, bool& missing,
                          kxos::FileInfo* opened = nullptr);

// Puts `bytes` at `path` in one step: written to a new staged file beside
// it (os/staged.h) with permissions `mode`, synced, renamed over `path`
// (which replaces the name, whatever it named, and writes through nothing),
// and the folder synced. On failure `path` is as it was, the new file is
// gone and TableError names `what`.
void ReplaceFile(kxos::Env* env, const std::string& path,
                 const std::string& bytes, const char* what, mode_t mode);

// Writes `bytes` into the new file `fd` and syncs it; 0 or the errno value
// of the step that failed.
int WriteDurably(kxos::Env* env, const kxos::Fd& fd, const std::string& bytes);

}  // namespace kalvex::internal

#endif  // KXCHECK_ENGINE_FILE_IO_H_
