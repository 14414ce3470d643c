// What the check and repair operations need of a table, and nothing more.
// The adapter (adapter/engine_table.h) fits the Kalvex engine to it; tests
// use fakes.
//
// Record buffers and field texts are byte strings: one byte, one character.
// Any call may fail by throwing an exception derived from std::exception.
#ifndef KXCHECK_CORE_TABLE_H_
#define KXCHECK_CORE_TABLE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kxcheck {

class Table {
 public:
  virtual ~Table() = default;  // release: no Close, nothing committed

  virtual void SetAccessMode(int mode) = 0;  // 2: append to the table
  virtual void Open(const std::string& path) = 0;
  virtual std::string BasePath() = 0;  // the path without ".kxt"
  virtual int32_t RecordCount() = 0;
  virtual void GoToRecord(int32_t n) = 0;  // 1-based
  // The working record. The view stays valid until the next call on this
  // table.
  virtual std::string_view RecordBuffer() = 0;
  virtual void SetRecordBuffer(std::string_view bytes) = 0;
  virtual bool Deleted() = 0;
  virtual std::string FieldGet(int field) = 0;  // 1 date, 2 time
  // FieldGet(1) and FieldGet(2) at once, written into `out` (the date's 10
  // characters, then the time's 8) when both fields have these lengths;
  // false otherwise, and the caller asks FieldGet. A table that can give the
  // two texts without making strings overrides this.
  virtual bool DateAndTimeText(char (&/*out*/)[18]) { return false; }
  virtual void FieldPut(int field, std::string_view text) = 0;
  virtual void AppendRecord(int option) = 0;  // option is always 0
  virtual void Close() = 0;

  // What the table's files showed that is not as it should be (a missing or
  // damaged companion, records the index does not count, ...), one sentence
  // each, as found by Open. Empty for a sound table.
  virtual std::vector<std::string> Problems() { return {}; }
  // Whether some record's deletion mark could not be read, so that the
  // record reads as not deleted.
  virtual bool DeletionMarksMissing() { return false; }
  // The table's own file that `path` leads to (following links), as the
  // table was opened; "" when it leads to none of them.
  virtual std::string FileNamedBy(const std::string& /*path*/) { return {}; }
};

class TableFactory {
 public:
  virtual ~TableFactory() = default;
  virtual std::unique_ptr<Table> Create() = 0;  // new, closed table
};

}  // namespace kxcheck

#endif  // KXCHECK_CORE_TABLE_H_
