#include "tools/kxtable/table_list.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "os/staged.h"
#include "tools/kxtable/csv_new_table.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/standard_streams.h"

namespace kxtable {

namespace {

namespace fs = std::filesystem;

// Adds the tables in `folder` (and its subfolders) to `tables`; false, with
// an error line, when a folder cannot be read.
bool AddFolder(const fs::path& folder, bool recursive,
               std::vector<std::string>& tables, std::FILE* err) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  bool whole = true;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    std::error_code type_ec;
    if (entry.is_symlink(type_ec) || !entry.is_directory(type_ec)) {
      // Tables being written under staged names are no tables yet.
      if (HasKxtExtension(entry.path().native()) &&
          !kxos::IsStagedName(entry.path().filename().native()) &&
          !entry.is_directory(type_ec)) {
        tables.push_back(entry.path().native());
      }
    } else if (recursive) {
      whole &= AddFolder(entry.path(), recursive, tables, err);
    }
  }
  if (ec) {
    PrintError(err, folder.native(), ec.message());
    return false;
  }
  return whole;
}

}  // namespace

bool IsRepairOutput(std::string_view kxt_path) {
  constexpr std::string_view kSuffix = "_REPAIRED";
  if (!HasKxtExtension(kxt_path)) return false;
  const std::string_view base = kxt_path.substr(0, kxt_path.size() - 4);
  return base.size() >= kSuffix.size() &&
         base.substr(base.size() - kSuffix.size()) == kSuffix;
}

TableList ListTables(const std::vector<std::string>& arguments, bool recursive,
                     bool leave_out_repaired, std::FILE* err) {
  TableList list;
  for (const std::string& argument : arguments) {
    std::error_code ec;
    if (argument.empty() || !fs::is_directory(argument, ec)) {
      list.tables.push_back(argument);
      continue;
    }
    list.from_folder = true;
    std::vector<std::string> found;
    if (!AddFolder(argument, recursive, found, err)) {
      list.status = 2;
    } else if (found.empty()) {
      PrintError(err, argument,
                 recursive ? "no table (.kxt) in this folder or below it"
                           : "no table (.kxt) in this folder (--recursive "
                             "looks in its subfolders too)");
      list.status = 2;
    }
    std::sort(found.begin(), found.end());
    list.tables.insert(list.tables.end(), found.begin(), found.end());
  }
  const bool one_file = arguments.size() == 1 && !list.from_folder;
  if (leave_out_repaired && !one_file) {
    list.left_out = static_cast<int>(std::erase_if(
        list.tables,
        [](const std::string& table) { return IsRepairOutput(table); }));
  }
  return list;
}

}  // namespace kxtable
