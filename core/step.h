// What an operation is doing at each of its calls on the host and the
// tables: the purpose of the call, the record and the part of the operation.
// A failure is reported in these terms (each operation has its own words
// for them), and a test can watch them to make one purpose fail.
#ifndef KXCHECK_CORE_STEP_H_
#define KXCHECK_CORE_STEP_H_

#include <cstdint>
#include <string>

namespace kxcheck {

enum class Step {
  // Preparation.
  kLookForSource,
  kWarnMissing,  // "Filename does not exist!"
  kEnterBusy,
  kClearResults,
  kCreateTables,
  kOpenSource,
  kReadProblems,      // what the engine found wrong with the files
  kReadMarksMissing,  // whether some deletion marks could not be read
  kReadBasePath,
  kLookForOutput,  // whether the output exists, to ask
  kAskReplace,
  kCompareOutput,  // whether an output name is one of the source's files
  kLockOutput,
  kCopyDefinition,  // the source's main file to the staged output's
  kOpenOutput,
  kHeaderLines,      // "Filename: " and "Records:  "
  kReadRecordCount,  // for the "Records:  " line
  kReadTotal,        // the number of records the loop visits
  kShowProgress,
  // One record.
  kPositioning,
  kReadRecord,  // the record's bytes, to classify it
  kNullTest,    // the bytes, read again for the null rule
  kKeepRecord,  // a copy of the bytes, for the next duplicate rule
  kDeletedOption,
  kDeletionMark,
  kCorruptedOption,
  kDuplicatesOption,
  kDuplicateTest,  // the bytes, read again for the duplicate rule
  kReadStamp,
  kClock,
  kFinding,
  kPutDate,  // FieldPut(1): repaired separators or a replacement stamp
  kPutTime,  // FieldPut(2)
  kStampSet,
  kOutputBuffer,  // the source's bytes into the output's buffer
  kHoldRecord,    // restoring rule: a copy of the bytes, until the stamp is
                  // decided
  kAppend,
  kNoteRecord,
  kSevereLine,  // "Encountered a Severe error - skipping!"
  kPumpEvents,  // and whether the user asked to stop
  // Summary and the end.
  kNoteSpread,  // one stamp given to a long run of records
  kNoteTotals,
  kMeasureLog,  // for the truncation notice
  kTruncationNotice,
  kCountLines,  // "Found " or "Skipped " lines
  kCountWritten,
  kClosingLines,
  kCloseSource,
  kCloseOutput,    // which commits it under its staged names
  kPublishOutput,  // the committed output put at the output's names
  kRemoveOutput,   // the files of an output that was not finished
  kLeaveBusy,
  kWarn,  // how the operation ended
  kShowProblems,
};

// Before, in or after the record loop.
enum class Phase { kBefore, kLoop, kAfter };

struct Position {
  Phase phase = Phase::kBefore;
  int64_t record = 0;  // in the loop: the record being processed
  Step step = Step::kLookForSource;
};

// What an operation was doing at a step, in the words of its warnings: the
// check's "reading the clock" (for "... while reading the clock"), the
// repair's "Could not read the clock", with the quoted names of the source,
// the output and the file where the step names one.
const char* CheckWords(Step step);
std::string RepairWords(Step step, const std::string& source,
                        const std::string& output = {},
                        const std::string& file = {});

// Told of every step an operation takes, before its call (tests).
class StepObserver {
 public:
  virtual ~StepObserver() = default;
  virtual void OnStep(const Position& at) = 0;
};

}  // namespace kxcheck

#endif  // KXCHECK_CORE_STEP_H_
