// What the check scan and the repair pass share: the order of their stages,
// where they are at each call (for the text of a failure, and for a test
// that watches), the progress interval, the text of the exception being
// handled, and the current year's text.
#ifndef KXCHECK_CORE_OPERATION_H_
#define KXCHECK_CORE_OPERATION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/operations.h"
#include "core/stamp.h"
#include "core/step.h"

namespace kxcheck {

// The progress label is shown at every record whose number is a multiple of
// this, and at both ends.
inline constexpr int32_t kProgressEvery = 1000;

// The message of the exception being handled. Call only inside a catch block.
std::string CurrentReason();

// The current year as four digits, for the year test; made again only when
// the year changes.
class CurrentYearText {
 public:
  std::string_view Of(int year) {
    if (year != year_ || text_.empty()) {
      text_ = YearText(year);
      year_ = year;
    }
    return text_;
  }

 private:
  int year_ = 0;
  std::string text_;
};

// What the check scan and the repair pass both keep: the source's path and
// what the engine found wrong with its files, whether the host is busy and
// wants record notes, the records counted by kind, and the year's text.
class OperationState {
 public:
  // For RunStages.
  const std::string& Path() const { return path_; }
  int32_t Total() const { return total_; }

 protected:
  explicit OperationState(const std::string& path) : path_(path) {}

  // The counts so far, for NoteTotals.
  OperationTotals Counts() const {
    OperationTotals totals;
    totals.deleted = deleted_;
    totals.null = null_;
    totals.duplicate = duplicate_;
    totals.corrupted = corrupted_;
    return totals;
  }

  // The engine's problems with the source's files, shown once the operation
  // has ended, whichever way.
  template <class HostType, class StepsType>
  void ShowProblems(HostType& host, StepsType& steps) {
    if (problems_.empty()) return;
    steps.Try(Step::kShowProblems,
              [&] { host.ShowTableProblems(path_, problems_); });
  }

  const std::string& path_;
  std::vector<std::string> problems_;
  bool busy_ = false;  // a half-done EnterBusy still wants its LeaveBusy
  bool notes_ = false;
  int32_t total_ = 0;  // the records the loop visits
  int32_t deleted_ = 0;
  int32_t null_ = 0;
  int32_t duplicate_ = 0;
  int32_t corrupted_ = 0;
  CurrentYearText year_;
};

// Runs an operation's calls, each as one step, and keeps where the last call
// that threw was made, for the failure text. A watched operation (a test's)
// tells its observer of every step before the call; an operation that is not
// watched, as the window and the console run them, has no observer compiled
// in.
template <bool kWatched>
class Steps {
 public:
  explicit Steps(StepObserver* observer) : observer_(observer) {}

  template <class Call>
  decltype(auto) Run(Step step, Call&& call) {
    if constexpr (kWatched) {
      if (observer_ != nullptr) {
        observer_->OnStep(Position{phase_, record_, step});
      }
    }
    try {
      return call();
    } catch (...) {
      failed_ = Position{phase_, record_, step};
      throw;
    }
  }

  // Runs the call as Run does, catching its failure: gives the failure's
  // reason, or nothing when the call returned.
  template <class Call>
  std::optional<std::string> Try(Step step, Call&& call) {
    try {
      Run(step, std::forward<Call>(call));
      return std::nullopt;
    } catch (...) {
      return CurrentReason();
    }
  }

  void EnterLoop() { phase_ = Phase::kLoop; }
  void AtRecord(int64_t n) { record_ = n; }
  void LeaveLoop() {
    phase_ = Phase::kAfter;
    record_ = 0;
  }
  Phase phase() const { return phase_; }
  // Where the last call that threw was made.
  const Position& Failed() const { return failed_; }

 private:
  StepObserver* observer_;
  Phase phase_ = Phase::kBefore;
  int64_t record_ = 0;
  Position failed_;
};

// The stages of an operation, in their order: Prepare (which may end the
// operation early with its outcome), OneRecord for every record (false: the
// loop ends early, because the user asked to stop or the operation cannot go
// on, and Stopped ends the operation), AfterLastRecord where the operation
// has one, Summary. A stage that throws ends in Fail, called inside the
// handler.
template <class Operation>
Outcome RunStages(Operation& operation) {
  if (operation.Path().empty()) return Outcome::kNothing;
  try {
    if (const std::optional<Outcome> early = operation.Prepare()) {
      return *early;
    }
    const int32_t total = operation.Total();
    operation.steps().EnterLoop();
    // 64 bits, so that a total of the largest 32-bit value ends the loop.
    for (int64_t n = 1; n <= total; ++n) {
      if (!operation.OneRecord(static_cast<int32_t>(n))) {
        operation.steps().LeaveLoop();
        return operation.Stopped();
      }
    }
    // An operation that holds records back finishes them in the loop.
    if constexpr (requires { operation.AfterLastRecord(); }) {
      operation.AfterLastRecord();
    }
    operation.steps().LeaveLoop();
    return operation.Summary();
  } catch (...) {
    return operation.Fail();
  }
}

}  // namespace kxcheck

#endif  // KXCHECK_CORE_OPERATION_H_
