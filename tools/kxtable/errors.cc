#include "tools/kxtable/errors.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "tools/kxtable/csv_codec.h"

namespace kxtable {

std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  bool pending_space = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      pending_space = !line.empty();
      continue;
    }
    if (pending_space) {
      if (line.back() != ' ') line += ' ';
      pending_space = false;
    }
    line += c;
  }
  return line;
}

std::string ErrorLine(const std::string& table, std::string_view message) {
  std::string text(message);
  if (!table.empty()) {
    // "Cannot open T: T: reason" and "Could not open 'T': reason" become
    // "Cannot open: reason" and "Could not open: reason"; the line starts
    // with the table anyway.
    auto replace_all = [&text](const std::string& from, const std::string& to) {
      for (size_t at = text.find(from); at != std::string::npos;
           at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
      }
    };
    replace_all(": " + table + ": ", ": ");
    replace_all(" '" + table + "': ", ": ");
    replace_all(" " + table + ": ", ": ");
    if (text.rfind(table + ": ", 0) == 0) text.erase(0, table.size() + 2);
  }
  text = EscapeLine(OneLine(text));
  if (table.empty()) return "kxtable: " + text;
  return "kxtable: " + EscapeLine(table) + ": " + text;
}

void CheckCall(bool failed, const std::string& path, const char* what) {
  if (failed) throw CannotWork(path, what + std::string(std::strerror(errno)));
}

void RequireExisting(const std::string& path) {
  struct stat st;
  CheckCall(::stat(path.c_str(), &st) != 0, path, "");
  if (S_ISDIR(st.st_mode)) throw CannotWork(path, std::strerror(EISDIR));
}

}  // namespace kxtable
