// The operations' host for the command line: the results log goes to standard
// output as the results box would hold it (UTF-8), with LF line ends or, on
// request, the box's own CR LF, and nothing else goes there. Warnings,
// answered questions and the progress bar go to standard error, each message
// one line "kxtable: <table>: <message>"; the progress bar only when standard
// error is a terminal. The findings, counts and messages can also be kept as
// data in a TableReport, the report written as the table's JSON line
// instead of the log, and every record classified fed to a damage map.
#ifndef KXCHECK_TOOLS_KXTABLE_CONSOLE_HOST_H_
#define KXCHECK_TOOLS_KXTABLE_CONSOLE_HOST_H_

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/host.h"
#include "core/operations.h"
#include "core/results_log.h"
#include "os/env.h"
#include "platform/system.h"
#include "tools/kxtable/damage_map.h"
#include "tools/kxtable/errors.h"
#include "tools/kxtable/json_report.h"
#include "tools/kxtable/table_report.h"

namespace kxtable {

struct ConsoleOptions {
  // The answer AskYesNo gives (there is nobody to ask); echoed to stderr,
  // a Yes only when not `quiet`.
  bool answer_yes = false;
  bool quiet = false;
  // What SkipOption gives for each of the three skip choices.
  bool skip_deleted = false;
  bool skip_corrupted = false;
  bool skip_duplicates = false;
  // Draw the progress bar when standard error is a terminal. False never
  // draws it.
  bool progress = true;
  // SIGINT, SIGTERM and SIGHUP make StopRequested true (a second signal ends
  // the program as usual).
  bool stop_on_signal = true;
  // Where the log and the messages go; tests may pass other streams.
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // The table the operation runs on, named in every message.
  std::string table;
  // End the log's lines with CR LF, as the results box does, instead of LF.
  bool crlf = false;
  // Write every line, without the log's cap; the notice that lines were
  // left out then never comes either.
  bool full = false;
  // Write the log to `out` at all.
  bool write_log = true;
  // Where findings, counts and messages are kept as data, or nullptr.
  TableReport* report = nullptr;
  // Where the table's damage map is made once its record count is known,
  // to be fed every record the operation classifies; or nullptr, which
  // costs the record loop nothing.
  std::optional<DamageMap>* damage_map = nullptr;
  // Given every record the operation classifies too, after the damage map
  // (which it may feed with what a repair did); or empty.
  std::function<void(const kxcheck::RecordNote&)> on_record;
  // Write the report's JSON line to `out` (with a `report` only); EndReport
  // ends it.
  bool json = false;
  // What `out` is, for the message when it cannot be written.
  std::string out_name = "standard output";
  // Stop every running operation (StopAllOperations) once `out` cannot be
  // written: a check whose report nobody takes need not go on.
  bool stop_when_unwritable = false;
  // The rule a repair runs with, for the operation and for what TellRuleNotes
  // says.
  kxcheck::RepairOptions repair;
  // Every file call of the operation and its tables goes through it.
  kxos::Env* env = kxos::Env::Default();
};

// Keeps the stop signals' handlers in place while it lives, also between the
// hosts of several tables run at once.
class StopOnSignals {
 public:
  StopOnSignals();
  ~StopOnSignals();
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;
};

// Makes StopRequested true for every host that stops on signals, as a stop
// signal does.
void StopAllOperations();

// Final, so that an operation compiled for this class (see
// adapter/engine_operations.h) binds its per-record calls at compile time.
class ConsoleHost final : public platform::SystemHost,
                          private kxcheck::ResultsLog::Observer {
 public:
  explicit ConsoleHost(ConsoleOptions options = {});
  ~ConsoleHost() override;
  ConsoleHost(const ConsoleHost&) = delete;
  ConsoleHost& operator=(const ConsoleHost&) = delete;

  void AddResult(const std::string& line) override;
  bool ResultsFull() override {
    return !options_.full && LogHost::ResultsFull();
  }
  void AddFinding(const kxcheck::Finding& finding) override {
    if (options_.report != nullptr) options_.report->AddFinding(finding);
    if (json_) json_->Finding(finding);
    if (options_.write_log) LogHost::AddFinding(finding);
  }
  void AddStampSet(const kxcheck::StampSet& set) override {
    ++stamps_set_[static_cast<int>(set.reason)];
    if (options_.report != nullptr) options_.report->AddStampSet();
    if (json_) json_->StampSet(set);
    if (options_.write_log) LogHost::AddStampSet(set);
  }
  void NoteSpread(const kxcheck::Spread& spread) override;
  void NoteRecordCount(int64_t records) override {
    if (options_.report != nullptr) options_.report->records = records;
    if (options_.damage_map != nullptr) options_.damage_map->emplace(records);
    if (json_) json_->RecordCount(records);
  }
  void NoteTotals(const kxcheck::OperationTotals& totals) override {
    if (options_.report == nullptr) return;
    options_.report->has_totals = true;
    options_.report->totals = totals;
  }
  // The JSON line lists records by number, and a damage map draws them:
  // either wants every record's note.
  bool WantsRecordNotes() override {
    return json_ != nullptr || options_.on_record != nullptr ||
           (options_.damage_map != nullptr && options_.damage_map->has_value());
  }
  void NoteRecord(const kxcheck::RecordNote& note) override {
    if (json_) json_->Record(note);
    if (options_.damage_map != nullptr && options_.damage_map->has_value()) {
      (*options_.damage_map)->Add(note);
    }
    if (options_.on_record) options_.on_record(note);
  }

  // The repair's output begins here, once its names were found fit for a
  // table: the report notes it, as a failure after it is one of writing.
  std::unique_ptr<StagedTable> StageTable(const std::string& definition,
                                          const std::string& target) override {
    platform::CheckOutputNames(target, env());
    if (options_.report != nullptr) options_.report->output_begun = true;
    return SystemHost::StageTable(definition, target);
  }

  void ShowProgress(const std::string& text) override;
  void EnterBusy() override;
  void LeaveBusy() override;
  void PumpEvents() override {}
  void WarnBox(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  // One line "kxtable: <path>: <problem>" on standard error for each.
  void ShowTableProblems(const std::string& path,
                         const std::vector<std::string>& problems) override;
  bool SkipOption(kxcheck::SkipKind which) override {
    switch (which) {
      case kxcheck::SkipKind::kDeleted:
        return options_.skip_deleted;
      case kxcheck::SkipKind::kCorrupted:
        return options_.skip_corrupted;
      case kxcheck::SkipKind::kDuplicates:
        return options_.skip_duplicates;
    }
    return false;
  }
  bool StopRequested() override {
    return stop_flag_->load(std::memory_order_relaxed) != 0;
  }

  // After a repair that ran to its end, on standard error unless quiet: a
  // line when the current rule spread one stamp over more than
  // kSpreadWarnAbove records (naming `--restore`), and with the restoring
  // rule in text mode a line with the stamps it replaced, by reason.
  void TellRuleNotes();

  // Ends the JSON line, if one is written, with what the report says now:
  // call once the report holds how the operation ended.
  void EndReport();

  // Flushes standard output; throws std::runtime_error when the log could
  // not be written completely. A failed write does not stop the operation:
  // a repair still writes or removes its table as a whole.
  void Finish();

  // Bytes of the report (log text or JSON) written to the output so far.
  int64_t BytesWritten() const { return bytes_written_; }

 private:
  void OnAppend(std::string_view text) override;
  void OnClear() override;

  void DrawProgress(int64_t n, int64_t total);
  void EraseProgress();
  void WriteMessage(std::string_view text);
  // Writes log text (lines ended by CR LF) with the chosen line ends.
  void WriteLog(std::string_view text);
  // Writes text to `out`, noting a failure for Finish.
  void WriteOut(std::string_view text);
  // Pieces of standard output at least this long skip its stream's buffer.
  static constexpr size_t kWriteStraight = 8192;

  ConsoleOptions options_;
  // The flag the stop signals set, or a flag that stays 0.
  const std::atomic<int>* stop_flag_ = nullptr;
  bool draw_progress_ = false;
  bool out_is_terminal_ = false;
  bool bar_shown_ = false;
  int64_t bytes_written_ = 0;
  // Stamps set, by reason; the first spreads (kSpreadsNamed) and how many
  // (the JSON report lists every one).
  int64_t stamps_set_[kxcheck::kStampReasons] = {};
  std::vector<kxcheck::Spread> spreads_;
  int64_t spread_count_ = 0;
  bool write_failed_ = false;
  std::string write_error_;

  using Clock = std::chrono::steady_clock;
  Clock::time_point progress_start_{};
  Clock::time_point last_draw_{};
  bool progress_started_ = false;
  int64_t start_record_ = 0;

  std::unique_ptr<JsonReport> json_;
};

// "12:03" or "1:02:03" for a number of seconds.
std::string DurationText(double seconds);

// The progress line without its leading carriage return, shorter than
// `width` columns: a bar, the record count, the records per second and the
// time left at that rate.
std::string ProgressLine(int64_t n, int64_t total, double rate, int width);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_CONSOLE_HOST_H_
