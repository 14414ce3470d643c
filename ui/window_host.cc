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
  QString in =
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  QString out;
  out.reserve(in.size());
  for (qsizetype i = 0; i < in.size(); ++i) {
    QChar c = in[i];
    if (c == u'\r' && i + 1 < in.size() && in[i + 1] == u'\n') {
      out += u'\n';
      ++i;
    } else if (c == u'\r' || c == u'\n') {
      out += QChar(0xFFFD);
    } else {
      out += c;
    }
  }
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
  QPlainTextEdit* box = controls_.results;
  // The log's text ends in a line break; the box's does too, so the new
  // text goes after it as the log's does.
  QTextCursor cursor = box->textCursor();
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(LogTextForBox(text));
  box->setTextCursor(cursor);
  box->ensureCursorVisible();
  QScrollBar* bar = box->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void WindowHost::OnClear() { controls_.results->clear(); }

void WindowHost::ShowProgress(const std::string& text) {
  controls_.progress->setText(QString::fromStdString(text));
}

void WindowHost::EnterBusy() {
  busy_ = true;
  controls_.check->setEnabled(false);
  controls_.repair->setEnabled(false);
  controls_.window->setCursor(Qt::WaitCursor);
  pump_clock_.restart();
}

void WindowHost::LeaveBusy() {
  controls_.window->unsetCursor();
  controls_.check->setEnabled(true);
  controls_.repair->setEnabled(true);
  busy_ = false;
}

void WindowHost::PumpEvents() {
  if (pump_hook_) pump_hook_();
  // A look at the clock costs a few nanoseconds and is taken only every few
  // records; waiting events are handled once the interval has passed, so
  // the window answers within a few tens of milliseconds whatever the table.
  if (++pump_calls_ % kClockStride != 0) return;
  if (pump_clock_.elapsed() < kPumpIntervalMs) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  pump_clock_.restart();
}

void WindowHost::WarnBox(const std::string& text) {
  QString message = QString::fromStdString(text);
  if (warn_) {
    warn_(Title(), message);
  } else {
    DefaultWarn(controls_.window, Title(), message);
  }
}

bool WindowHost::AskYesNo(const std::string& text) {
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
