// The check scan through the table and host interfaces, and the parts of the
// scan that are the same for every table and host.
#include "core/check_scan.h"

#include <exception>
#include <string>

namespace kxcheck {

namespace check_scan_internal {

namespace {

std::string Reason(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace

std::string FailureText(const std::string& path, const Position& at,
                        std::exception_ptr failure) {
  const std::string reason = Reason(failure);
  std::string doing = at.doing;
  if (doing == "opening") return "Cannot open " + path + ": " + reason;
  if (doing == "closing") return "Cannot close " + path + ": " + reason;
  if (doing == "looking for the file") {
    return "Cannot tell whether " + path + " exists: " + reason;
  }
  std::string where;
  switch (at.phase) {
    case Position::Phase::kBefore:
      where = "Check stopped before the first record";
      break;
    case Position::Phase::kLoop:
      where = "Check stopped at record " + std::to_string(at.record);
      break;
    case Position::Phase::kAfter:
      where = "Check stopped after the last record";
      break;
  }
  return where + " while " + doing + ": " + reason;
}

void ReadStampFromFields(Table& table, PackedRecord& record) {
  const std::string date = table.FieldGet(1);
  const std::string time = table.FieldGet(2);
  if (date.size() == 10 && time.size() == 8) {
    record.SetStamp(date.data(), time.data());
  } else {
    record.SetStamp(MakeStamp(date, time));
  }
}

void AddCountLine(Host& host, int32_t count, const char* what) {
  if (count > 0) {
    host.AddResultAlways("Found " + std::to_string(count) + what);
  }
}

}  // namespace check_scan_internal

Outcome CheckTable(const std::string& path, Host& host, TableFactory& tables) {
  return CheckScan(path, host, [&tables] { return tables.Create(); });
}

}  // namespace kxcheck
