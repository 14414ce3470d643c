#include "tools/kxtable/table_report.h"

#include <algorithm>

#include "tools/kxtable/csv_codec.h"

namespace kxtable {

namespace {

using kxcheck::Outcome;
using kxcheck::StampTest;

const char* TestName(StampTest test) {
  switch (test) {
    case StampTest::kOrder:
      return "order";
    case StampTest::kYear:
      return "year";
    case StampTest::kMonth:
      return "month";
    case StampTest::kDay:
      return "day";
    case StampTest::kHour:
      return "hour";
    case StampTest::kMinute:
      return "minute";
    case StampTest::kSecond:
      return "second";
    case StampTest::kSeparators:
      return "separators";
  }
  return "unknown";
}

bool Damaged(const TableReport& report) {
  return report.finding_count > 0 || report.totals.null > 0 ||
         report.totals.duplicate > 0 || report.totals.corrupted > 0 ||
         !report.problems.empty();
}

bool Complete(const TableReport& report) {
  return report.outcome == Outcome::kCompleted && !report.output_failed;
}

nlohmann::ordered_json TextList(const std::vector<std::string>& texts) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const std::string& text : texts) list.push_back(EscapeCell(text));
  return list;
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
  sums.totals.written += std::max<int64_t>(report.totals.written, 0);
}

}  // namespace

void TableReport::AddFinding(const kxcheck::Finding& finding) {
  ++finding_count;
  if (!keep_details) return;
  ReportedFinding& kept = findings.emplace_back();
  kept.record = finding.record;
  kept.test = finding.test;
  kept.stamp = finding.stamp;
  if (finding.test == StampTest::kOrder) kept.previous = finding.previous;
}

void TableReport::AddStampSet(int64_t record, std::string_view stamp) {
  ++stamps_set_count;
  if (keep_details) stamps_set.emplace_back(record, std::string(stamp));
}

int ExitStatus(const TableReport& report) {
  if (report.operation == Operation::kRepair) return Complete(report) ? 0 : 1;
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
  if (report.operation == Operation::kRepair) return "repaired";
  return Damaged(report) ? "damaged" : "clean";
}

nlohmann::ordered_json ReportJson(const TableReport& report) {
  using Json = nlohmann::ordered_json;
  const bool repair = report.operation == Operation::kRepair;
  Json doc;
  doc["operation"] = repair ? "repair" : "check";
  doc["table"] = EscapeCell(report.table);
  doc["status"] = StatusWord(report);
  doc["complete"] = Complete(report);
  doc["records"] = report.records >= 0 ? Json(report.records) : Json();
  Json findings = Json::array();
  for (const ReportedFinding& f : report.findings) {
    Json item;
    item["record"] = f.record;
    item["test"] = TestName(f.test);
    item["stamp"] = EscapeCell(f.stamp);
    if (f.test == StampTest::kOrder) item["previous"] = EscapeCell(f.previous);
    findings.push_back(std::move(item));
  }
  doc["findings"] = std::move(findings);
  if (report.has_totals) {
    doc["counts"] = {{"deleted", report.totals.deleted},
                     {"null", report.totals.null},
                     {"duplicate", report.totals.duplicate},
                     {"corrupted", report.totals.corrupted}};
  } else {
    doc["counts"] = nullptr;
  }
  doc["problems"] = TextList(report.problems);
  doc["warnings"] = TextList(report.warnings);
  if (repair) {
    const bool known = report.has_totals && report.totals.written >= 0;
    doc["output"] = report.has_totals ? Json(EscapeCell(report.totals.output))
                                      : Json();
    doc["records_written"] = known ? Json(report.totals.written) : Json();
    Json stamps = Json::array();
    for (const auto& [record, stamp] : report.stamps_set) {
      stamps.push_back({{"record", record}, {"stamp", EscapeCell(stamp)}});
    }
    doc["replaced_stamps"] = std::move(stamps);
  }
  return doc;
}

std::string SummaryLine(const TableReport& report) {
  Sums sums;
  AddTo(sums, report);
  return report.table + ": " +
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

}  // namespace kxtable
