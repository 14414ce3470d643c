// SIGTERM and SIGHUP, as a session's end or `kill` sends them, close the
// window the way the user does: an open message box is answered No (or OK),
// a running Check or Repair stops after its current record (a partial Repair
// output is removed) and the window closes once it has returned.
#ifndef KXCHECK_UI_STOP_SIGNALS_H_
#define KXCHECK_UI_STOP_SIGNALS_H_

class QWidget;

namespace kxui {

// From now on SIGTERM and SIGHUP close `window`, from its event loop. A
// later call moves them to another window.
void CloseOnStopSignals(QWidget* window);

}  // namespace kxui

#endif  // KXCHECK_UI_STOP_SIGNALS_H_
