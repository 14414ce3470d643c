#include "ui/frm_kxcheck.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <exception>
#include <iterator>

#include "adapter/engine_operations.h"
#include "adapter/engine_table.h"
#include "platform/mod_kxcheck_dialog.h"
#include "ui/twips.h"
#include "ui/window_font.h"

namespace {

#include "ui/kxcheck.xpm"

// Client area, in twips.
constexpr int kClientWidth = 12732;
constexpr int kClientHeight = 6600;

// Names a control and puts it at its place.
void Place(QWidget* widget, const char* name, int left, int top, int width,
           int height) {
  widget->setObjectName(name);
  widget->setGeometry(kxui::TwipsToPixels(left), kxui::TwipsToPixels(top),
                      kxui::TwipsToPixels(width), kxui::TwipsToPixels(height));
}

}  // namespace

frmKXCheck::frmKXCheck(QWidget* parent)
    : QWidget(parent), open_dialog_(&modKXCheck::ShowOpenDialog) {
  setWindowTitle("KX Check Utility");
  setWindowIcon(QIcon(QPixmap(kxcheck_xpm)));
  // Nothing lays the controls out again, so the window keeps its size.
  setFixedSize(kxui::TwipsToPixels(kClientWidth),
               kxui::TwipsToPixels(kClientHeight));

  // Created in tab order; the frame and the label take no focus.
  Frame1 = new QGroupBox(
      "Check Kalvex File For Date/Time Errors" + QString(17, u' ') +
          "(Click on Browse or Drag and Drop a file onto the textbox below)",
      this);
  Place(Frame1, "Frame1", 120, 120, 12492, 1095);

  txtFilename = new QLineEdit(Frame1);
  txtFilename->setReadOnly(true);
  txtFilename->setAcceptDrops(true);
  txtFilename->installEventFilter(this);
  Place(txtFilename, "txtFilename", 120, 240, 11172, 285);

  cmdBrowse = new QPushButton("Browse", Frame1);
  // Enter on a focused button presses it, as Space does.
  cmdBrowse->setAutoDefault(true);
  Place(cmdBrowse, "cmdBrowse", 11520, 240, 855, 255);

  cmdCheck = new QPushButton("Check", Frame1);
  cmdCheck->setAutoDefault(true);
  Place(cmdCheck, "cmdCheck", 120, 600, 975, 375);

  txtResults = new QPlainTextEdit(this);
  txtResults->setReadOnly(true);
  txtResults->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                      Qt::TextSelectableByKeyboard);
  txtResults->setFocusPolicy(Qt::StrongFocus);
  txtResults->setTabChangesFocus(true);
  txtResults->setUndoRedoEnabled(false);
  txtResults->setAcceptDrops(false);
  txtResults->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtResults->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  txtResults->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Place(txtResults, "txtResults", 120, 1320, 12492, 5175);

  cmdRepair = new QPushButton("Repair", Frame1);
  cmdRepair->setAutoDefault(true);
  cmdRepair->setEnabled(false);
  Place(cmdRepair, "cmdRepair", 1200, 600, 975, 375);

  chkDeleted = new QCheckBox("Skip Deleted Records", Frame1);
  chkDeleted->setCheckState(Qt::Checked);
  Place(chkDeleted, "chkDeleted", 2400, 720, 2175, 255);

  chkDuplicates = new QCheckBox("Skip Duplicate Records", Frame1);
  chkDuplicates->setCheckState(Qt::Checked);
  Place(chkDuplicates, "chkDuplicates", 4560, 720, 2052, 255);

  lblRecords = new QLabel(Frame1);
  Place(lblRecords, "lblRecords", 9960, 720, 2412, 252);

  chkCorrupted = new QCheckBox("Skip Corrupted Records", Frame1);
  chkCorrupted->setCheckState(Qt::Unchecked);
  Place(chkCorrupted, "chkCorrupted", 6840, 720, 2172, 252);

  QWidget* const tab_order[] = {txtFilename,   cmdBrowse,   cmdCheck,
                                txtResults,    cmdRepair,   chkDeleted,
                                chkDuplicates, chkCorrupted};
  for (size_t i = 1; i < std::size(tab_order); ++i) {
    setTabOrder(tab_order[i - 1], tab_order[i]);
  }
  txtFilename->setFocus();

  host_ = std::make_unique<kxui::WindowHost>(
      kxui::HostControls{.window = this,
                         .results = txtResults,
                         .progress = lblRecords,
                         .check = cmdCheck,
                         .repair = cmdRepair,
                         .skip_deleted = chkDeleted,
                         .skip_corrupted = chkCorrupted,
                         .skip_duplicates = chkDuplicates});
  connect(cmdBrowse, &QPushButton::clicked, this, &frmKXCheck::cmdBrowse_Click);
  connect(cmdCheck, &QPushButton::clicked, this, &frmKXCheck::cmdCheck_Click);
  connect(cmdRepair, &QPushButton::clicked, this, &frmKXCheck::cmdRepair_Click);
}

frmKXCheck::~frmKXCheck() = default;

void frmKXCheck::Form_Load() {
  kxui::FitWindowFont(*this,
                      {Frame1, cmdBrowse, cmdCheck, cmdRepair, chkDeleted,
                       chkDuplicates, chkCorrupted},
                      QApplication::font());
  CentreOuterFrame();
  // Under a window manager the outer frame grows by its decorations once the
  // window is shown; it is centred again then.
  centring_pending_ = true;
}

