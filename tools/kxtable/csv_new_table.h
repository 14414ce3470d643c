// A table written from scratch by `kxtable import` and `kxtable sample`.
#ifndef KXCHECK_TOOLS_KXTABLE_CSV_NEW_TABLE_H_
#define KXCHECK_TOOLS_KXTABLE_CSV_NEW_TABLE_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/record_table.h"

namespace kxtable {

// Whether the path ends in ".kxt" in any letter case, after a file name.
bool HasKxtExtension(std::string_view path);

// The four files of the table whose main file is `kxt_path` (which must end
// in ".kxt" in any letter case): the lower-case names, and the upper-case ones
// too when the extension is not all lower case.
std::vector<std::string> TableFiles(const std::string& kxt_path);

// Creates the definition and opens the table for appending. Any of its files
// already there is refused unless `force`, which removes them first. Unless
// Commit() runs, the destructor removes the files again, so a failed write
// leaves no half-made table behind.
class NewTable {
 public:
  NewTable(const std::string& kxt_path, const kalvex::TableLayout& layout,
           bool force);
  ~NewTable();
  NewTable(const NewTable&) = delete;
  NewTable& operator=(const NewTable&) = delete;

  kalvex::RecordTable& table() { return *table_; }
  void Commit();  // closes the table

 private:
  std::vector<std::string> files_;
  std::unique_ptr<kalvex::RecordTable> table_;
  bool committed_ = false;
};

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_CSV_NEW_TABLE_H_
