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
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/record_codec.h"
#include "os/env.h"

namespace kalvex {

class TableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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
  // Every file call goes through `env`, which must outlive the object.
  explicit RecordTable(kxos::Env* env = kxos::Env::Default());
  ~RecordTable();  // releases the files; appended records not yet committed
                   // by Close are not counted by the next Open
  RecordTable(const RecordTable&) = delete;
  RecordTable& operator=(const RecordTable&) = delete;

  // Writes a new definition file (no records). Fails when the file exists
  // unless overwrite is true.
  static void CreateDefinition(const std::string& kxt_path,
                               const TableLayout& layout, bool overwrite,
                               kxos::Env* env = kxos::Env::Default());

  void SetAccessMode(int mode);  // before Open: 0 read-only, 2 append
  int AccessMode() const;
  void Open(const std::string& path);
  bool IsOpen() const;
  std::string BasePath() const;  // path without its extension, any case
  int32_t RecordCount() const;
  void GoToRecord(int32_t n);     // 1-based
  int32_t CurrentRecord() const;  // 0 when none
  // The working buffer: the current record's bytes, or what was set. The
  // view stays valid until the next call that positions, changes, opens or
  // closes the table.
  std::string_view RecordBuffer() const;
  void SetRecordBuffer(std::string_view bytes);
  bool Deleted() const;  // the current record carries the deletion mark
  std::string FieldGet(int field) const;  // 1 = date, 2 = time, 3.. payload
  // FieldGet(1) and FieldGet(2) without making strings: the date's 10
  // characters, then the time's 8, into `out`. Returns false and writes
  // nothing when either field is empty or no table is open.
  bool DateAndTimeText(char (&out)[18]) const;
  void FieldPut(int field, std::string_view text);
  void AppendRecord(int option);  // option must be 0
  // Appends the working buffer with the deletion mark set (tools and tests
  // use it to make damaged tables; the checker never calls it).
  void AppendDeletedRecord();
  void Close();

  const TableLayout& Layout() const;
  // Everything odd found while opening, one plain sentence each naming the file
  // (missing companion, short data file, checksum mismatch, ...).
  const std::vector<std::string>& Problems() const;
  // The four files of the open (or last opened) table as the engine found or
  // named them: definition, data, attribute and index file. Companions
  // may be missing on a read-only open.
  std::vector<std::string> Files() const;
  // The file of Files() that `path` leads to, following links, as the files
  // were when the table was opened; "" when it leads to none of them.
  std::string FileNamedBy(const std::string& path) const;
  // Whether, when the table was opened, some record had no deletion mark to
  // read (a missing or short attribute file): such a record reads as not
  // deleted.
  bool DeletionMarksMissing() const;
  // The number of records that carry the deletion mark, from the marks alone.
  int64_t DeletedCount();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;

  // What the per-record calls touch, kept here so that GoToRecord and Deleted
  // can be inlined: the working buffer, the current record and the read
  // caches (runs of whole records and of attribute bytes loaded from the
  // files). Impl owns the cache memory and keeps these fields up to date.
  // Before the cache memory is released or reloaded, a working record that
  // lives in it is copied into `buffer`.
  struct Cursor {
    // The working record is `record`: either `buffer`, which holds what was
    // set or put, or a record in the data cache, which is copied into
    // `buffer` before anything changes it.
    std::string buffer;
    const char* record = nullptr;
    bool open = false;    // mirrors Impl::open for the inlined calls
    int32_t current = 0;  // 1-based, 0 when none
    uint32_t record_length = 0;
    const char* data = nullptr;  // data_cached records from data_first
    int64_t data_first = 0;      // 0-based record index
    uint64_t data_cached = 0;
    const unsigned char* attr = nullptr;  // attr_cached bytes from attr_first
    int64_t attr_first = 0;
    uint64_t attr_cached = 0;
    // Records counted by the table.
    int64_t count = 0;
    // Append mode: where the next appended record and its mark go, and how
    // many records may go there before AppendRecord must do more.
    char* append_data = nullptr;
    unsigned char* append_marks = nullptr;
    uint32_t append_room = 0;
  };
  Cursor cursor_;

  void GoToRecordSlow(int32_t n);
  void SetRecordBufferSlow(std::string_view bytes);
  void FieldPutSlow(int field, std::string_view text);
  void AppendRecordSlow(int option);
  bool DeletedSlow() const;
};

