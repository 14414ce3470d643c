#include "tools/kxtable/json_report.h"

#include <utility>

#include "core/stamp.h"

namespace kxtable {

namespace {

using kxcheck::RecordClass;
using kxcheck::StampTest;

const char* ClassName(RecordClass kind) {
  switch (kind) {
    case RecordClass::kNull:
      return "null";
    case RecordClass::kDeleted:
      return "deleted";
    case RecordClass::kCorrupted:
      return "corrupted";
    case RecordClass::kDuplicate:
      return "duplicate";
    case RecordClass::kExamined:
      break;
  }
  return "examined";
}

void TextList(JsonWriter& json, const std::vector<std::string>& texts) {
  json.BeginArray();
  for (const std::string& text : texts) json.String(text);
  json.EndArray();
}

// A number, or null when it is not known (below 0).
void Count(JsonWriter& json, int64_t value) {
  if (value >= 0) {
    json.Number(value);
  } else {
    json.Null();
  }
}

}  // namespace

JsonReport::JsonReport(JsonWriter::Sink sink, Operation operation,
                       std::string table, kxcheck::RepairRule rule)
    : json_(std::move(sink)),
      operation_(operation),
      table_(std::move(table)),
      rule_(rule) {}

void JsonReport::Head(int64_t records) {
  head_written_ = true;
  json_.BeginObject();
  json_.Key("schema");
  json_.Number(kJsonSchema);
  json_.Key("command");
  json_.String(operation_ == Operation::kRepair ? "repair" : "check");
  if (operation_ == Operation::kRepair) {
    json_.Key("rule");
    json_.String(rule_ == kxcheck::RepairRule::kRestoring ? "restoring"
                                                          : "current");
  }
  json_.Key("table");
  json_.String(table_);
  json_.Key("record_count");
  Count(json_, records);
  json_.Key("records");
  json_.BeginArray();
}

void JsonReport::RecordCount(int64_t records) {
  if (!head_written_) Head(records);
}

// The elements of "records" are written as pieces of text, not member by
// member: their shape is fixed, and there are millions of them.
void JsonReport::OpenEntry(int64_t record) {
  CloseEntry();
  json_.BeginObject();
  json_.RawText("\"record\":");
  json_.RawNumber(record);
  open_ = record;
}

void JsonReport::EntryStamp(std::string_view stamp) {
  json_.RawText(",\"stamp\":");
  json_.RawString(stamp);
}

void JsonReport::CloseFindings() {
  if (!in_findings_) return;
  json_.RawText("]");
  in_findings_ = false;
}

void JsonReport::CloseEntry() {
  if (open_ == 0) return;
  CloseFindings();
  json_.EndObject();
  open_ = 0;
}

void JsonReport::Finding(const kxcheck::Finding& finding) {
  if (open_ != finding.record) {
    OpenEntry(finding.record);
    EntryStamp(finding.stamp);
  }
  if (!in_findings_) {
    json_.RawText(",\"findings\":[");
    in_findings_ = true;
  } else {
    json_.RawText(",");
  }
  const int test = static_cast<int>(finding.test);
  if (finding.test != StampTest::kOrder) {
    json_.RawText(finding_json_.Get(test, {}, [&](std::string& text) {
      text.append("{\"test\":")
          .append(json_.Quoted(kxcheck::StampTestName(finding.test)));
      text += '}';
    }));
    return;
  }
  // Under a spread record after record has the same previous stamp.
  json_.RawText(order_json_.Get(test, finding.previous, [&](std::string& text) {
    text.append("{\"test\":")
        .append(json_.Quoted(kxcheck::StampTestName(finding.test)));
    text.append(",\"previous\":").append(json_.Quoted(finding.previous));
    text += '}';
  }));
}

void JsonReport::StampSet(const kxcheck::StampSet& set) {
  // The current rule sets a stamp only for a record with a finding, whose
  // element is open; the restoring rule also replaces stamps that pass the
  // tests (a spike, one off the cadence).
  if (open_ != set.record) {
    OpenEntry(set.record);
    EntryStamp(set.original);
  }
  CloseFindings();
  const int reason = static_cast<int>(set.reason);
  json_.RawText(set_json_.Get(reason, set.stamp, [&](std::string& text) {
    text.append(",\"set\":").append(json_.Quoted(set.stamp));
    text.append(",\"reason\":")
        .append(json_.Quoted(kxcheck::StampReasonName(set.reason)));
  }));
}

void JsonReport::RecordWithNews(const kxcheck::RecordNote& note) {
  if (note.kind != RecordClass::kExamined) {
    OpenEntry(note.record);
    json_.RawText(",\"class\":");
    json_.RawString(ClassName(note.kind));
  } else if (open_ != note.record) {
    // Examined without a finding, and left out: its append failed.
    OpenEntry(note.record);
    EntryStamp(note.stamp);
  }
  CloseFindings();
  if (note.left_out) json_.RawText(",\"left_out\":true");
  CloseEntry();
}

void JsonReport::End(const TableReport& report) {
  if (!head_written_) Head(-1);
  CloseEntry();
  json_.EndArray();

  const bool repair = operation_ == Operation::kRepair;
  json_.Key("finding_count");
  json_.Number(report.finding_count);
  json_.Key("findings_by_test");
  json_.BeginObject();
  for (StampTest test : kxcheck::kAllStampTests) {
    json_.Key(kxcheck::StampTestName(test));
    json_.Number(report.findings_by_test[static_cast<size_t>(test)]);
  }
  json_.EndObject();
  json_.Key("counts");
  if (report.has_totals) {
    json_.BeginObject();
    json_.Key("deleted");
    json_.Number(report.totals.deleted);
    json_.Key("null");
    json_.Number(report.totals.null);
    json_.Key("duplicate");
    json_.Number(report.totals.duplicate);
    json_.Key("corrupted");
    json_.Number(report.totals.corrupted);
    json_.EndObject();
  } else {
    json_.Null();
  }
  if (repair) {
    json_.Key("stamp_set_count");
    json_.Number(report.stamps_set_count);
    json_.Key("output");
    if (report.has_totals) {
      json_.String(report.totals.output);
    } else {
      json_.Null();
    }
    json_.Key("records_written");
    Count(json_, RecordsWritten(report));
    json_.Key("output_removed");
    json_.Bool(OutputRemoved(report));
    json_.Key("spread");
    json_.BeginArray();
    for (const kxcheck::Spread& spread : spreads_) {
      json_.BeginObject();
      json_.Key("first");
      json_.Number(spread.first);
      json_.Key("last");
      json_.Number(spread.last);
      json_.Key("records");
      json_.Number(spread.records);
      json_.Key("stamp");
      json_.String(spread.stamp);
      json_.Key("source");
      json_.Number(spread.source);
      json_.EndObject();
    }
    json_.EndArray();
  }
  json_.Key("problems");
  TextList(json_, report.problems);
  json_.Key("warnings");
  TextList(json_, report.warnings);
  json_.Key("complete");
  json_.Bool(Complete(report));
  json_.Key("status");
  json_.String(StatusWord(report));
  json_.Key("exit_status");
  json_.Number(ExitStatus(report));
  json_.EndObject();
}

}  // namespace kxtable
