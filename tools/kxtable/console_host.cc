#include "tools/kxtable/console_host.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "tools/kxtable/standard_streams.h"

namespace kxtable {

namespace {

// Atomic, as the hosts of `kxtable check --jobs N` look at them from
// several threads; a lock-free atomic may be set in a signal handler.
std::atomic<int> stop_signal{0};
const std::atomic<int> never_stop{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal_number) {
  stop_signal.store(signal_number, std::memory_order_relaxed);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(kStopSignals)];
std::atomic<int> handlers_installed{0};

void InstallStopHandlers() {
  if (handlers_installed++ > 0) return;
  stop_signal = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // The first signal asks the operation to stop; a second one ends the
  // program the usual way.
  action.sa_flags = SA_RESETHAND;
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &action, &previous[i]);
  }
}

void RemoveStopHandlers() {
  if (--handlers_installed > 0) return;
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &previous[i], nullptr);
  }
}

int TerminalWidth(std::FILE* stream) {
  struct winsize size {};
  if (ioctl(StreamDescriptor(stream), TIOCGWINSZ, &size) == 0 &&
      size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

}  // namespace

StopOnSignals::StopOnSignals() { InstallStopHandlers(); }

StopOnSignals::~StopOnSignals() { RemoveStopHandlers(); }

void StopAllOperations() {
  stop_signal.store(SIGTERM, std::memory_order_relaxed);
}

std::string DurationText(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  if (seconds > 99 * 3600.0) return "--:--";
  auto total = static_cast<int64_t>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(
        text, sizeof text, "%d:%02d:%02d", static_cast<int>(total / 3600),
        static_cast<int>(total / 60 % 60), static_cast<int>(total % 60));
  } else {
    std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(total / 60),
                  static_cast<int>(total % 60));
  }
  return text;
}

std::string ProgressLine(int64_t n, int64_t total, double rate, int width) {
  char counts[96];
  std::string left = rate > 0
                         ? DurationText(static_cast<double>(total - n) / rate)
                         : std::string("--:--");
  std::snprintf(counts, sizeof counts, " %lld / %lld  %.0f rec/s  %s left",
                static_cast<long long>(n), static_cast<long long>(total), rate,
                left.c_str());
  std::string tail = counts;
  int bar_width = std::min(40, width - 3 - static_cast<int>(tail.size()));
  std::string line;
  if (bar_width >= 5) {
    double fraction =
        total > 0 ? static_cast<double>(n) / static_cast<double>(total) : 1.0;
    fraction = std::clamp(fraction, 0.0, 1.0);
    int filled = static_cast<int>(fraction * bar_width);
    line = "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(bar_width - filled), '.') + "]";
  }
  line += tail;
  if (width > 1 && static_cast<int>(line.size()) > width - 1) {
    line.resize(static_cast<size_t>(width - 1));
  }
  return line;
}

ConsoleHost::ConsoleHost(ConsoleOptions options)
    : SystemHost(options.env), options_(options) {
  draw_progress_ = options_.progress && isatty(StreamDescriptor(options_.err));
  out_is_terminal_ = isatty(StreamDescriptor(options_.out));
  Log().SetObserver(this);
  if (options_.json && options_.report != nullptr) {
    json_ = std::make_unique<JsonReport>(
        [this](std::string_view text) { WriteOut(text); },
        options_.report->operation, options_.table, options_.repair.rule);
  }
  if (options_.stop_on_signal) InstallStopHandlers();
  stop_flag_ = options_.stop_on_signal ? &stop_signal : &never_stop;
}

ConsoleHost::~ConsoleHost() {
  Log().SetObserver(nullptr);
  EraseProgress();
  if (options_.stop_on_signal) RemoveStopHandlers();
}

void ConsoleHost::AddResult(const std::string& line) {
  if (!options_.full) {
    LogHost::AddResult(line);
    return;
  }
  // Written, not kept: the log holds only what AddResultAlways adds, so it
  // never reaches the cap.
  std::string text = kxcheck::LogLine(line);
  WriteLog(text);
}

void ConsoleHost::OnAppend(std::string_view text) { WriteLog(text); }

void ConsoleHost::WriteLog(std::string_view text) {
  if (!options_.write_log) return;
  std::string lf;
  if (!options_.crlf) {
    // Every added text is one line ended by CR LF; the line's own bytes stay.
    lf.assign(text.substr(0, text.size() - 2));
    lf += '\n';
    text = lf;
  }
  WriteOut(text);
}

void ConsoleHost::WriteOut(std::string_view text) {
  // The bar shares the terminal with the report when both go there.
  if (out_is_terminal_) EraseProgress();
  if (write_failed_) return;
  // A large piece (a JSON report's) goes to standard output's descriptor as
  // it is, not copied through the stream's buffer.
  int err = 0;
  if (options_.out == stdout && text.size() >= kWriteStraight) {
    err = WriteStandardOutput(text.data(), text.size());
    if (err == 0) bytes_written_ += static_cast<int64_t>(text.size());
  } else {
    size_t written = std::fwrite(text.data(), 1, text.size(), options_.out);
    bytes_written_ += static_cast<int64_t>(written);
    if (written != text.size() || std::ferror(options_.out)) {
      err = errno != 0 ? errno : EIO;
    }
  }
  if (err != 0) {
    // Reported by Finish; the operation itself goes on to its end.
    write_failed_ = true;
    write_error_ = std::strerror(err);
    // Nobody takes the report: the operation stops where that is asked.
    if (options_.stop_when_unwritable) StopAllOperations();
    return;
  }
  if (out_is_terminal_) std::fflush(options_.out);
}

