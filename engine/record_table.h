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

#include <bit>
#include <cstdint>
#include <cstring>
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
inline constexpr int kDateOffset = 0;  // 9 bytes: century nibbles + "YY-MM-DD"
inline constexpr int kDateBytes = 9;
inline constexpr int kTimeOffset = 9;  // 8 bytes: "HH:MM:SS"
inline constexpr int kTimeBytes = 8;
inline constexpr int kPayloadOffset = 17;
// Field 1 as text: the two century characters and "YY-MM-DD".
inline constexpr size_t kDateTextBytes = 10;
inline constexpr size_t kDateTimeTextBytes = 19;

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
  void GoToRecord(int32_t n);     // 1-based
  int32_t CurrentRecord() const;  // 0 when none
  // The working buffer: the current record's bytes, or what was set. The
  // view stays valid until the next call that positions, changes, opens or
  // closes the table.
  std::string_view RecordBuffer() const;
  void SetRecordBuffer(std::string_view bytes);
  bool Deleted() const;  // the current record carries the deletion mark
  std::string FieldGet(int field) const;  // 1 = date, 2 = time, 3.. payload
  // FieldGet(1), one space and FieldGet(2) of a record that has both fields
  // ("YYYY-MM-DD HH:MM:SS"), as three numbers whose bytes, lowest first, are
  // its characters 1-8, 9-16, and 17-19 followed by a zero byte. Returns false
  // and sets nothing for any other record, for a closed table, and on a
  // machine that is not little-endian.
  bool DateTimeNumbers(uint64_t& head, uint64_t& middle, uint32_t& tail) const;
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
    bool open = false;    // mirrors Impl::open for the inlined FieldGet
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
  std::string FieldGetSlow(int field) const;
  // Field 1 or 2 of an open table into `out`, on a little-endian machine;
  // returns the length.
  size_t DateOrTimeText(int field, char* out) const;
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

// The date and time of a record as the words they are read in, on a
// little-endian machine: bytes 0-7 and 8-15 for the date, 9-16 for the time.
// Byte 0 holds the century as two nibbles; bytes 1-8 are "YY-MM-DD".
struct DateTimeWords {
  explicit DateTimeWords(const char* record) {
    std::memcpy(&w0, record + kDateOffset, 8);
    std::memcpy(&w1, record + kDateOffset + 8, 8);
    std::memcpy(&time, record + kTimeOffset, 8);
  }
  bool HasDate() const { return w0 != 0 || (w1 & 0xFF) != 0; }
  // Characters 1-8 of the date text: the century nibbles as characters,
  // then "YY-MM-".
  uint64_t DateHead() const {
    const uint64_t century = w0 & 0xFF;
    return (0x30 + (century >> 4)) | ((0x30 + (century & 0x0F)) << 8) |
           ((w0 >> 8) << 16);
  }
  // Characters 9 and 10: "DD".
  uint16_t DateTail() const {
    return static_cast<uint16_t>((w0 >> 56) | ((w1 & 0xFF) << 8));
  }

  uint64_t w0;
  uint64_t w1;
  uint64_t time;
};

// The working record as one write, for the usual record lengths: whole
// blocks of 16 bytes, then 8, 4, 2 and 1 as the length needs. The pieces do
// not overlap, so that a copy of the copy, as AppendRecord makes right after
// SetRecordBuffer, loads each piece from exactly one store: a load that
// needs bytes from two recent stores waits until both have reached the cache.
[[gnu::always_inline]] inline void CopyRecordBytes(char* to, const char* from,
                                                   size_t n) {
  if (to == from) return;
  if (n > 64 || (to < from + n && from < to + n)) {
    std::memmove(to, from, n);
    return;
  }
  for (size_t block : {0, 16, 32, 48}) {
    if (block + 16 <= n) std::memcpy(to + block, from + block, 16);
  }
  size_t at = n & ~size_t{15};
  if (n & 8) {
    std::memcpy(to + at, from + at, 8);
    at += 8;
  }
  if (n & 4) {
    std::memcpy(to + at, from + at, 4);
    at += 4;
  }
  if (n & 2) {
    std::memcpy(to + at, from + at, 2);
    at += 2;
  }
  if (n & 1) to[at] = from[at];
}

inline void RecordTable::SetRecordBuffer(std::string_view bytes) {
  Cursor& c = cursor_;
  if (c.open && bytes.size() == c.buffer.size() && bytes.size() != 0) {
    // The bytes may be this table's own working record.
    CopyRecordBytes(c.buffer.data(), bytes.data(), bytes.size());
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
      const unsigned high = static_cast<unsigned char>(text[0]) - 0x30u;
      const unsigned low = static_cast<unsigned char>(text[1]) - 0x30u;
      if (high <= 15 && low <= 15) {
        c.buffer[kDateOffset] = static_cast<char>((high << 4) | low);
        std::memcpy(c.buffer.data() + kDateOffset + 1, text.data() + 2, 8);
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
    CopyRecordBytes(c.append_data, c.record, n);
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

// Fields 1 and 2 of an open table are built here, inline: the check scan
// asks for both on every record it examines.
inline std::string RecordTable::FieldGet(int field) const {
  if (std::endian::native == std::endian::little && cursor_.open &&
      (field == 1 || field == 2)) {
    char text[kDateTextBytes];
    return std::string(text, DateOrTimeText(field, text));
  }
  return FieldGetSlow(field);
}

inline bool RecordTable::DateTimeNumbers(uint64_t& head, uint64_t& middle,
                                         uint32_t& tail) const {
  if (std::endian::native != std::endian::little || !cursor_.open) {
    return false;
  }
  const DateTimeWords words(cursor_.record);
  if (!words.HasDate() || words.time == 0) return false;
  // The date's first eight characters | "DD", " ", "HH:MM" | ":SS", zero.
  head = words.DateHead();
  middle = words.DateTail() | (uint64_t{' '} << 16) | (words.time << 24);
  tail = static_cast<uint32_t>(words.time >> 40);
  return true;
}

inline size_t RecordTable::DateOrTimeText(int field, char* out) const {
  const DateTimeWords words(cursor_.record);
  if (field == 1) {
    if (!words.HasDate()) return 0;
    const uint64_t head = words.DateHead();
    const uint16_t tail = words.DateTail();
    std::memcpy(out, &head, 8);
    std::memcpy(out + 8, &tail, 2);
    return kDateTextBytes;
  }
  if (words.time == 0) return 0;
  std::memcpy(out, &words.time, 8);
  return kTimeBytes;
}

}  // namespace kalvex

#endif  // KXCHECK_ENGINE_RECORD_TABLE_H_
