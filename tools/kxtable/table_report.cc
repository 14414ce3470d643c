#include "tools/kxtable/table_report.h"

#include <algorithm>

#include "tools/kxtable/csv_codec.h"

namespace kxtable {

namespace {

using kxcheck::Outcome;

bool Damaged(const TableReport& report) {
  return report.finding_count > 0 || report.totals.null > 0 ||
         report.totals.duplicate > 0 || report.totals.corrupted > 0 ||
         !report.problems.empty() || !report.warnings.empty();
}

struct Sums {
  Sums() { totals.written = 0; }
  int64_t records = 0;
  int64_t findings = 0;
  kxcheck::OperationTotals totals;
};

std::string SumsText(const Sums& sums, bool repair) {
  std::string line = std::to_string(sums.records) + " records, " +
                     std::to_string(sums.findings) + " findings, " +
                     std::to_string(sums.totals.null) + " null, " +
                     std::to_string(sums.totals.deleted) + " deleted, " +
                     std::to_string(sums.totals.duplicate) + " duplicate, " +
                     std::to_string(sums.totals.corrupted) + " corrupted";
  if (repair) {
    line += ", " + std::to_string(std::max<int64_t>(sums.totals.written, 0)) +
            " written";
  }
  return line;
}

void AddTo(Sums& sums, const TableReport& report) {
  sums.records += std::max<int64_t>(report.records, 0);
  sums.findings += report.finding_count;
  sums.totals.null += report.totals.null;
  sums.totals.deleted += report.totals.deleted;
  sums.totals.duplicate += report.totals.duplicate;
  sums.totals.corrupted += report.totals.corrupted;
  sums.totals.written += std::max<int64_t>(RecordsWritten(report), 0);
}

}  // namespace

bool Complete(const TableReport& report) {
  return report.outcome == Outcome::kCompleted && !report.output_failed;
}

bool OutputRemoved(const TableReport& report) {
  if (report.operation != Operation::kRepair) return false;
  // The repair said it removed its staged output (a source it could not
  // read in full, an output it could not put in place).
  if (report.has_totals && report.totals.output_removed) return true;
  return report.output_begun && !report.output_left &&
         (report.outcome == Outcome::kFailed ||
          report.outcome == Outcome::kStopped);
}

int64_t RecordsWritten(const TableReport& report) {
  if (OutputRemoved(report)) return 0;
  return report.has_totals ? report.totals.written : -1;
}

int ExitStatus(const TableReport& report) {
  if (report.output_failed) return 2;
  if (report.operation == Operation::kRepair) {
    switch (report.outcome) {
      case Outcome::kCompleted:
        return report.problems.empty() && report.warnings.empty() ? 0 : 1;
      case Outcome::kDeclined:
        return 1;
      case Outcome::kFailed:
        // Before its output began a failed repair refused to write it for
        // the reason it gave (a name that leads to the source's files,
        // something in the way, another repair at work), unless it could
        // not read its source; after, it left an output with problems or
        // none at all.
        if (report.source_unreadable) return 2;
        return !report.output_begun || report.output_left ? 1 : 2;
      default:
        return 2;
    }
  }
  if (!Complete(report)) return 2;
  return Damaged(report) ? 1 : 0;
}

std::string StatusWord(const TableReport& report) {
  switch (report.outcome) {
    case Outcome::kNothing:
    case Outcome::kNotFound:
      return "missing";
    case Outcome::kDeclined:
      return "declined";
    case Outcome::kStopped:
      return "stopped";
    case Outcome::kFailed:
      return "failed";
    case Outcome::kCompleted:
      break;
  }
  if (report.output_failed) return "failed";
  if (report.operation == Operation::kRepair) {
    return report.problems.empty() ? "repaired" : "problems";
  }
  return Damaged(report) ? "damaged" : "clean";
}

std::string SummaryLine(const TableReport& report) {
  Sums sums;
  AddTo(sums, report);
  return EscapeLine(report.table) + ": " +
         SumsText(sums, report.operation == Operation::kRepair) + ", " +
         StatusWord(report);
}

std::string TotalLine(const std::vector<TableReport>& reports) {
  Sums sums;
  int worst = 0;
  std::string status = "none";
  for (const TableReport& report : reports) {
    AddTo(sums, report);
    const int code = ExitStatus(report);
    if (status == "none" || code > worst) {
      worst = code;
      status = StatusWord(report);
    }
  }
  const bool repair =
      !reports.empty() && reports.front().operation == Operation::kRepair;
  return "total: " + std::to_string(reports.size()) + " tables, " +
         SumsText(sums, repair) + ", " + status;
}

std::string SummaryHeaderTsv(Operation operation) {
  return std::string(
             "table\trecords\tfindings\tnull\tdeleted\tduplicate\tcorrupted") +
         (operation == Operation::kRepair ? "\twritten" : "") + "\tstatus";
}

std::string SummaryRowTsv(const TableReport& report) {
  Sums sums;
  AddTo(sums, report);
  std::string row = EscapeLine(report.table);
  for (int64_t number :
       {sums.records, sums.findings, sums.totals.null, sums.totals.deleted,
        sums.totals.duplicate, sums.totals.corrupted}) {
    row += '\t';
    row += std::to_string(number);
  }
  if (report.operation == Operation::kRepair) {
    row += '\t';
    row += std::to_string(sums.totals.written);
  }
  row += '\t';
  row += StatusWord(report);
  return row;
}

}  // namespace kxtable
