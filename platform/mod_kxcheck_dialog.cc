#include "platform/mod_kxcheck_dialog.h"

#include <QFileDialog>
#include <QString>

namespace modKXCheck {

QStringList FilterList(const std::string& filter) {
  QStringList parts = QString::fromStdString(filter).split(QChar(u'\0'));
  parts = parts.mid(0, parts.indexOf(QString()));  // up to the doubled NUL
  QStringList list;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1].trimmed();
    patterns.replace(u';', u' ');
    list << parts[i] + " (" + patterns + ")";
  }
  return list;
}

std::unique_ptr<QFileDialog> BuildOpenDialog(QWidget* owner,
                                             const std::string& initial_dir,
                                             const std::string& title,
                                             const std::string& filter,
                                             bool file_must_exist) {
  auto dialog =
      std::make_unique<QFileDialog>(owner, QString::fromStdString(title),
                                    QString::fromStdString(initial_dir));
  // Qt's own dialog, so that title, filter and the refusal of missing names
  // behave the same on every desktop.
  dialog->setOption(QFileDialog::DontUseNativeDialog, true);
  // The descriptions already name their patterns; the list shows them as
  // they are.
  dialog->setOption(QFileDialog::HideNameFilterDetails, true);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(file_must_exist ? QFileDialog::ExistingFile
                                      : QFileDialog::AnyFile);
  QStringList filters = FilterList(filter);
  if (!filters.isEmpty()) {
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.front());
  }
  dialog->setWindowModality(Qt::ApplicationModal);
  return dialog;
}

std::string ShowOpenDialog(QWidget* owner, const std::string& initial_dir,
                           const std::string& title, const std::string& filter,
                           bool file_must_exist) {
  std::unique_ptr<QFileDialog> dialog =
      BuildOpenDialog(owner, initial_dir, title, filter, file_must_exist);
  if (dialog->exec() != QDialog::Accepted) return "";
  QStringList chosen = dialog->selectedFiles();
  if (chosen.isEmpty()) return "";
  return chosen.front().toStdString();
}

}  // namespace modKXCheck
