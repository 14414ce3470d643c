#include "tools/kxtable/manual.h"

#include <sstream>
#include <vector>

#include "tools/kxtable/app.h"

namespace kxtable {

namespace {

// Text for roff: a backslash is written \e, and a line that would begin
// with a control character starts with \&. With `dashes` every hyphen is a
// minus sign (\-), as in option names and commands one types.
std::string Roff(const std::string& text, bool dashes = false) {
  std::string out;
  if (!text.empty() && (text[0] == '.' || text[0] == '\'')) out = "\\&";
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && dashes) {
      out += "\\-";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// What a command's help footer holds, told apart: paragraphs separated by
// an empty line; the one that starts "Exit status:" and the example lines
// (two spaces, then the command) under "Example:" or "Examples:".
struct Footer {
  std::vector<std::string> notes;
  std::string status;
  std::vector<std::string> examples;
};

Footer SplitFooter(const std::string& footer) {
  Footer parts;
  std::istringstream in(footer);
  std::string paragraph;
  auto finish = [&] {
    if (paragraph.empty()) return;
    if (paragraph.rfind("Exit status", 0) == 0) {
      parts.status = paragraph;
    } else {
      parts.notes.push_back(paragraph);
    }
    paragraph.clear();
  };
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("  ", 0) == 0) {
      parts.examples.push_back(line.substr(2));
    } else if (line.empty()) {
      finish();
    } else if (line != "Example:" && line != "Examples:") {
      paragraph += (paragraph.empty() ? "" : " ") + line;
    }
  }
  finish();
  return parts;
}

// The short summary of a command for its NAME line: the description up to
// its first colon, semicolon or full stop, without the capital.
std::string Summary(const std::string& description) {
  std::string text = description.substr(0, description.find_first_of(":;."));
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
  return text;
}

// "TEXT" for "TEXT:{,,;,tab}", "N" for "N": what a value is called.
std::string ValueName(const CLI::Option& option) {
  const std::string type = option.get_type_name();
  return type.substr(0, type.find(':'));
}

void Options(std::ostringstream& out, const CLI::App& command) {
  out << ".SH OPTIONS\n";
  // The arguments first, then the options, each in the order of --help.
  std::vector<const CLI::Option*> options = command.get_options(
      [](const CLI::Option* o) { return !o->nonpositional(); });
  for (const CLI::Option* option : command.get_options(
           [](const CLI::Option* o) { return o->nonpositional(); })) {
    options.push_back(option);
  }
  for (const CLI::Option* option : options) {
    out << ".TP\n";
    if (!option->nonpositional()) {
      out << "\\fI" << Roff(option->get_name()) << "\\fR"
          << (option->get_expected_max() > 1 ? "..." : "") << "\n";
    } else {
      std::string names;
      for (const std::string& name : option->get_snames()) {
        names += (names.empty() ? "" : ", ") + std::string("\\fB\\-") +
                 Roff(name, true) + "\\fR";
      }
      for (const std::string& name : option->get_lnames()) {
        names += (names.empty() ? "" : ", ") + std::string("\\fB\\-\\-") +
                 Roff(name, true) + "\\fR";
      }
      if (option->get_type_size() != 0) {
        names += " \\fI" + Roff(ValueName(*option)) + "\\fR";
      }
      out << names << "\n";
    }
    std::string text = option->get_description();
    if (option->get_type_size() != 0 && !option->get_default_str().empty()) {
      text += " (default: " + option->get_default_str() + ")";
    }
    out << Roff(text) << "\n";
  }
}

void Files(std::ostringstream& out) {
  out << ".SH FILES\n"
         ".TP\n\\fIT\\fR.kxt\n"
         "A table's definition: the file that names the table.\n"
         ".TP\n\\fIT\\fR.kxd, \\fIT\\fR.kxa, \\fIT\\fR.kxi\n"
         "Its records, their deletion marks and its committed record count, "
         "beside it with the same base name.\n"
         ".TP\n\\fIT\\fR_REPAIRED.kxt\n"
         "The repaired copy that \\fBkxtable repair\\fR and the window write "
         "beside \\fIT\\fR.kxt, with its companions; "
         "\\fIT\\fR_REPAIRED.kxt.lock while it is being written; "
         "\\fBkxtable report \\-\\-repair\\fR reads it.\n"
         ".TP\n\\fIT\\fR.report.html\n"
         "The damage map that \\fBkxtable report\\fR writes beside "
         "\\fIT\\fR.kxt: one page with everything it shows.\n"
         ".TP\n/usr/share/bash\\-completion/completions/kxtable\n"
         "Completion of commands, options and table files in bash.\n";
}

void Examples(std::ostringstream& out,
              const std::vector<std::string>& examples) {
  if (examples.empty()) return;
  out << ".SH EXAMPLES\n";
  for (const std::string& example : examples) {
    out << ".PP\n.nf\n.RS\n" << Roff(example, true) << "\n.RE\n.fi\n";
  }
}

}  // namespace

