// Makes a damage map page from a table, for looking at pages and for the
// browser check, until kxtable report feeds the damage map from the check
// scan itself. Not installed.
//
//   damage_map_page T.kxt OUT.html|-     the page of a table
//   damage_map_page --data D.json OUT.html|-   a page around given data
//
// It reads the table through the engine and classes every record by the
// check's rules (null, deleted, corrupted, duplicate, else examined and its
// stamp tested), one note per record.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "core/stamp.h"
#include "engine/record_table.h"
#include "platform/system.h"
#include "tools/kxtable/damage_map.h"
#include "tools/kxtable/report_page.h"
#include "tools/kxtable/staged_file.h"
#include "tools/kxtable/table_report.h"

namespace {

using kxtable::RecordClass;

std::string TableData(const std::string& path) {
  kalvex::RecordTable table;
  table.Open(path);
  const int32_t total = table.RecordCount();
  kxtable::DamageMap map(total);
  const std::string year = kxcheck::YearText(platform::CurrentYear());
  std::string previous_stamp(kxcheck::kStartStamp);
  std::string previous_record;
  std::string buffer;
  std::string stamp;
  for (int32_t n = 1; n <= total; ++n) {
    table.GoToRecord(n);
    buffer.assign(table.RecordBuffer());
    kxtable::RecordNote note;
    note.record = n;
    if (kxcheck::IsCheckNull(buffer)) {
      note.kind = RecordClass::kNull;
    } else if (table.Deleted()) {
      note.kind = RecordClass::kDeleted;
    } else if (!kxcheck::HasSeparatorBytes(buffer)) {
      note.kind = RecordClass::kCorrupted;
    } else if (buffer == previous_record) {
      note.kind = RecordClass::kDuplicate;
    } else {
      kxcheck::ReadStamp(table, stamp);
      for (kxcheck::StampTest test : kxcheck::kAllStampTests) {
        if (kxcheck::StampTestFails(test, stamp, previous_stamp, year)) {
          note.failed |= kxcheck::Bit(test);
        }
      }
      note.stamp = stamp;
      previous_stamp = stamp;
      previous_record = buffer;
    }
    map.Add(note);
  }
  table.Close();

  // What kxtable check would say of the table.
  kxtable::TableReport report;
  report.table = path;
  report.outcome = kxcheck::Outcome::kCompleted;
  report.records = total;
  report.finding_count = map.FindingCount();
  report.has_totals = true;
  report.totals.deleted = map.Total(kxtable::kDeletedKind);
  report.totals.null = map.Total(kxtable::kNullKind);
  report.totals.duplicate = map.Total(kxtable::kDuplicateKind);
  report.totals.corrupted = map.Total(kxtable::kCorruptedKind);
  report.problems = table.Problems();
  return map.Json({.path = path,
                   .layout = kxtable::LayoutText(table.Layout()),
                   .problems = report.problems,
                   .exit_status = kxtable::ExitStatus(report),
                   .status = kxtable::StatusWord(report)});
}

}  // namespace

int main(int argc, char** argv) {
  const std::string usage =
      "usage: damage_map_page T.kxt OUT.html|-\n"
      "       damage_map_page --data DATA.json OUT.html|-\n";
  try {
    std::string data;
    std::string out;
    if (argc == 4 && std::string(argv[1]) == "--data") {
      std::ifstream in(argv[2], std::ios::binary);
      if (!in) throw std::runtime_error(std::string(argv[2]) + ": cannot read");
      data.assign(std::istreambuf_iterator<char>(in), {});
      out = argv[3];
    } else if (argc == 3) {
      data = TableData(argv[1]);
      out = argv[2];
    } else {
      std::fputs(usage.c_str(), stderr);
      return 2;
    }
    const std::string page = kxtable::ReportPage(data);
    if (out == "-") {
      std::fwrite(page.data(), 1, page.size(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    kxtable::WriteNewFile(out, page, /*replace=*/true);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "damage_map_page: %s\n", e.what());
    return 1;
  }
}
