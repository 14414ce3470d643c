#include "ui/window_host.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

namespace kxui {

namespace {

void DefaultWarn(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
  box.exec();
}

bool DefaultAsk(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, title, text,
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace

QString LogTextForBox(std::string_view text) {
  QString out =
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  // In place: the text only ever gets shorter.
  QChar* d = out.data();
  const qsizetype n = out.size();
  qsizetype w = 0;
  for (qsizetype r = 0; r < n; ++r) {
    const QChar c = d[r];
    if (c == u'\r' && r + 1 < n && d[r + 1] == u'\n') {
      d[w++] = u'\n';
      ++r;
    } else if (c == u'\r' || c == u'\n') {
      d[w++] = QChar(0xFFFD);
    } else {
      d[w++] = c;
    }
  }
  out.truncate(w);
  return out;
}

WindowHost::WindowHost(const HostControls& controls) : controls_(controls) {
  Log().SetObserver(this);
  pump_clock_.start();
}

WindowHost::~WindowHost() { Log().SetObserver(nullptr); }

QString WindowHost::Title() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void WindowHost::OnAppend(std::string_view text) {
  pending_.append(text);
  // While an operation runs, lines are shown in batches at the next event
  // processing: laying out the box line by line would cost more than the
  // scan itself.
  if (!busy_) FlushResults();
}

void WindowHost::FlushResults() {
  ShowPendingProgress();
  if (pending_.empty()) return;
  QPlainTextEdit* box = controls_.results;
  // The insertion point goes to the end of the text and the new text is
  // inserted there; the box then shows its newest line.
  QTextCursor cursor = box->textCursor();
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(LogTextForBox(pending_));
  pending_.clear();
  // While an operation runs the box is only looked at, and moving its own
  // insertion point costs as much as a third of the insertion: LeaveBusy
  // puts it at the end once the operation is over.
  if (!busy_) box->setTextCursor(cursor);
  QScrollBar* bar = box->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void WindowHost::OnClear() {
  pending_.clear();
  controls_.results->clear();
}

void WindowHost::ShowProgress(const std::string& text) {
  pending_progress_ = text;
  progress_pending_ = true;
  // Setting a label's text costs about a microsecond; an operation shows
  // its progress every 1000 records but the window repaints only when it
  // handles events.
  if (!busy_) ShowPendingProgress();
}

void WindowHost::ShowPendingProgress() {
  if (!progress_pending_) return;
  progress_pending_ = false;
  controls_.progress->setText(QString::fromStdString(pending_progress_));
}

void WindowHost::EnterBusy() {
  busy_ = true;
  controls_.check->setEnabled(false);
  controls_.repair->setEnabled(false);
  ShowBusyPointer();
  pump_clock_.restart();
}

void WindowHost::LeaveBusy() {
  FlushResults();
  controls_.results->moveCursor(QTextCursor::End);
  ShowIdlePointer();
  controls_.check->setEnabled(true);
  controls_.repair->setEnabled(true);
  busy_ = false;
}

void WindowHost::ShowBusyPointer() {
  QWidget* window = controls_.window;
  own_pointers_.clear();
  for (QWidget* part : window->findChildren<QWidget*>()) {
    if (part->window() != window || !part->testAttribute(Qt::WA_SetCursor)) {
      continue;
    }
    own_pointers_.push_back({part, part->cursor()});
    part->setCursor(Qt::WaitCursor);
  }
  window->setCursor(Qt::WaitCursor);
}

void WindowHost::ShowIdlePointer() {
  for (const auto& [part, pointer] : own_pointers_) {
    if (part) part->setCursor(pointer);
  }
  own_pointers_.clear();
  controls_.window->unsetCursor();
}

void WindowHost::PumpIfDue() {
  // A look at the clock costs a few nanoseconds and is taken only every few
  // records; waiting events are handled once the interval has passed, so
  // the window answers within a few tens of milliseconds whatever the table.
  if (pump_clock_.elapsed() < kPumpIntervalMs) return;
  FlushResults();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  pump_clock_.restart();
}

void WindowHost::WarnBox(const std::string& text) {
  FlushResults();
  QString message = QString::fromStdString(text);
  if (warn_) {
    warn_(Title(), message);
  } else {
    DefaultWarn(controls_.window, Title(), message);
  }
}

bool WindowHost::AskYesNo(const std::string& text) {
  FlushResults();
  QString message = QString::fromStdString(text);
  if (ask_) return ask_(Title(), message);
  return DefaultAsk(controls_.window, Title(), message);
}

bool WindowHost::SkipOption(kxcheck::SkipKind which) {
  QCheckBox* box = nullptr;
  switch (which) {
    case kxcheck::SkipKind::kDeleted:
      box = controls_.skip_deleted;
      break;
    case kxcheck::SkipKind::kCorrupted:
      box = controls_.skip_corrupted;
      break;
    case kxcheck::SkipKind::kDuplicates:
      box = controls_.skip_duplicates;
      break;
  }
  return box != nullptr && box->checkState() == Qt::Checked;
}

}  // namespace kxui
