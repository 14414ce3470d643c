// One table's line of `kxtable check --json` and `kxtable repair --json`
// (docs/JSON.md), written while the operation runs: the head once the record
// count is known, then one element of "records" for every record with
// something to say, in table order, as the operation hands over its findings,
// stamps set and per-record notes, and the tail (counts, problems, status)
// once the operation has ended. Nothing but the record being written is
// kept, so a table of any size costs the same memory.
#ifndef KXCHECK_TOOLS_KXTABLE_JSON_REPORT_H_
#define KXCHECK_TOOLS_KXTABLE_JSON_REPORT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/host.h"
#include "core/operations.h"
#include "tools/kxtable/json_writer.h"
#include "tools/kxtable/table_report.h"

namespace kxtable {

// The version of the JSON lines' schema: it changes only when a member
// changes its meaning or goes; members may be added within a version.
inline constexpr int kJsonSchema = 1;

// A piece of JSON text made from a small key and one text, kept while both
// stay the same: under a spread, record after record has the same "previous",
// "set" and "reason".
class JsonFragment {
 public:
  // The text `make` appends to an empty string, made again only when `key`
  // or `bytes` differ from the last call's.
  template <typename Make>
  std::string_view Get(int key, std::string_view bytes, Make make) {
    if (!made_ || key != key_ || bytes != bytes_) {
      text_.clear();
      make(text_);
      made_ = true;
      key_ = key;
      bytes_.assign(bytes);
    }
    return text_;
  }

 private:
  bool made_ = false;
  int key_ = 0;
  std::string bytes_;
  std::string text_;
};

class JsonReport {
 public:
  JsonReport(JsonWriter::Sink sink, Operation operation, std::string table,
             kxcheck::RepairRule rule = kxcheck::RepairRule::kCurrent);

  // The calls of the operation's report, in the order it makes them.
  void RecordCount(int64_t records);
  void Finding(const kxcheck::Finding& finding);
  void StampSet(const kxcheck::StampSet& set);
  // Kept for the tail's "spread": the current rule tells them as it goes,
  // one per more than kSpreadWarnAbove records, so they stay few.
  void Spread(const kxcheck::Spread& spread) { spreads_.push_back(spread); }
  void Record(const kxcheck::RecordNote& note) {
    // Most records have nothing to say.
    if (note.kind == kxcheck::RecordClass::kExamined && !note.left_out &&
        open_ != note.record) {
      return;
    }
    RecordWithNews(note);
  }

  // Ends the line with what the operation came to; a line whose head was
  // never written (the table is missing or could not be opened) gets it
  // here, with no record count and no records.
  void End(const TableReport& report);

 private:
  void Head(int64_t records);
  void OpenEntry(int64_t record);
  void EntryStamp(std::string_view stamp);
  void CloseFindings();
  void CloseEntry();
  void RecordWithNews(const kxcheck::RecordNote& note);

  JsonWriter json_;
  Operation operation_;
  std::string table_;
  kxcheck::RepairRule rule_;
  std::vector<kxcheck::Spread> spreads_;
  bool head_written_ = false;
  // The record whose element is open (0: none), and whether its findings
  // array is.
  int64_t open_ = 0;
  bool in_findings_ = false;
  // A finding of a test other than order; an order finding; "set" with its
  // "reason".
  JsonFragment finding_json_;
  JsonFragment order_json_;
  JsonFragment set_json_;
};

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_JSON_REPORT_H_
