// What kxtable check and kxtable repair learned about one table, kept as
// data by the console host: the findings (every one, or only their number),
// the counts, the engine's problems, the warnings, and how the operation
// ended. From it come the exit status, the JSON document and the summary
// line.
#ifndef KXCHECK_TOOLS_KXTABLE_TABLE_REPORT_H_
#define KXCHECK_TOOLS_KXTABLE_TABLE_REPORT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/host.h"
#include "core/operations.h"

namespace kxtable {

enum class Operation { kCheck, kRepair };

struct TableReport {
  Operation operation = Operation::kCheck;
  kxcheck::RepairRule rule = kxcheck::RepairRule::kCurrent;  // repair
  std::string table;
  // Keep every finding and every stamp set; otherwise only count them.
  bool keep_details = false;

  kxcheck::Outcome outcome = kxcheck::Outcome::kNothing;
  int64_t records = -1;  // -1 until the operation has read the count
  int64_t finding_count = 0;
  int64_t stamps_set_count = 0;
  // The findings, the stamps set and the spreads, each an element of a JSON
  // array (written as they come: a report may hold millions).
  std::string findings_json;
  std::string stamps_set_json;
  std::string spreads_json;
  bool has_totals = false;
  kxcheck::OperationTotals totals;
  std::vector<std::string> problems;  // the engine's, with the table's files
  std::vector<std::string> warnings;  // what the operation told the user
  bool output_failed = false;         // the report could not be written whole
  // repair: the source could not be opened at all; the output's writing
  // began; a failed repair left its output in place (incomplete).
  bool source_unreadable = false;
  bool output_begun = false;
  bool output_left = false;

  void AddFinding(const kxcheck::Finding& finding);
  void AddStampSet(const kxcheck::StampSet& set);
  void NoteSpread(const kxcheck::Spread& spread);

 private:
  std::string scratch_;
};

// The exit status for one table. check: 0 clean (nothing but deleted
// records), 1 damage found, 2 could not check. repair: 0 when the output is
// complete and neither the source's files nor the pass had a problem, 1 when
// they had one or an existing output was not replaced, 2 when no output
// could be written (the source missing or unreadable, a failure, stopped).
// Either: 2 when the report could not be written.
int ExitStatus(const TableReport& report);
// One word for the status: check "clean", "damaged", "missing", "stopped",
// "failed"; repair "repaired", "problems" (in the source's files),
// "declined", "missing", "stopped", "failed".
std::string StatusWord(const TableReport& report);

// The JSON document of one table, or of several as an array, indented by
// two spaces with one finding a line. Texts from the table or the file system
// are escaped as export escapes cells (\xHH for bytes that are not valid
// UTF-8 and for control characters), so the document is always valid.
std::string ReportJson(const TableReport& report);
std::string ReportsJson(const std::vector<TableReport>& reports);

// "<table>: <records> records, <findings> findings, <null> null, <deleted>
// deleted, <duplicate> duplicate, <corrupted> corrupted[, <n> written],
// <status>", and the total line over all tables.
std::string SummaryLine(const TableReport& report);
std::string TotalLine(const std::vector<TableReport>& reports);

// The summary as tab-separated values: a header line, then one row per
// table with the same columns as SummaryLine. The table's name is escaped
// to one line without tabs (\xHH, as export escapes cells).
std::string SummaryHeaderTsv(Operation operation);
std::string SummaryRowTsv(const TableReport& report);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_TABLE_REPORT_H_
