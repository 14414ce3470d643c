// What kxtable check and kxtable repair learned about one table, kept as
// data by the console host: the number of findings (by test) and of stamps
// set, the counts, the engine's problems, the warnings, and how the
// operation ended. From it come the exit status, the end of the table's JSON
// line (json_report.h) and the summary line.
#ifndef KXCHECK_TOOLS_KXTABLE_TABLE_REPORT_H_
#define KXCHECK_TOOLS_KXTABLE_TABLE_REPORT_H_

#include <array>
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
  std::string table;

  kxcheck::Outcome outcome = kxcheck::Outcome::kNothing;
  int64_t records = -1;  // -1 until the operation has read the count
  int64_t finding_count = 0;
  // Findings by test, in the order of kxcheck::kAllStampTests.
  std::array<int64_t, kxcheck::kAllStampTests.size()> findings_by_test{};
  int64_t stamps_set_count = 0;
  bool has_totals = false;
  kxcheck::OperationTotals totals;
  std::vector<std::string> problems;  // the engine's, with the table's files
  std::vector<std::string> warnings;  // what the operation told the user
  bool output_failed = false;         // the report could not be written whole
  // repair: the source could not be opened at all; the output's writing
  // began; a repair that failed or was stopped left its output in place
  // (incomplete).
  bool source_unreadable = false;
  bool output_begun = false;
  bool output_left = false;

  void AddFinding(const kxcheck::Finding& finding) {
    ++finding_count;
    ++findings_by_test[static_cast<size_t>(finding.test)];
  }
  void AddStampSet() { ++stamps_set_count; }
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
// Whether the operation ran to its end and its report was written whole.
bool Complete(const TableReport& report);
// repair: the output was begun and then removed as a whole (a failure, or
// a stop), so that no repaired table is there.
bool OutputRemoved(const TableReport& report);
// repair: the records in the output, 0 when it was removed; -1 when not
// known.
int64_t RecordsWritten(const TableReport& report);

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
