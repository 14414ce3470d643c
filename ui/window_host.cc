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
  if (warn_) return warn_(Title(), message);
  QMessageBox box(QMessageBox::Warning, Title(), message, QMessageBox::Ok,
                  controls_.window);
  box.exec();
}

bool WindowHost::AskYesNo(const std::string& text) {
  FlushResults();
  QString message = QString::fromStdString(text);
  if (ask_) return ask_(Title(), message);
  QMessageBox box(QMessageBox::NoIcon, Title(), message,
                  QMessageBox::Yes | QMessageBox::No, controls_.window);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

bool WindowHost::SkipOption(kxcheck::SkipKind which) {
  QCheckBox* const boxes[] = {controls_.skip_deleted, controls_.skip_corrupted,
                              controls_.skip_duplicates};  // as SkipKind
  QCheckBox* box = boxes[static_cast<int>(which)];
  return box != nullptr && box->checkState() == Qt::Checked;
}

}  // namespace kxui
