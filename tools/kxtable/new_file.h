// A file that kxtable writes whole: staged under a fresh name beside its
// place, synced, and only then put in its place, so that it is never seen
// half written and nothing is written through a link or into a file that
// was there before.
#ifndef KXCHECK_TOOLS_KXTABLE_NEW_FILE_H_
#define KXCHECK_TOOLS_KXTABLE_NEW_FILE_H_

#include <string>
#include <string_view>

namespace kxtable {

// Writes `bytes` as the file at `path`. Without `replace` a file (or link)
// already at `path` is refused, also one that appears while the bytes are
// written; with `replace` it is replaced as a whole (a link itself, not what
// it leads to). Throws std::runtime_error naming the path and the reason;
// nothing is left behind then.
void WriteNewFile(const std::string& path, std::string_view bytes,
                  bool replace);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_NEW_FILE_H_