std::string ManualPageName(const CLI::App* command) {
  return command == nullptr ? "kxtable" : "kxtable-" + command->get_name();
}

std::string ManualPage(const CLI::App& app, const CLI::App* command,
                       const ManualFacts& facts) {
  const std::string name = ManualPageName(command);
  const CLI::App& about = command == nullptr ? app : *command;
  const Footer footer = SplitFooter(about.get_footer());
  std::ostringstream out;
  out << ".TH " << Roff(Upper(name), true) << " 1 \"" << facts.date
      << "\" \"kxtable " << facts.version << "\" \"User Commands\"\n";
  out << ".SH NAME\n"
      << Roff(name, true) << " \\- " << Roff(Summary(about.get_description()))
      << "\n";
  out << ".SH SYNOPSIS\n";
  if (command == nullptr) {
    out << ".B kxtable\n\\fICOMMAND\\fR [\\fIOPTIONS\\fR] "
           "[\\fIARGUMENTS\\fR]\n.br\n.B kxtable help\n[\\fICOMMAND\\fR]\n";
  } else {
    out << ".B kxtable " << Roff(command->get_name(), true)
        << "\n[\\fIOPTIONS\\fR]";
    for (const CLI::Option* option : command->get_options(
             [](const CLI::Option* o) { return !o->nonpositional(); })) {
      const std::string value = "\\fI" + Roff(option->get_name()) + "\\fR" +
                                (option->get_expected_max() > 1 ? "..." : "");
      out << " " << (option->get_required() ? value : "[" + value + "]");
    }
    out << "\n";
  }
  out << ".SH DESCRIPTION\n" << Roff(about.get_description()) << "\n";
  for (const std::string& note : footer.notes) {
    out << ".PP\n" << Roff(note) << "\n";
  }
  if (command == nullptr) {
    out << ".SH COMMANDS\n";
    for (const CLI::App* sub : Commands(app)) {
      out << ".TP\n\\fB" << Roff(sub->get_name(), true) << "\\fR\n"
          << Roff(sub->get_description()) << " See \\fB"
          << Roff(ManualPageName(sub), true) << "\\fR(1).\n";
    }
  }
  Options(out, about);
  out << ".SH \"EXIT STATUS\"\n" << Roff(kExitStatusText) << "\n";
  if (command != nullptr && !footer.status.empty()) {
    // The command's own note; the contract it refers to stands just above.
    std::string note = footer.status;
    const size_t see = note.find(" (see 'kxtable --help')");
    if (see != std::string::npos) note.erase(see, 23);
    out << ".PP\n" << Roff(note) << "\n";
  }
  Files(out);
  std::vector<std::string> examples = footer.examples;
  if (command == nullptr) {
    // The first example of every command.
    for (const CLI::App* sub : Commands(app)) {
      const Footer parts = SplitFooter(sub->get_footer());
      if (!parts.examples.empty()) examples.push_back(parts.examples.front());
    }
  }
  Examples(out, examples);
  out << ".SH \"SEE ALSO\"\n";
  std::string see_also;
  if (command != nullptr) see_also = "\\fBkxtable\\fR(1)";
  for (const CLI::App* sub : Commands(app)) {
    if (sub == command) continue;
    see_also += (see_also.empty() ? "" : ", ") + std::string("\\fB") +
                Roff(ManualPageName(sub), true) + "\\fR(1)";
  }
  out << see_also << ", \\fBKXCheck\\fR(1), \\fBstrptime\\fR(3)\n";
  return out.str();
}

}  // namespace kxtable