void ConsoleHost::OnClear() {
  // The operations clear the log when they start, before writing anything.
  // A clear after output cannot take back what a pipe or terminal has
  // received; the text that follows is written after it.
}

void ConsoleHost::EndReport() {
  if (json_) json_->End(*options_.report);
}

void ConsoleHost::Finish() {
  EraseProgress();
  if (!write_failed_ &&
      (std::fflush(options_.out) != 0 || std::ferror(options_.out))) {
    write_failed_ = true;
    write_error_ = std::strerror(errno);
  }
  if (write_failed_) {
    throw std::runtime_error("cannot write the results to " +
                             options_.out_name + ": " + write_error_);
  }
}

void ConsoleHost::ShowProgress(const std::string& text) {
  if (!draw_progress_) return;
  char* end = nullptr;
  int64_t n = std::strtoll(text.c_str(), &end, 10);
  const char* slash = std::strchr(end, '/');
  if (slash == nullptr) return;
  int64_t total = std::strtoll(slash + 1, nullptr, 10);
  Clock::time_point now = Clock::now();
  if (!progress_started_) {
    progress_started_ = true;
    progress_start_ = now;
    start_record_ = n;
  } else if (n < total && now - last_draw_ < kRedrawInterval) {
    return;
  }
  last_draw_ = now;
  DrawProgress(n, total);
}

void ConsoleHost::DrawProgress(int64_t n, int64_t total) {
  double seconds =
      std::chrono::duration<double>(Clock::now() - progress_start_).count();
  double rate =
      seconds > 0 ? static_cast<double>(n - start_record_) / seconds : 0;
  std::string line = ProgressLine(n, total, rate, TerminalWidth(options_.err));
  std::fprintf(options_.err, "\r%s\x1b[K", line.c_str());
  std::fflush(options_.err);
  bar_shown_ = true;
}

void ConsoleHost::EraseProgress() {
  if (!bar_shown_) return;
  std::fputs("\r\x1b[K", options_.err);
  std::fflush(options_.err);
  bar_shown_ = false;
}

void ConsoleHost::EnterBusy() { progress_started_ = false; }

void ConsoleHost::LeaveBusy() {
  EraseProgress();
  progress_started_ = false;
}

void ConsoleHost::WriteMessage(std::string_view text) {
  EraseProgress();
  if (out_is_terminal_) std::fflush(options_.out);
  std::string line(text);
  line += '\n';
  std::fputs(line.c_str(), options_.err);
  std::fflush(options_.err);
}

void ConsoleHost::WarnBox(const std::string& text) {
  if (options_.report != nullptr) {
    options_.report->warnings.push_back(OneLine(text));
  }
  WriteMessage(ErrorLine(options_.table, text));
}

void ConsoleHost::ShowTableProblems(const std::string& path,
                                    const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) {
    if (options_.report != nullptr)
      options_.report->problems.push_back(problem);
    WriteMessage(ErrorLine(path, problem));
  }
}

void ConsoleHost::NoteSpread(const kxcheck::Spread& spread) {
  if (json_) json_->Spread(spread);
  ++spread_count_;
  if (spreads_.size() < kxcheck::kSpreadsNamed) spreads_.push_back(spread);
}

void ConsoleHost::TellRuleNotes() {
  if (options_.quiet) return;
  if (spread_count_ > 0) {
    std::string text = "the repair gave one stamp to more than " +
                       std::to_string(kxcheck::kSpreadWarnAbove) +
                       " following records: ";
    for (const kxcheck::Spread& spread : spreads_) {
      if (&spread != &spreads_.front()) text += "; ";
      // The stamp's bytes as they are: the message line escapes them as it
      // escapes names.
      text += kxcheck::SpreadText(spread, spread.stamp);
    }
    const int64_t more = spread_count_ - static_cast<int64_t>(spreads_.size());
    if (more > 0) text += "; and " + std::to_string(more) + " more";
    text +=
        "; kxtable repair --restore restores such stamps from their "
        "neighbours";
    WriteMessage(ErrorLine(options_.table, text));
  }
  if (options_.repair.rule != kxcheck::RepairRule::kRestoring ||
      !options_.write_log) {
    return;
  }
  int64_t total = 0;
  std::string by_reason;
  for (int i = 0; i < kxcheck::kStampReasons; ++i) {
    if (stamps_set_[i] == 0) continue;
    total += stamps_set_[i];
    by_reason += (by_reason.empty() ? "" : ", ") +
                 std::to_string(stamps_set_[i]) + " " +
                 kxcheck::StampReasonName(static_cast<kxcheck::StampReason>(i));
  }
  if (total > 0) {
    WriteMessage(ErrorLine(
        options_.table, "the restoring rule replaced " + std::to_string(total) +
                            (total == 1 ? " stamp: " : " stamps: ") +
                            by_reason));
  }
}

bool ConsoleHost::AskYesNo(const std::string& text) {
  if (options_.quiet && options_.answer_yes) return true;
  WriteMessage(ErrorLine(options_.table,
                         text + (options_.answer_yes ? " -> Yes"
                                                     : " -> No (--replace "
                                                       "answers Yes)")));
  return options_.answer_yes;
}

}  // namespace kxtable
