// A table written from scratch by `kxtable import` and `kxtable sample`.
#ifndef KXCHECK_TOOLS_KXTABLE_CSV_NEW_TABLE_H_
#define KXCHECK_TOOLS_KXTABLE_CSV_NEW_TABLE_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/record_table.h"
#include "engine/staged_table.h"
#include "os/env.h"

namespace kxtable {

// Whether the path ends in ".kxt" in any letter case, after a file name.
bool HasKxtExtension(std::string_view path);

// The four files of the table whose main file is `kxt_path` (which must end
// in ".kxt" in any letter case): the lower-case names, and the upper-case ones
// too when the extension is not all lower case.
std::vector<std::string> TableFiles(const std::string& kxt_path);

// A new table for `kxt_path`, written under staged names beside it
// (engine/staged_table.h) and put in its place by Commit once it is whole:
// until then any table at `kxt_path` is untouched, and a refused input, a
// failure or a kill leaves it so. Any of its files already there is refused
// unless `force`; a file there that is one of `inputs` (the files the
// command reads) is refused whatever `force` says. A failure to write the
// table is CannotWork naming `kxt_path`.
class NewTable {
 public:
  NewTable(const std::string& kxt_path, const kalvex::TableLayout& layout,
           bool force, const std::vector<std::string>& inputs = {},
           kxos::Env* env = kxos::Env::Default());
  // Without Commit, the staged files are removed.
  ~NewTable();
  NewTable(const NewTable&) = delete;
  NewTable& operator=(const NewTable&) = delete;

  // The table, to fill its working record.
  kalvex::RecordTable& table() { return *table_; }
  // Appends the working record, with the deletion mark when `deleted`.
  void Append(bool deleted);
  // Closes the table, which commits it, and puts it in place.
  void Commit();

 private:
  std::string path_;
  bool force_;
  kxos::Env* env_;
  std::unique_ptr<kalvex::StagedTable> staged_;
  std::unique_ptr<kalvex::RecordTable> table_;
};

// Refuses, unless `force`, a table whose files exist at `kxt_path`.
void RefuseExistingTable(const std::string& kxt_path, bool force,
                         kxos::Env* env = kxos::Env::Default());

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_CSV_NEW_TABLE_H_
