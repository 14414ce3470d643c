// kxtable's manual pages, made from its command line: every page has the
// sections a reader looks for, and every option of its command.
#include "tools/kxtable/manual.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tools/kxtable/app.h"

namespace {

TEST(ManualTest, EveryPageHasItsSectionsAndOptions) {
  CLI::App app;
  kxtable::Runner run;
  kxtable::BuildApp(app, run, "9.9.9");
  const CLI::App& commands = app;
  std::vector<const CLI::App*> pages = {nullptr};
  for (const CLI::App* command :
       commands.get_subcommands(std::function<bool(const CLI::App*)>())) {
    pages.push_back(command);
  }
  ASSERT_EQ(pages.size(), 10u);
  for (const CLI::App* page : pages) {
    const std::string name = kxtable::ManualPageName(page);
    SCOPED_TRACE(name);
    const std::string text = kxtable::ManualPage(app, page, {"9.9.9", "1 Jan"});
    EXPECT_EQ(text.rfind(".TH KXTABLE", 0), 0u);
    for (const char* section :
         {"\n.SH NAME\n", "\n.SH SYNOPSIS\n", "\n.SH DESCRIPTION\n",
          "\n.SH OPTIONS\n", "\n.SH \"EXIT STATUS\"\n", "\n.SH FILES\n",
          "\n.SH EXAMPLES\n", "\n.SH \"SEE ALSO\"\n"}) {
      EXPECT_NE(text.find(section), std::string::npos) << section;
    }
    // The contract itself, and no line that roff would take for a request
    // of its own.
    EXPECT_NE(text.find("2 the work could not be done"), std::string::npos);
    size_t at = 0;
    while ((at = text.find('\n', at)) != std::string::npos) {
      ++at;
      if (at < text.size() && text[at] == '\'') ADD_FAILURE() << at;
    }
    const CLI::App& about = page == nullptr ? app : *page;
    for (const CLI::Option* option : about.get_options(
             [](const CLI::Option* o) { return o->nonpositional(); })) {
      for (const std::string& long_name : option->get_lnames()) {
        std::string escaped = "\\-\\-";
        for (char c : long_name)
          escaped += c == '-' ? "\\-" : std::string(1, c);
        EXPECT_NE(text.find(escaped), std::string::npos) << long_name;
      }
    }
  }
}

}  // namespace
