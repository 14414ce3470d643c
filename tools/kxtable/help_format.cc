#include "tools/kxtable/help_format.h"

namespace kxtable {

namespace {

// Where a continuation line of `line` starts.
size_t ContinuationIndent(std::string_view line, size_t width) {
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string_view::npos) return 0;
  const size_t gap = line.find("  ", first);
  if (gap != std::string_view::npos) {
    const size_t description = line.find_first_not_of(' ', gap);
    if (description != std::string_view::npos && description < width / 2) {
      return description;
    }
  }
  return first;
}

void WrapLine(std::string_view line, size_t width, std::string& out) {
  const std::string indent(ContinuationIndent(line, width), ' ');
  std::string rest(line);
  while (rest.size() > width) {
    // Break at the last space that fits, after the leading blanks; a word
    // longer than the room stays whole.
    const size_t floor = rest.find_first_not_of(' ');
    size_t cut = rest.rfind(' ', width);
    if (cut == std::string::npos || cut <= floor) {
      cut = rest.find(' ', width);
      if (cut == std::string::npos) break;
    }
    out.append(rest, 0, cut);
    out += '\n';
    const size_t next = rest.find_first_not_of(' ', cut);
    if (next == std::string::npos) return;
    rest = indent + rest.substr(next);
  }
  out += rest;
  out += '\n';
}

}  // namespace

std::string WrapHelp(std::string_view text, size_t width) {
  std::string out;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    WrapLine(line, width, out);
    if (end == std::string_view::npos) {
      out.pop_back();  // the text had no final line end
      break;
    }
    text.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace kxtable
