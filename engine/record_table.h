// The Kalvex table engine: one RecordTable object per open table.
//
// A table is a definition file (.kxt) with three companions beside it that
// share its base path: .kxd (records), .kxa (one attribute byte per record,
// bit 0 = deletion mark) and .kxi (committed record count). docs/FORMAT.md
// describes the bytes of each file.
//
// Texts are byte strings in which every byte is one character whose code is
// the byte's value (0..255).
//
// Every failure is raised as kalvex::TableError, whose message names the file,
// the record number where there is one, and the reason.
#ifndef KXCHECK_ENGINE_RECORD_TABLE_H_
#define KXCHECK_ENGINE_RECORD_TABLE_H_

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kalvex {

class TableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Offsets of the fixed part of every record.
inline constexpr int kDateOffset = 0;   // 9 bytes: century nibbles + "YY-MM-DD"
inline constexpr int kDateBytes = 9;
inline constexpr int kTimeOffset = 9;   // 8 bytes: "HH:MM:SS"
inline constexpr int kTimeBytes = 8;
inline constexpr int kPayloadOffset = 17;

struct FieldDef {
  std::string name;
  uint32_t width = 0;  // bytes
};

// The record layout of a table: the date and time fields are implicit, the
// payload fields follow them back to back.
struct TableLayout {
  std::vector<FieldDef> payload;
  uint32_t RecordLength() const;
};

// Access modes.
inline constexpr int kReadOnly = 0;
inline constexpr int kAppend = 2;

class RecordTable {
 public:
  RecordTable();
  ~RecordTable();  // releases the files; appended records not yet committed
                   // by Close are not counted by the next Open
  RecordTable(const RecordTable&) = delete;
  RecordTable& operator=(const RecordTable&) = delete;

  // Writes a new definition file (no records). Fails when the file exists
  // unless overwrite is true.
  static void CreateDefinition(const std::string& kxt_path,
                               const TableLayout& layout, bool overwrite);

  void SetAccessMode(int mode);  // before Open: 0 read-only, 2 append
  int AccessMode() const;
  void Open(const std::string& path);
  bool IsOpen() const;
  std::string BasePath() const;  // path without its extension, any case
  int32_t RecordCount() const;
  void GoToRecord(int32_t n);    // 1-based
  int32_t CurrentRecord() const;  // 0 when none
  // The working buffer: the current record's bytes, or what was set.
  const std::string& RecordBuffer() const;
  void SetRecordBuffer(std::string_view bytes);
  bool Deleted() const;  // the current record carries the deletion mark
  std::string FieldGet(int field) const;  // 1 = date, 2 = time, 3.. payload
  void FieldPut(int field, std::string_view text);
  void AppendRecord(int option);  // option must be 0
  // Appends the working buffer with the deletion mark set (tools and tests
  // use it to make damaged tables; the checker never calls it).
  void AppendDeletedRecord();
  void Close();

  const TableLayout& Layout() const;
  // Everything odd found while opening and reading, one plain sentence each
  // (missing companion, short data file, checksum mismatch, ...).
  const std::vector<std::string>& Problems() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kalvex

#endif  // KXCHECK_ENGINE_RECORD_TABLE_H_
