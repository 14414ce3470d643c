// The window as the host of the check and repair operations: the results
// box mirrors the results log, the progress label, the busy state, the
// message boxes and the skip check boxes are the window's own controls.
#ifndef KXCHECK_UI_WINDOW_HOST_H_
#define KXCHECK_UI_WINDOW_HOST_H_

#include <QCursor>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/results_log.h"
#include "platform/system.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace kxui {

// The controls the host works on; all belong to one window.
struct HostControls {
  QWidget* window = nullptr;
  QPlainTextEdit* results = nullptr;
  QLabel* progress = nullptr;
  QPushButton* check = nullptr;
  QPushButton* repair = nullptr;
  QCheckBox* skip_deleted = nullptr;
  QCheckBox* skip_corrupted = nullptr;
  QCheckBox* skip_duplicates = nullptr;
};

// Final, so that an operation compiled for this class (see
// adapter/engine_operations.h) binds its per-record calls at compile time.
class WindowHost final : public platform::SystemHost,
                         private kxcheck::ResultsLog::Observer {
 public:
  // Message boxes, replaceable by tests. Both get the title and the text.
  using WarnFunction = std::function<void(const QString&, const QString&)>;
  using AskFunction = std::function<bool(const QString&, const QString&)>;

  explicit WindowHost(const HostControls& controls);
  ~WindowHost() override;
  WindowHost(const WindowHost&) = delete;
  WindowHost& operator=(const WindowHost&) = delete;

  void ShowProgress(const std::string& text) override;
  void EnterBusy() override;
  void LeaveBusy() override;
  // Handles waiting events once kPumpIntervalMs has passed; the clock is
  // looked at every kClockStride calls.
  void PumpEvents() override {
    if (pump_hook_) {
      ShowPendingProgress();
      pump_hook_();
    }
    if (++pump_calls_ % kClockStride != 0) return;
    PumpIfDue();
  }
  void WarnBox(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  // One warning box with every problem.
  void ShowTableProblems(const std::string& path,
                         const std::vector<std::string>& problems) override {
    WarnBox(kxcheck::TableProblemsText(path, problems));
  }
  bool SkipOption(kxcheck::SkipKind which) override;
  bool StopRequested() override { return stop_requested_; }
  // Kept for the window's offer after a Repair: the first kSpreadsNamed,
  // and how many.
  void NoteSpread(const kxcheck::Spread& spread) override {
    if (spreads_.size() < kxcheck::kSpreadsNamed) spreads_.push_back(spread);
    ++spread_count_;
  }
  const std::vector<kxcheck::Spread>& Spreads() const { return spreads_; }
  int64_t SpreadCount() const { return spread_count_; }
  void ForgetSpreads() {
    spreads_.clear();
    spread_count_ = 0;
  }

  void RequestStop() { stop_requested_ = true; }
  void ClearStopRequest() { stop_requested_ = false; }
  bool Busy() const { return busy_; }

  void SetWarnFunction(WarnFunction warn) { warn_ = std::move(warn); }
  void SetAskFunction(AskFunction ask) { ask_ = std::move(ask); }
  // Called at every PumpEvents, before anything else; for tests that act in
  // the middle of an operation.
  void SetPumpHook(std::function<void()> hook) { pump_hook_ = std::move(hook); }

  // Message-box title: the base name of the program's file without its
  // extension.
  static QString Title();

  // How long PumpEvents lets waiting events wait at most, and how many calls
  // pass between two looks at the clock that measures it.
  static constexpr qint64 kPumpIntervalMs = 20;
  static constexpr unsigned kClockStride = 256;

 private:
  void OnAppend(std::string_view text) override;
  void OnClear() override;
  // Puts the log text not yet shown into the results box.
  void FlushResults();
  void PumpIfDue();
  // While busy every part of the window shows the hourglass: the window's
  // pointer, and in place of the pointers that some controls set for
  // themselves (the text boxes' I-beam). Message boxes and dialogs are
  // windows of their own and keep the normal pointer.
  void ShowBusyPointer();
  void ShowIdlePointer();
  // Puts the progress text of the last ShowProgress into the label.
  void ShowPendingProgress();

  HostControls controls_;
  WarnFunction warn_;
  AskFunction ask_;
  std::function<void()> pump_hook_;
  // The controls' own pointers, put back when the window is idle again.
  std::vector<std::pair<QPointer<QWidget>, QCursor>> own_pointers_;
  QElapsedTimer pump_clock_;
  unsigned pump_calls_ = 0;
  // Log text added while busy and not yet in the box. The box is brought up
  // to date before the window handles any event, so whenever it can be seen
  // it shows the whole log.
  std::string pending_;
  // The progress text not yet in the label: while busy, the label is brought
  // up to date whenever the log box is, so the window never shows an older
  // count than the operation has reached.
  std::string pending_progress_;
  bool progress_pending_ = false;
  bool stop_requested_ = false;
  bool busy_ = false;
  std::vector<kxcheck::Spread> spreads_;
  int64_t spread_count_ = 0;
};

// Log text as the results box shows it: CR LF becomes a line break; a lone
// CR or LF (from damaged record bytes) would break a finding line in two and
// is shown as U+FFFD instead.
QString LogTextForBox(std::string_view text);

}  // namespace kxui

#endif  // KXCHECK_UI_WINDOW_HOST_H_
