// The open-file dialog of modKXCheck. Kept apart from the rest of the module
// because it needs the window system; the console tool does without it.
#ifndef KXCHECK_PLATFORM_MOD_KXCHECK_DIALOG_H_
#define KXCHECK_PLATFORM_MOD_KXCHECK_DIALOG_H_

#include <QStringList>
#include <memory>
#include <string>

class QFileDialog;
class QWidget;

namespace modKXCheck {

// Turns a filter text of NUL-separated pairs (description, patterns), ended
// by a doubled NUL, into the dialog's filter list. Patterns separated by ";"
// in the text are separated by spaces in the list. Every entry is the
// description followed by its patterns in parentheses; a trailing pair
// without patterns is ignored.
QStringList FilterList(const std::string& filter);

// The dialog ShowOpenDialog runs, built but not yet shown: owned by `owner`'s
// window, opening in `initial_dir`, titled `title`, offering the pairs of
// `filter` with the first one selected, and refusing names that do not
// exist when `file_must_exist` is true. Exposed for tests.
std::unique_ptr<QFileDialog> BuildOpenDialog(QWidget* owner,
                                             const std::string& initial_dir,
                                             const std::string& title,
                                             const std::string& filter,
                                             bool file_must_exist);

// Runs the open-file dialog modally. Gives the chosen path (UTF-8), or ""
// when the user cancelled.
std::string ShowOpenDialog(QWidget* owner, const std::string& initial_dir,
                           const std::string& title, const std::string& filter,
                           bool file_must_exist);

}  // namespace modKXCheck

#endif  // KXCHECK_PLATFORM_MOD_KXCHECK_DIALOG_H_
