// frmKXCheck, the program's only window: the path of the table, Browse,
// Check and Repair, the three skip options, the progress label and the
// results box. Check and Repair run to their end inside their click
// handlers, with the window as their host.
#ifndef KXCHECK_UI_FRM_KXCHECK_H_
#define KXCHECK_UI_FRM_KXCHECK_H_

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/operations.h"
#include "ui/window_host.h"

class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPlainTextEdit;
class QPushButton;

class frmKXCheck : public QWidget {
  Q_OBJECT

 public:
  // The open-file dialog: owner, initial directory, title, filter text with
  // NUL separators, whether the file must exist. Gives the path or "".
  using OpenDialogFunction =
      std::function<std::string(QWidget*, const std::string&,
                                const std::string&, const std::string&, bool)>;

  explicit frmKXCheck(QWidget* parent = nullptr);
  ~frmKXCheck() override;

  // Event handlers.
  void Form_Load();
  void cmdBrowse_Click();
  void cmdCheck_Click();
  void cmdRepair_Click();
  void txtFilename_OLEDragDrop(const QMimeData& data);

  // Takes a path named on the command line as if it had been dropped on
  // txtFilename (a relative path is taken from the current directory).
  void OpenFromCommandLine(const QString& path);

  kxui::WindowHost& Host() { return *host_; }
  // Replaces the open-file dialog (tests).
  void SetOpenDialog(OpenDialogFunction dialog) {
    open_dialog_ = std::move(dialog);
  }
  // True while Check or Repair runs.
  bool OperationRunning() const { return running_; }

  // The dropped file paths the drop handler looks at: the local files among
  // the dropped URLs, in order.
  static QStringList DroppedPaths(const QMimeData& data);

  // The filter text of the Browse dialog.
  static const std::string& BrowseFilter();

  // The question after a Repair of `path` that spread one stamp over a long
  // run of records (`spreads` the first ones, `count` how many): whether to
  // write the repaired copy again with the restoring rule.
  static std::string RestoreOffer(const std::string& path,
                                  const std::vector<kxcheck::Spread>& spreads,
                                  int64_t count);

  QGroupBox* Frame1;
  QLineEdit* txtFilename;
  QPushButton* cmdBrowse;
  QPushButton* cmdCheck;
  QPlainTextEdit* txtResults;
  QPushButton* cmdRepair;
  QCheckBox* chkDeleted;
  QCheckBox* chkDuplicates;
  QLabel* lblRecords;
  QCheckBox* chkCorrupted;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Runs an operation on a path: through the test's table factory when one
  // is set, otherwise compiled for the engine and this window's host.
  using Operation = std::function<kxcheck::Outcome(const std::string&)>;
  // `button` is the one that started it; the focus goes back to it at the
  // end, since disabling it for the run moved the focus on. Gives how the
  // operation ended: kStopped when the window closed at its end, kNothing
  // when another operation was running.
  kxcheck::Outcome RunOperation(QPushButton* button,
                                const Operation& operation);
  // Moves the window so that its outer frame, at its current size, is in the
  // middle of the primary screen.
  void CentreOuterFrame();

  std::unique_ptr<kxui::WindowHost> host_;
  OpenDialogFunction open_dialog_;
  bool running_ = false;
  bool close_pending_ = false;
  // Set at load until the outer frame's size is known and the frame has been
  // centred by it.
  bool centring_pending_ = false;
};

#endif  // KXCHECK_UI_FRM_KXCHECK_H_
