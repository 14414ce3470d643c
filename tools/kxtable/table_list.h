// The tables that the arguments of kxtable check and repair name.
#ifndef KXCHECK_TOOLS_KXTABLE_TABLE_LIST_H_
#define KXCHECK_TOOLS_KXTABLE_TABLE_LIST_H_

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kxtable {

struct TableList {
  // In the order to run them: the arguments' order, and within a folder the
  // paths sorted byte by byte.
  std::vector<std::string> tables;
  bool from_folder = false;  // some argument was a folder
  int status = 0;    // 2 when a folder could not be read or held no table
  int left_out = 0;  // outputs of an earlier repair left out
};

// Whether the table's base name ends in "_REPAIRED": the output of a repair.
bool IsRepairOutput(std::string_view kxt_path);

// A file argument stands for itself (whether or not it exists; the run says
// what is wrong with it). A folder stands for the tables (.kxt in any letter
// case, but not the staged names of tables being written) in it, and with
// `recursive` for those in its subfolders too (links to folders are not
// followed). With `leave_out_repaired` the outputs of an earlier repair are
// left out, unless the arguments are one file. Each folder that cannot be read
// or holds no table is one error line on `err`.
TableList ListTables(const std::vector<std::string>& arguments, bool recursive,
                     bool leave_out_repaired, std::FILE* err);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_TABLE_LIST_H_
