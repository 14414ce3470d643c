// kxtable's help text, wrapped for an 80-column terminal.
#ifndef KXCHECK_TOOLS_KXTABLE_HELP_FORMAT_H_
#define KXCHECK_TOOLS_KXTABLE_HELP_FORMAT_H_

#include <CLI/CLI.hpp>
#include <cstddef>
#include <string>
#include <string_view>

namespace kxtable {

// Lines of help text longer than `width` columns broken at spaces. A line
// continues under its description column (the text after the first run of
// two or more spaces that follows a name), or under its own first character.
std::string WrapHelp(std::string_view text, size_t width);

class HelpFormatter : public CLI::Formatter {
 public:
  static constexpr size_t kWidth = 79;
  HelpFormatter() { column_width(26); }
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    return WrapHelp(CLI::Formatter::make_help(app, std::move(name), mode),
                    kWidth);
  }
};

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_HELP_FORMAT_H_
