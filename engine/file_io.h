// The errors the engine raises, and the reading of the small files (the
// definition and the index) through the Env.
#ifndef KXCHECK_ENGINE_FILE_IO_H_
#define KXCHECK_ENGINE_FILE_IO_H_

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

}  // namespace kalvex::internal

#endif  // KXCHECK_ENGINE_FILE_IO_H_
