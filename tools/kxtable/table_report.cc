#include "tools/kxtable/table_report.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "tools/kxtable/csv_codec.h"

namespace kxtable {

namespace {

using kxcheck::Outcome;
using kxcheck::StampTest;

bool Damaged(const TableReport& report) {
  return report.finding_count > 0 || report.totals.null > 0 ||
         report.totals.duplicate > 0 || report.totals.corrupted > 0 ||
         !report.problems.empty() || !report.warnings.empty();
}

bool Complete(const TableReport& report) {
  return report.outcome == Outcome::kCompleted && !report.output_failed;
}

using Json = nlohmann::ordered_json;

Json TextList(const std::vector<std::string>& texts) {
  Json list = Json::array();
  for (const std::string& text : texts) list.push_back(EscapeCell(text));
  return list;
}

// `bytes`, escaped as export escapes cells, as a JSON string. The cell text
// is valid UTF-8 whose only control characters are tab, CR and LF.
void AppendJsonString(std::string& out, std::string_view bytes,
                      std::string& scratch) {
  scratch.clear();
  AppendEscapedCell(scratch, bytes);
  out += '"';
  for (char c : scratch) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  out += '"';
}

// The members of an object as dump(2) writes them, without the braces.
std::string Members(const Json& object) {
  const std::string text = object.dump(2);
  return text.substr(2, text.size() - 4);
}

// A member whose value is an array of the given elements.
std::string ArrayMember(const char* name, const std::string& elements) {
  return std::string(",\n  \"") + name + "\": [" + elements +
         (elements.empty() ? "]" : "\n  ]");
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
  findings_json += findings_json.empty() ? "\n" : ",\n";
  findings_json += "    {\"record\": ";
  findings_json += std::to_string(finding.record);
  findings_json += ", \"test\": \"";
  findings_json += kxcheck::StampTestName(finding.test);
  findings_json += "\", \"stamp\": ";
  AppendJsonString(findings_json, finding.stamp, scratch_);
  if (finding.test == StampTest::kOrder) {
    findings_json += ", \"previous\": ";
    AppendJsonString(findings_json, finding.previous, scratch_);
  }
  findings_json += '}';
}

void TableReport::AddStampSet(const kxcheck::StampSet& set) {
  ++stamps_set_count;
  if (!keep_details) return;
  stamps_set_json += stamps_set_json.empty() ? "\n" : ",\n";
  stamps_set_json += "    {\"record\": ";
  stamps_set_json += std::to_string(set.record);
  stamps_set_json += ", \"stamp\": ";
  AppendJsonString(stamps_set_json, set.stamp, scratch_);
  stamps_set_json += ", \"read\": ";
  AppendJsonString(stamps_set_json, set.original, scratch_);
  stamps_set_json += ", \"reason\": \"";
  stamps_set_json += kxcheck::StampReasonName(set.reason);
  stamps_set_json += "\"}";
}

void TableReport::NoteSpread(const kxcheck::Spread& spread) {
  if (!keep_details) return;
  spreads_json += spreads_json.empty() ? "\n" : ",\n";
  spreads_json +=
      "    {\"record\": " + std::to_string(spread.source) + ", \"stamp\": ";
  AppendJsonString(spreads_json, spread.stamp, scratch_);
  spreads_json += ", \"first\": " + std::to_string(spread.first) +
                  ", \"last\": " + std::to_string(spread.last) +
                  ", \"records\": " + std::to_string(spread.records) + "}";
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

std::string ReportJson(const TableReport& report) {
  const bool repair = report.operation == Operation::kRepair;
  Json head;
  head["operation"] = repair ? "repair" : "check";
  if (repair) {
    head["rule"] = report.rule == kxcheck::RepairRule::kRestoring ? "restoring"
                                                                  : "current";
  }
  head["table"] = EscapeCell(report.table);
  head["status"] = StatusWord(report);
  head["complete"] = Complete(report);
  head["records"] = report.records >= 0 ? Json(report.records) : Json();
  Json tail;
  if (report.has_totals) {
    tail["counts"] = {{"deleted", report.totals.deleted},
                      {"null", report.totals.null},
                      {"duplicate", report.totals.duplicate},
                      {"corrupted", report.totals.corrupted}};
  } else {
    tail["counts"] = nullptr;
  }
  tail["problems"] = TextList(report.problems);
  tail["warnings"] = TextList(report.warnings);
  if (repair) {
    const bool known = report.has_totals && report.totals.written >= 0;
    tail["output"] =
        report.has_totals ? Json(EscapeCell(report.totals.output)) : Json();
    tail["records_written"] = known ? Json(report.totals.written) : Json();
  }
  std::string text = "{\n" + Members(head);
  text += ArrayMember("findings", report.findings_json);
  text += ",\n" + Members(tail);
  if (repair) {
    text += ArrayMember("replaced_stamps", report.stamps_set_json);
    text += ArrayMember("spread", report.spreads_json);
  }
  text += "\n}";
  return text;
}

std::string ReportsJson(const std::vector<TableReport>& reports) {
  std::string text = "[";
  for (const TableReport& report : reports) {
    text += &report == &reports.front() ? "\n  " : ",\n  ";
    const std::string doc = ReportJson(report);
    for (char c : doc) {
      text += c;
      if (c == '\n') text += "  ";
    }
  }
  text += reports.empty() ? "]" : "\n]";
  return text;
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
