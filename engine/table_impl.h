// What a RecordTable holds besides its cursor: the four files, the layout,
// the read caches and the records waiting to be appended. The engine is
// written in one file per concern, each matching a part of docs/FORMAT.md:
//   table_open.cc     opening, checking and closing the four files
//   read_cache.cc     reading records and deletion marks through the caches
//   record_fields.cc  the fields of the working record
//   table_write.cc    new definitions, appending and the commit protocol
//   staged_table.cc   new tables written under staged names and put in place
//   table_format.cc   the bytes of the four files
//   file_io.cc        the engine's errors, reading small files and replacing
//                     them safely
// Every file call goes through the table's kxos::Env (os/env.h).
#ifndef KXCHECK_ENGINE_TABLE_IMPL_H_
#define KXCHECK_ENGINE_TABLE_IMPL_H_

#include <sys/types.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/file_io.h"
#include "engine/record_table.h"
#include "os/env.h"

namespace kalvex {

struct RecordTable::Impl {
  int mode = kReadOnly;
  bool open = false;
  bool ever_opened = false;

  std::string kxt_path;
  std::string base;
  std::string data_path;
  std::string attr_path;
  std::string index_path;

  TableLayout layout;
  uint32_t reclen = 0;
  // The definition's permission bits: the files the table's writing makes
  // (companions, a new index) get them too.
  mode_t file_mode = 0644;

  kxos::Fd data_fd;
  kxos::Fd attr_fd;

  Impl(Cursor* cursor, kxos::Env* file_env)
      : env(file_env), cur(cursor), count(cursor->count) {}

  kxos::Env* env;

  // The owning RecordTable's buffer, current record and cache view.
  Cursor* cur;

  // Records counted by the table (committed plus appended in this session);
  // kept in the cursor, where the inlined AppendRecord counts.
  int64_t& count;
  // Records that can be read from the data and attribute files.
  int64_t data_avail = 0;
  int64_t attr_avail = 0;
  // Append mode: records written to the files; later ones are pending.
  int64_t flushed = 0;

  // Read caches: a run of whole records of the data file and of attribute
  // bytes, each loaded with one pread.
  std::unique_ptr<char[]> data_chunk;
  size_t data_chunk_capacity = 0;  // records
  std::unique_ptr<unsigned char[]> attr_chunk;
  size_t attr_chunk_capacity = 0;

  // Append mode: records not yet written, and their marks: room for
  // out_capacity records, of which pending are used.
  std::unique_ptr<char[]> data_out;
  std::unique_ptr<unsigned char[]> attr_out;
  size_t out_capacity = 0;
  size_t pending = 0;

  std::vector<std::string> problems;
  // Some record's deletion mark could not be read (read-only open).
  bool marks_missing = false;

  // Which file each of the four is (definition, data, attributes, index), as
  // opened; so that a path can be told to lead to one of them.
  enum FileRole { kDefinitionFile, kDataFile, kAttrFile, kIndexFile };
  struct FileId {
    bool known = false;
    kxos::FileInfo info;
  };
  FileId ids[4];

  // A FileInfo that was never filled in (all zero) is not remembered.
  void Remember(FileRole role, const kxos::FileInfo& info) {
    if (info.device != 0 || info.inode != 0) ids[role] = {true, info};
  }
  void Remember(FileRole role, int fd) {
    kxos::FileInfo info;
    if (env->StatOpen(fd, info) == 0) Remember(role, info);
  }

  void Problem(std::string text) { problems.push_back(std::move(text)); }

  void RequireOpen(const char* what) const {
    if (!open) throw TableError(std::string(what) + ": no table is open");
  }

  // Copies a working record that lives in the data cache into the buffer, so
  // that it can be changed, or outlive the cache.
  void Materialize() {
    if (cur->record != cur->buffer.data()) {
      if (cur->record != nullptr)
        std::memmove(cur->buffer.data(), cur->record, cur->buffer.size());
      cur->record = cur->buffer.data();
    }
  }

  // Opening, checking and closing the four files (table_open.cc).
  void ResetState();
  // Picks the companion file with the given lower-case extension. A main file
  // with ".KXT" accepts upper-case companions too, preferring them.
  std::string Companion(const char* lower_ext, const char* upper_ext);
  void ReadDefinition();
  // Checks the header of an opened data or attribute file and returns the
  // number of whole entries of `entry_size` bytes after it. In read-only
  // mode every oddity becomes a problem; in append mode it is an error.
  int64_t InspectCompanion(int fd, const std::string& path, const char* magic,
                           uint32_t entry_size, const char* what);
  void OpenReadOnly();
  // Creates a missing companion with its header, or checks an existing one.
  // With `lock`, takes the table's append lock first.
  // A file is written only where it is: a link is never followed, and a
  // missing file is created new, never through a name that appeared
  // meanwhile.
  int64_t OpenForAppend(kxos::Fd& out, const std::string& path,
                        const char* magic, uint32_t entry_size,
                        const char* what, bool lock, FileRole role);
  void OpenAppend();

  // Reading through the caches (read_cache.cc).
  // Each fills its cache from `index` on, or fails (TableError) when the
  // file cannot be read there; LoadAttr gives false for a record that has no
  // mark in the file as it was opened.
  void LoadData(int64_t index);
  bool LoadAttr(int64_t index);
  void GoToSlow(int32_t n);
  bool DeletedSlow();

  // Appending and the commit protocol (table_write.cc).
  // Where the inlined AppendRecord puts the next record, and how many it may
  // put there: all but the last free place (whose append flushes), and never
  // past the largest count.
  void SetAppendRoom();
  // Records the inlined AppendRecord has put since the room was last set.
  void TakeInlineAppends();
  void Append(unsigned char attribute, int option);
  void FlushPending();
  void Commit();
  void WriteIndex(int64_t records, uint16_t flags);
};

}  // namespace kalvex

#endif  // KXCHECK_ENGINE_TABLE_IMPL_H_
