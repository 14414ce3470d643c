// Staged files: everything this program writes is written first under a
// fresh name in its target's folder and put at the target's name only when
// it is whole (docs/FORMAT.md: writing files safely).
//
// A staged name is ".kxs-", sixteen hexadecimal digits that stand for the
// target (a hash of its name without a table extension, so that the four
// files of a table share them), "-", twelve random hexadecimal digits and
// an extension: ".kxs-0123456789abcdef-a1b2c3d4e5f6.kxd". It is short
// whatever the target's name, so it fits in a folder entry; the hash lets
// the next writer of the target find what a killed run left; the random
// part means that no one can put a file or a link there beforehand. The
// files of one staged table share their name up to the extension: they are
// one group. Readers pass over staged names: they are never a table.
//
// While a staged file has its name, its writer holds an flock on it (the
// engine holds one on the data file of a table it appends to), so a group
// none of whose files can be locked by another is being written; a group
// whose files can all be locked is stale, its writer gone.
#ifndef KXCHECK_OS_STAGED_H_
#define KXCHECK_OS_STAGED_H_

#include <sys/types.h>

#include <string>
#include <string_view>

#include "os/env.h"

namespace kxos {

// The folder of a path ("." for a bare name) and its last component.
std::string DirectoryOf(const std::string& path);
std::string FileNameOf(const std::string& path);

// Whether a file name (without its folder) is a staged name.
bool IsStagedName(std::string_view name);

// The sixteen hexadecimal digits that stand for `target` in staged names.
std::string TargetHash(const std::string& target);

// Creates a new file beside `target` under a fresh staged name ending in
// `extension` (for a target that is itself staged, in the same hash), with
// O_CREAT|O_EXCL|O_NOFOLLOW, so never an existing file or a link, and with
// `mode` as limited by the umask. The file is flocked while `fd` is open.
// Sets `path`; 0 or the errno value of the failure.
int CreateStaged(Env* env, const std::string& target,
                 const std::string& extension, mode_t mode, std::string& path,
                 Fd& fd);

// Removes the stale staged files of `target` (and the temporary names
// "<file>.tmp-" and twelve hexadecimal digits that earlier versions left
// beside the files of a table): every group none of whose files another
// writer holds. Links among them go as links. Best effort: what cannot be
// removed now is left for the next writer. Call with the folder's lock held.
void RemoveStaleStaged(Env* env, const std::string& target);

// The writers' lock of a folder: held while stale files are removed and
// while new files are renamed into place, so that no two writers mix their
// renames and none removes what another is putting in place. Each holds it
// for a few renames and syncs.
class DirectoryLock {
 public:
  // Takes the lock of the folder that holds `path`, waiting while another
  // writer holds it (up to a minute). 0, or the errno value: EWOULDBLOCK
  // when the wait was in vain. A file system that cannot lock folders
  // (ENOLCK, EOPNOTSUPP; NFS, which gives EBADF) gives 0 without a lock.
  int Take(Env* env, const std::string& path);

 private:
  Fd fd_;
};

// Makes the names in the folder that holds `path` durable; 0 or the errno
// value. A file system that cannot sync a folder (EINVAL) need not.
int SyncDirectoryOf(Env* env, const std::string& path);

}  // namespace kxos

#endif  // KXCHECK_OS_STAGED_H_