void frmKXCheck::CentreOuterFrame() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect area = screen->geometry();
  QRect outer = frameGeometry();
  int64_t left = kxui::CentredOffset(static_cast<double>(
      kxui::PixelsToTwips(area.width()) - kxui::PixelsToTwips(outer.width())));
  int64_t top = kxui::CentredOffset(
      static_cast<double>(kxui::PixelsToTwips(area.height()) -
                          kxui::PixelsToTwips(outer.height())));
  move(area.x() + kxui::TwipsToPixels(left),
       area.y() + kxui::TwipsToPixels(top));
}

const std::string& frmKXCheck::BrowseFilter() {
  static const std::string filter("Kalvex Files (*.kxt)\0*.kxt\0\0", 29);
  return filter;
}

void frmKXCheck::cmdBrowse_Click() {
  const std::string& filter = BrowseFilter();
  std::string initial_dir =
      QCoreApplication::applicationDirPath().toStdString() + "/";
  std::string chosen =
      open_dialog_(this, initial_dir, "Enter Filename to Check:", filter, true);
  txtFilename->setText(QString::fromStdString(chosen));
  // Through the log, so that a running operation's later lines and its
  // length test see the emptied box.
  host_->ClearResults();
  cmdRepair->setEnabled(false);
}

QStringList frmKXCheck::DroppedPaths(const QMimeData& data) {
  QStringList paths;
  if (!data.hasUrls()) return paths;
  for (const QUrl& url : data.urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  return paths;
}

void frmKXCheck::txtFilename_OLEDragDrop(const QMimeData& data) {
  QStringList paths = DroppedPaths(data);
  if (paths.isEmpty()) return;
  const QString& path = paths.front();
  if (path.right(4).toUpper() == QLatin1String(".KXT")) {
    txtFilename->setText(path);
    cmdRepair->setEnabled(false);
    host_->ClearResults();
  } else {
    host_->WarnBox("Invalid Filetype!");
  }
}

void frmKXCheck::OpenFromCommandLine(const QString& path) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QDir::current().absoluteFilePath(path))});
  txtFilename_OLEDragDrop(data);
}

void frmKXCheck::cmdCheck_Click() {
  RunOperation(cmdCheck, [this](const std::string& path) {
    return adapter::CheckEngineTable(path, *host_);
  });
}

void frmKXCheck::cmdRepair_Click() {
  std::string path;  // the table repaired, whatever the box holds later
  const kxcheck::Outcome outcome =
      RunOperation(cmdRepair, [this, &path](const std::string& chosen) {
        path = chosen;
        return adapter::RepairEngineTable(path, *host_);
      });
  // The current rule gave one stamp to a long run of records: the user may
  // have the copy written again with the stamps restored. Nothing changes
  // unless the answer is Yes, which is also the answer to replacing the
  // copy just written.
  if (outcome != kxcheck::Outcome::kCompleted || host_->SpreadCount() == 0) {
    return;
  }
  const std::string offer =
      RestoreOffer(path, host_->Spreads(), host_->SpreadCount());
  if (!host_->AskYesNo(offer)) return;
  RunOperation(cmdRepair, [this, &path](const std::string& /*chosen*/) {
    return adapter::RepairEngineTable(
        path, *host_,
        {.rule = kxcheck::RepairRule::kRestoring, .replace_agreed = true});
  });
}

std::string frmKXCheck::RestoreOffer(
    const std::string& path, const std::vector<kxcheck::Spread>& spreads,
    int64_t count) {
  std::string text =
      "The repair of '" + path + "' gave one stamp to more than " +
      std::to_string(kxcheck::kSpreadWarnAbove) + " following records:\n";
  for (const kxcheck::Spread& spread : spreads) {
    text += '\n';
    text += kxcheck::SpreadText(spread, kxcheck::BytesToText(spread.stamp));
  }
  const int64_t more = count - static_cast<int64_t>(spreads.size());
  if (more > 0) text += "\n(and " + std::to_string(more) + " more)";
  text +=
      "\n\nWrite the repaired copy again, with such stamps restored from "
      "the good stamps around them?";
  return text;
}

kxcheck::Outcome frmKXCheck::RunOperation(QPushButton* button,
                                          const Operation& operation) {
  // Both buttons are disabled while busy.
  if (running_) return kxcheck::Outcome::kNothing;
  running_ = true;
  host_->ClearStopRequest();
  host_->ForgetSpreads();
  std::string path = txtFilename->text().toStdString();
  kxcheck::Outcome outcome = kxcheck::Outcome::kFailed;
  try {
    outcome = operation(path);
  } catch (const std::exception& e) {
    // The operations report their own failures; this is the last guard so
    // that the window never stays busy.
    host_->WarnBox(e.what());
  }
  if (host_->Busy()) host_->LeaveBusy();
  running_ = false;
  if (close_pending_) {
    close_pending_ = false;
    close();
    return kxcheck::Outcome::kStopped;
  }
  if (button->isEnabled()) button->setFocus(Qt::OtherFocusReason);
  return outcome;
}

bool frmKXCheck::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtFilename) {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        drag->mimeData()->hasUrls() ? drag->acceptProposedAction()
                                    : drag->ignore();
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        drop->acceptProposedAction();
        txtFilename_OLEDragDrop(*drop->mimeData());
        return true;
      }
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool frmKXCheck::event(QEvent* event) {
  if (centring_pending_ && isVisible() &&
      (event->type() == QEvent::Move || event->type() == QEvent::Show ||
       event->type() == QEvent::Resize)) {
    // The frame's size is known once it differs from the client area's.
    if (frameGeometry().size() != size()) {
      centring_pending_ = false;
      CentreOuterFrame();
    }
  }
  return QWidget::event(event);
}

void frmKXCheck::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The operation stops after its current record, closes its tables and
    // returns; the window closes then.
    host_->RequestStop();
    close_pending_ = true;
    event->ignore();
    return;
  }
  event->accept();
}
