// A new table written beside its target under staged names (os/staged.h)
// and put at the target's names only when it is whole: until then whatever
// table the target holds is untouched, and a run that fails, is stopped or
// is killed never leaves part of a table under the target's names
// (docs/FORMAT.md: putting a new table in place).
//
// Make one (which also removes what killed runs left for the same target),
// open Path() for appending with a RecordTable, append, Close that table
// (which commits it under its staged names), then Publish. A StagedTable
// destroyed before Publish removes its files.
#ifndef KXCHECK_ENGINE_STAGED_TABLE_H_
#define KXCHECK_ENGINE_STAGED_TABLE_H_

#include <sys/types.h>

#include <memory>
#include <string>

#include "engine/record_table.h"
#include "os/env.h"

namespace kalvex {

class StagedTable {
 public:
  // A staged table for `target_kxt` whose definition holds `layout`; its
  // files get the permissions of a new file (0666 as limited by the umask).
  static std::unique_ptr<StagedTable> WithLayout(
      const std::string& target_kxt, const TableLayout& layout,
      kxos::Env* env = kxos::Env::Default());
  // A staged table for `target_kxt` whose definition is a copy of the
  // regular file `definition`, byte for byte; its files get the
  // definition's permission bits (as limited by the umask).
  static std::unique_ptr<StagedTable> CopyingDefinition(
      const std::string& target_kxt, const std::string& definition,
      kxos::Env* env = kxos::Env::Default());

  // Refuses (TableError) a table at `target_kxt` whose names lead to a
  // folder, a FIFO, a device or a socket, which no table can replace; tells
  // whether anything is at the target's names.
  static bool CheckTargetNames(const std::string& target_kxt,
                               kxos::Env* env = kxos::Env::Default());

  ~StagedTable();  // removes the staged files unless they were published
  StagedTable(const StagedTable&) = delete;
  StagedTable& operator=(const StagedTable&) = delete;

  // The staged definition, to open for appending.
  const std::string& Path() const { return path_; }
  const std::string& Target() const { return target_; }

  // Puts the staged table, committed by the Close of the RecordTable that
  // wrote it, at the target's names. Without `replace` a table already
  // there is refused and nothing changes. A name there that is a folder, a
  // FIFO or a device is refused. Throws TableError naming the file and the
  // reason; a failure before the first rename leaves the target as it was.
  void Publish(bool replace);
  // Removes the staged files now; TableError names one that could not be
  // removed.
  void Discard();

 private:
  StagedTable(kxos::Env* env, std::string target);
  // Makes the staged definition: removes stale staged files of the target,
  // creates the new name and writes `bytes` (or, when `copy_from` is open,
  // that file's bytes) there, synced.
  void Begin(const std::string& bytes, const kxos::Fd* copy_from, mode_t mode);

  kxos::Env* env_;
  std::string target_;
  std::string path_;  // the staged definition
  std::string base_;  // path_ without ".kxt"
  kxos::Fd fd_;       // the staged definition, locked while it is ours
  bool published_ = false;
};

}  // namespace kalvex

#endif  // KXCHECK_ENGINE_STAGED_TABLE_H_
