#include "core/step.h"

#include <cstddef>
#include <iterator>
#include <string_view>

namespace kxcheck {

namespace {

struct StepWords {
  Step step;
  const char* check;   // "... while <check>"
  const char* repair;  // "Could not <repair>"
};

// One row per step, in the order of the enumeration.
constexpr StepWords kWords[] = {
    {Step::kLookForSource, "looking for the file", "look for {source}"},
    {Step::kWarnMissing, "warning that the file is missing",
     "warn that the file is missing"},
    {Step::kEnterBusy, "entering the busy state", "enter the busy state"},
    {Step::kClearResults, "clearing the results", "clear the results"},
    {Step::kCreateTables, "opening", "create the table objects"},
    {Step::kOpenSource, "opening", "open {source}"},
    {Step::kReadProblems, "opening", "read the problems of {source}"},
    {Step::kReadMarksMissing, "opening", "read the deletion marks of {source}"},
    {Step::kReadBasePath, "opening", "read the base path of {source}"},
    {Step::kLookForOutput, "looking for the output", "look for {output}"},
    {Step::kAskReplace, "asking whether to replace the output",
     "ask whether to replace {output}"},
    {Step::kCompareOutput, "comparing the output's names",
     "compare {file} with the source's files"},
    {Step::kLockOutput, "locking the output", "lock {output} for writing"},
    {Step::kCopyDefinition, "copying the definition",
     "copy {source} to {output}"},
    {Step::kOpenOutput, "opening the output", "open the output table {output}"},
    {Step::kHeaderLines, "writing to the results", "write the results log"},
    {Step::kReadRecordCount, "reading the number of records",
     "read the record count of {source}"},
    {Step::kReadTotal, "reading the number of records",
     "read the record count of {source}"},
    {Step::kShowProgress, "showing the progress", "show the progress"},
    {Step::kPositioning, "moving to the record", "move to the record"},
    {Step::kReadRecord, "reading the record", "read the record"},
    {Step::kNullTest, "reading the record",
     "read the record for the null test"},
    {Step::kKeepRecord, "keeping the record", "keep the record"},
    {Step::kDeletedOption, "reading a skip option", "read a skip option"},
    {Step::kDeletionMark, "reading the deletion mark",
     "read the deletion mark"},
    {Step::kCorruptedOption, "reading a skip option", "read a skip option"},
    {Step::kDuplicatesOption, "reading a skip option", "read a skip option"},
    {Step::kDuplicateTest, "reading the record",
     "read the record for the duplicate test"},
    {Step::kReadStamp, "reading the date and time", "read the date and time"},
    {Step::kClock, "reading the clock", "read the clock"},
    {Step::kFinding, "writing to the results", "write the results log"},
    {Step::kPutDate, "writing the date", "write the date"},
    {Step::kPutTime, "writing the time", "write the time"},
    {Step::kStampSet, "writing to the results", "write the results log"},
    {Step::kOutputBuffer, "filling the output's buffer",
     "fill the output's buffer"},
    {Step::kHoldRecord, "holding the record", "hold the record"},
    {Step::kAppend, "appending the record", "append the record"},
    {Step::kNoteRecord, "noting the record", "note the records"},
    {Step::kSevereLine, "writing to the results", "write the results log"},
    {Step::kPumpEvents, "processing window events", "process window events"},
    {Step::kNoteSpread, "writing the summary", "report a stamp spread"},
    {Step::kNoteTotals, "writing the summary", "report the counts"},
    {Step::kMeasureLog, "writing the summary", "measure the results log"},
    {Step::kTruncationNotice, "writing the summary", "write the results log"},
    {Step::kCountLines, "writing the summary", "write the results log"},
    {Step::kCountWritten, "writing the summary", "count the records written"},
    {Step::kClosingLines, "writing the summary", "write the results log"},
    {Step::kCloseSource, "closing", "close the source table"},
    {Step::kCloseOutput, "closing the output", "commit the output"},
    {Step::kPublishOutput, "putting the output in place",
     "put {output} in place"},
    {Step::kRemoveOutput, "removing the output",
     "remove the unfinished output {output}"},
    {Step::kLeaveBusy, "leaving the busy state", "return the window to idle"},
    {Step::kWarn, "warning", "warn"},
    {Step::kShowProblems, "showing the table's problems",
     "show the table's problems"},
};

static_assert(
    [] {
      for (size_t i = 0; i < std::size(kWords); ++i) {
        if (static_cast<size_t>(kWords[i].step) != i) return false;
      }
      return std::size(kWords) == static_cast<size_t>(Step::kShowProblems) + 1;
    }(),
    "kWords has one row per step, in order");

}  // namespace

const char* CheckWords(Step step) {
  return kWords[static_cast<size_t>(step)].check;
}

std::string RepairWords(Step step, const std::string& source,
                        const std::string& output, const std::string& file) {
  std::string text = "Could not ";
  // {source}, {output} and {file} become the quoted names.
  std::string_view words = kWords[static_cast<size_t>(step)].repair;
  for (size_t brace; (brace = words.find('{')) != std::string_view::npos;) {
    text += words.substr(0, brace);
    words.remove_prefix(brace);
    const std::string& name = words.starts_with("{source}")   ? source
                              : words.starts_with("{output}") ? output
                                                              : file;
    text += "'" + name + "'";
    words.remove_prefix(words.find('}') + 1);
  }
  return text += words;
}

}  // namespace kxcheck
