#include "ui/stop_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>

namespace kxui {

namespace {

// The handler only writes a byte into this pair; the event loop reads it.
int signal_pair[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(signal_pair[0], &byte, 1);
  errno = saved;
}

// Answers every open message box as the user would who does not want to go
// on: No where it asks, OK where it only tells; any other dialog (the
// open-file dialog) is cancelled. Nobody is there to press a button.
void AnswerOpenDialogs() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog == nullptr || !dialog->isVisible()) continue;
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
      QAbstractButton* answer = box->button(QMessageBox::No);
      if (answer == nullptr) answer = box->button(QMessageBox::Ok);
      if (answer != nullptr) {
        answer->click();
        continue;
      }
    }
    dialog->reject();
  }
}

}  // namespace

void CloseOnStopSignals(QWidget* window) {
  static QPointer<QWidget> target;
  target = window;
  if (signal_pair[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0,
                   signal_pair) != 0) {
    return;  // without the pair the signals keep their usual effect
  }
  auto* notifier = new QSocketNotifier(signal_pair[1], QSocketNotifier::Read,
                                       QApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    char bytes[16];
    while (::read(signal_pair[1], bytes, sizeof bytes) > 0) {
    }
    // A box holds the operation that opened it until it is answered.
    AnswerOpenDialogs();
    if (target) target->close();
  });
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

}  // namespace kxui