inline void RecordTable::GoToRecord(int32_t n) {
  Cursor& c = cursor_;
  uint64_t rel =
      static_cast<uint64_t>(static_cast<int64_t>(n) - 1 - c.data_first);
  if (rel < c.data_cached) {
    // The working record is the cached copy itself until something writes to
    // it: positioning copies nothing.
    c.record = c.data + rel * c.record_length;
    c.current = n;
    return;
  }
  GoToRecordSlow(n);
}

// Copies a record of `n` bytes to a place that does not overlap it. Records
// of 16 to 64 bytes, the usual sizes, are copied as blocks of 16 bytes (the
// later ones overlapping the earlier), which the compiler copies without a
// call.
inline void CopyRecord(char* to, const char* from, size_t n) {
  if (n < 16 || n > 64) {
    std::memcpy(to, from, n);
    return;
  }
  std::memcpy(to, from, 16);
  std::memcpy(to + n - 16, from + n - 16, 16);
  if (n > 32) {
    std::memcpy(to + 16, from + 16, 16);
    std::memcpy(to + n - 32, from + n - 32, 16);
  }
}

inline void RecordTable::SetRecordBuffer(std::string_view bytes) {
  Cursor& c = cursor_;
  if (c.open && bytes.size() == c.buffer.size() && bytes.size() != 0) {
    // The bytes may be this table's own working record.
    if (bytes.data() != c.buffer.data()) {
      CopyRecord(c.buffer.data(), bytes.data(), bytes.size());
    }
    c.record = c.buffer.data();
    return;
  }
  SetRecordBufferSlow(bytes);
}

// Date and time of full length into a working record of its own: written
// here, inline; everything else by FieldPutSlow.
inline void RecordTable::FieldPut(int field, std::string_view text) {
  Cursor& c = cursor_;
  if (c.open && c.record == c.buffer.data()) {
    if (field == 1 && text.size() == kDateTextBytes) {
      if (IsCenturyCharacter(text[0]) && IsCenturyCharacter(text[1])) {
        c.buffer[kCenturyOffset] = PackCentury(text[0], text[1]);
        std::memcpy(c.buffer.data() + kYearOffset, text.data() + 2, 8);
        return;
      }
    } else if (field == 2 && text.size() == kTimeBytes) {
      std::memcpy(c.buffer.data() + kTimeOffset, text.data(), kTimeBytes);
      return;
    }
  }
  FieldPutSlow(field, text);
}

inline void RecordTable::AppendRecord(int option) {
  Cursor& c = cursor_;
  if (option == 0 && c.append_room != 0) {
    const size_t n = c.record_length;
    CopyRecord(c.append_data, c.record, n);
    c.append_data += n;
    *c.append_marks++ = 0;
    --c.append_room;
    c.current = static_cast<int32_t>(++c.count);
    return;
  }
  AppendRecordSlow(option);
}

inline std::string_view RecordTable::RecordBuffer() const {
  return {cursor_.record, cursor_.buffer.size()};
}

inline int32_t RecordTable::CurrentRecord() const { return cursor_.current; }

inline bool RecordTable::Deleted() const {
  const Cursor& c = cursor_;
  uint64_t rel =
      static_cast<uint64_t>(static_cast<int64_t>(c.current) - 1 - c.attr_first);
  if (rel < c.attr_cached) return (c.attr[rel] & 1) != 0;
  return DeletedSlow();
}

inline bool RecordTable::DateAndTimeText(char (&out)[18]) const {
  const char* record = cursor_.record;
  auto empty = [record](int offset, int bytes) {
    for (int i = offset; i < offset + bytes; ++i) {
      if (record[i] != '\0') return false;
    }
    return true;
  };
  if (!cursor_.open || empty(kDateOffset, kDateBytes) ||
      empty(kTimeOffset, kTimeBytes)) {
    return false;
  }
  // The century's two digits, one per nibble, then "YY-MM-DD" and the time,
  // which follow each other in the record.
  out[0] = CenturyHigh(record[kCenturyOffset]);
  out[1] = CenturyLow(record[kCenturyOffset]);
  std::memcpy(out + 2, record + kYearOffset, kDateBytes - 1 + kTimeBytes);
  return true;
}

}  // namespace kalvex

#endif  // KXCHECK_ENGINE_RECORD_TABLE_H_
