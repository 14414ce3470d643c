// Opening, checking and closing the four files of a table, and what the
// table tells about them (docs/FORMAT.md: companion file names, access
// modes, damaged files).
#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "engine/table_format.h"
#include "engine/table_impl.h"

namespace kalvex {

using internal::Fail;
using internal::ReadSmallFile;
using kxos::ErrorText;
using kxos::Fd;
using kxos::FileInfo;

uint32_t TableLayout::RecordLength() const {
  uint64_t n = kPayloadOffset;
  for (const FieldDef& f : payload) n += f.width;
  return n > std::numeric_limits<uint32_t>::max()
             ? std::numeric_limits<uint32_t>::max()
             : static_cast<uint32_t>(n);
}

RecordTable::RecordTable(kxos::Env* env)
    : impl_(std::make_unique<Impl>(&cursor_, env)) {
  cursor_.record = cursor_.buffer.data();
}

RecordTable::~RecordTable() = default;

void RecordTable::SetAccessMode(int mode) {
  if (impl_->open)
    throw TableError("AccessMode: cannot change while the table is open");
  if (mode != kReadOnly && mode != kAppend)
    throw TableError("AccessMode: " + std::to_string(mode) +
                     " is not supported (0 read-only, 2 append)");
  impl_->mode = mode;
}

int RecordTable::AccessMode() const { return impl_->mode; }

void RecordTable::Open(const std::string& path) {
  Impl& t = *impl_;
  if (t.open)
    Fail(path, "cannot open: this object already has " + t.kxt_path + " open");
  if (!format::HasTableExtension(path))
    Fail(path, "not a table definition file (the name must end in .kxt)");
  t.ResetState();
  t.problems.clear();
  t.marks_missing = false;
  for (Impl::FileId& id : t.ids) id = {};
  t.kxt_path = path;
  t.base = path.substr(0, path.size() - 4);
  t.ever_opened = true;
  try {
    t.data_path = t.Companion(".kxd", ".KXD");
    t.attr_path = t.Companion(".kxa", ".KXA");
    t.index_path = t.Companion(".kxi", ".KXI");
    t.ReadDefinition();
    if (t.mode == kAppend) {
      t.OpenAppend();
    } else {
      t.OpenReadOnly();
    }
  } catch (...) {
    t.ResetState();
    throw;
  }
  cursor_.buffer.assign(t.reclen, '\0');
  cursor_.record = cursor_.buffer.data();
  cursor_.record_length = t.reclen;
  t.open = true;
  cursor_.open = true;
}

void RecordTable::Close() {
  Impl& t = *impl_;
  if (!t.open) return;
  try {
    if (t.mode == kAppend) t.Commit();
  } catch (...) {
    t.ResetState();
    throw;
  }
  int err = t.data_fd.Close();
  const int attr_err = t.attr_fd.Close();
  if (err == 0) err = attr_err;
  t.ResetState();
  if (t.mode == kAppend && err != 0)
    Fail(t.base, "cannot close the table files: " + ErrorText(err));
}

bool RecordTable::IsOpen() const { return impl_->open; }

std::string RecordTable::BasePath() const {
  if (!impl_->ever_opened)
    throw TableError("BasePath: no table has been opened");
  return impl_->base;
}

int32_t RecordTable::RecordCount() const {
  impl_->RequireOpen("RecordCount");
  return static_cast<int32_t>(impl_->count);
}

const TableLayout& RecordTable::Layout() const { return impl_->layout; }

const std::vector<std::string>& RecordTable::Problems() const {
  return impl_->problems;
}

std::vector<std::string> RecordTable::Files() const {
  const Impl& t = *impl_;
  if (!t.ever_opened) return {};
  return {t.kxt_path, t.data_path, t.attr_path, t.index_path};
}

std::string RecordTable::FileNamedBy(const std::string& path) const {
  FileInfo named;
  if (impl_->env->Stat(path, named) != 0) return {};
  const std::vector<std::string> files = Files();
  for (size_t i = 0; i < files.size(); ++i) {
    const Impl::FileId& id = impl_->ids[i];
    if (id.known && id.info.SameFileAs(named)) {
      return files[i];
    }
  }
  return {};
}

bool RecordTable::DeletionMarksMissing() const { return impl_->marks_missing; }

void RecordTable::Impl::ResetState() {
  Materialize();
  data_fd.Reset();
  attr_fd.Reset();
  open = false;
  cur->open = false;
  count = data_avail = attr_avail = flushed = 0;
  cur->current = 0;
  cur->data = nullptr;
  cur->attr = nullptr;
  data_chunk.reset();
  data_chunk_capacity = 0;
  cur->data_first = 0;
  cur->data_cached = 0;
  attr_chunk.reset();
  attr_chunk_capacity = 0;
  cur->attr_first = 0;
  cur->attr_cached = 0;
  data_out.reset();
  attr_out.reset();
  out_capacity = pending = 0;
  SetAppendRoom();
}

std::string RecordTable::Impl::Companion(const char* lower_ext,
                                         const char* upper_ext) {
  std::string lower = base + lower_ext;
  if (!kxt_path.ends_with(".KXT")) return lower;
  std::string upper = base + upper_ext;
  bool has_upper = env->FileExists(upper);
  bool has_lower = env->FileExists(lower);
  if (has_upper && has_lower) {
    Problem("both " + upper + " and " + lower + " exist; using " + upper);
  }
  if (has_upper || !has_lower) return upper;
  return lower;
}

void RecordTable::Impl::ReadDefinition() {
  std::string bytes;
  bool missing = false;
  FileInfo info;
  std::string failure = ReadSmallFile(
      env, kxt_path, format::kMaxDefinitionBytes, bytes, missing, &info);
  Remember(kDefinitionFile, info);
  if (!failure.empty())
    Fail(kxt_path, "cannot read the table definition: " + failure);
  file_mode = info.permissions;
  std::string why = format::DecodeDefinition(bytes, layout);
  if (!why.empty()) Fail(kxt_path, why);
  reclen = layout.RecordLength();
}

int64_t RecordTable::Impl::InspectCompanion(int fd, const std::string& path,
                                            const char* magic,
                                            uint32_t entry_size,
                                            const char* what) {
  FileInfo info;
  if (int err = env->StatOpen(fd, info)) {
    Fail(path,
         std::string("cannot inspect the ") + what + ": " + ErrorText(err));
  }
  if (info.type != FileInfo::Type::kRegular)
    Fail(path, std::string("the ") + what + " is not a regular file");
  int64_t size = info.size;
  if (size < static_cast<int64_t>(format::kFileHeaderBytes)) {
    std::string text = std::string("the ") + what + " is only " +
                       std::to_string(size) +
                       " bytes long, shorter than its header";
    if (mode == kAppend) Fail(path, text);
    Problem(path + ": " + text);
    return 0;
  }
  unsigned char header[format::kFileHeaderBytes];
  size_t got = 0;
  int err =
      env->ReadAt(fd, reinterpret_cast<char*>(header), sizeof header, 0, got);
  if (err == 0 && got != sizeof header) err = EIO;
  if (err != 0) {
    Fail(path, std::string("cannot read the header of the ") + what + ": " +
                   ErrorText(err));
  }
  std::string why = format::CheckFileHeader(header, magic, reclen);
  if (!why.empty()) {
    std::string text =
        std::string("the header of the ") + what + " is damaged (" + why + ")";
    if (mode == kAppend) Fail(path, text);
    Problem(path + ": " + text + "; reading it with the definition's layout");
  }
  int64_t body = size - static_cast<int64_t>(format::kFileHeaderBytes);
  int64_t rest = body % entry_size;
  if (rest != 0) {
    Problem(path + ": the " + what + " ends with " + std::to_string(rest) +
            " stray bytes after its last whole record");
  }
  return body / entry_size;
}

void RecordTable::Impl::OpenReadOnly() {
  // Data file.
  int64_t data_records = 0;
  Fd fd;
  if (int err = env->Open(data_path, O_RDONLY | O_NONBLOCK, 0, fd)) {
    if (err != ENOENT)
      Fail(data_path, "cannot open the data file: " + ErrorText(err));
    Problem(data_path + ": the data file is missing");
  } else {
    Remember(kDataFile, fd.get());
    data_records = InspectCompanion(fd.get(), data_path, format::kDataMagic,
                                    reclen, "data file");
    data_fd = std::move(fd);
  }

  // Attribute file.
  int64_t attr_records = 0;
  Fd afd;
  if (int err = env->Open(attr_path, O_RDONLY | O_NONBLOCK, 0, afd)) {
    Problem(attr_path + ": the attribute file " +
            (err == ENOENT ? std::string("is missing")
                           : "cannot be opened (" + ErrorText(err) + ")") +
            "; no record reads as deleted");
  } else {
    Remember(kAttrFile, afd.get());
    attr_records = InspectCompanion(afd.get(), attr_path, format::kAttrMagic, 1,
                                    "attribute file");
    attr_fd = std::move(afd);
  }

  // Index file: the committed count.
  std::string bytes;
  uint32_t committed = 0;
  uint16_t flags = 0;
  std::string why;
  bool missing = false;
  FileInfo info;
  std::string failure = ReadSmallFile(env, index_path, format::kIndexBytes,
                                      bytes, missing, &info);
  Remember(kIndexFile, info);
  if (missing) {
    why = "is missing";
  } else if (!failure.empty()) {
    why = "cannot be read (" + failure + ")";
  } else {
    why = format::DecodeIndex(bytes, reclen, committed, flags);
  }
  const int64_t max_count = std::numeric_limits<int32_t>::max();
  if (!why.empty()) {
    count = std::min(data_records, max_count);
    Problem(index_path + ": the index file " + why + "; counting the " +
            std::to_string(count) + " records the data file holds");
    if (data_records > max_count)
      Problem(data_path +
              ": the data file holds more records than a table "
              "can count; only the first " +
              std::to_string(max_count) + " are read");
  } else {
    if (flags & format::kIndexIncomplete) {
      Problem(index_path +
              ": the table is incomplete: it was being written and was "
              "never finished");
    }
    // Only records the data file holds are counted, whatever the index
    // promises: a table never takes longer to read than its files.
    count = std::min<int64_t>(committed, data_records);
    if (data_records < committed) {
      Problem(data_path + ": the data file holds only " +
              std::to_string(data_records) + " of the " +
              std::to_string(committed) +
              " committed records; counting the records it holds");
    } else if (data_records > committed) {
      Problem(data_path + ": the data file holds " +
              std::to_string(data_records - committed) +
              " records after the committed ones (left by an interrupted "
              "append); they are not counted");
    }
  }
  if (attr_fd.valid() && attr_records < count) {
    Problem(attr_path + ": the attribute file holds marks for only " +
            std::to_string(attr_records) + " of the " + std::to_string(count) +
            " records; the others read as not deleted");
  }
  data_avail = std::min(data_records, count);
  attr_avail = std::min(attr_records, count);
  marks_missing = attr_avail < count;
}

int64_t RecordTable::Impl::OpenForAppend(Fd& out, const std::string& path,
                                         const char* magic, uint32_t entry_size,
                                         const char* what, bool lock,
                                         FileRole role) {
  const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK;
  Fd fd;
  int err = env->Open(path, flags, 0, fd);
  if (err == ENOENT) {
    err = env->Open(path, flags | O_CREAT | O_EXCL, file_mode, fd);
  }
  if (err != 0) {
    Fail(path, err == ELOOP
                   ? std::string("the ") + what +
                         " is a symbolic link; refusing to write through it"
                   : std::string("cannot open the ") + what +
                         " for appending: " + ErrorText(err));
  }
  Remember(role, fd.get());
  if (lock && (err = env->Lock(fd.get())) != 0) {
    Fail(path, err == EWOULDBLOCK
                   ? std::string("the table is open for appending elsewhere")
                   : "cannot lock the data file: " + ErrorText(err));
  }
  FileInfo info;
  if ((err = env->StatOpen(fd.get(), info)) != 0) {
    Fail(path,
         std::string("cannot inspect the ") + what + ": " + ErrorText(err));
  }
  if (info.size == 0 && info.type == FileInfo::Type::kRegular) {
    std::string header = format::EncodeFileHeader(magic, reclen);
    if ((err = env->WriteAt(fd.get(), header.data(), header.size(), 0)) != 0) {
      Fail(path, std::string("cannot write the header of the ") + what + ": " +
                     ErrorText(err));
    }
  }
  int64_t records = InspectCompanion(fd.get(), path, magic, entry_size, what);
  out = std::move(fd);
  return records;
}

void RecordTable::Impl::OpenAppend() {
  // The index first: what it says decides whether companions may be
  // created, and a refusal must leave the files as they were.
  std::string bytes;
  uint32_t committed = 0;
  uint16_t flags = 0;
  bool missing = false;
  std::string failure =
      ReadSmallFile(env, index_path, format::kIndexBytes, bytes, missing);
  if (!failure.empty() && !missing)
    Fail(index_path, "cannot read the index file: " + failure);
  if (!missing) {
    std::string why = format::DecodeIndex(bytes, reclen, committed, flags);
    if (!why.empty())
      Fail(index_path, "the index file " + why +
                           "; refusing to append (open the table read-only "
                           "to read it)");
  }
  if (committed > 0) {
    for (const std::string* path : {&data_path, &attr_path}) {
      if (!env->FileExists(*path))
        Fail(*path, "the file is missing while the index counts " +
                        std::to_string(committed) +
                        " records; refusing to append");
    }
  }
  int64_t data_records = OpenForAppend(data_fd, data_path, format::kDataMagic,
                                       reclen, "data file", true, kDataFile);
  // Known only now that the lock is ours: a table that another appender is
  // still writing is "open for appending elsewhere", not unfinished.
  if (flags & format::kIndexIncomplete)
    Fail(index_path,
         "the table is incomplete: it was being written and was never "
         "finished; refusing to append");
  int64_t attr_records = OpenForAppend(attr_fd, attr_path, format::kAttrMagic,
                                       1, "attribute file", false, kAttrFile);
  if (missing) {
    if (data_records > 0 || attr_records > 0)
      Fail(index_path,
           "the index file is missing while the data file holds " +
               std::to_string(data_records) +
               " records; refusing to append (open the table read-only to "
               "read them)");
    // A new table: marked incomplete until Close commits it.
    WriteIndex(0, format::kIndexIncomplete);
  }
  if (data_records < committed)
    Fail(data_path, "the data file holds only " + std::to_string(data_records) +
                        " of the " + std::to_string(committed) +
                        " committed records; refusing to append");
  if (attr_records < committed)
    Fail(attr_path, "the attribute file holds only " +
                        std::to_string(attr_records) + " of the " +
                        std::to_string(committed) +
                        " committed records; refusing to append");
  if (data_records > committed)
    Problem(data_path + ": " + std::to_string(data_records - committed) +
            " records after the committed ones (left by an interrupted "
            "append) are replaced by the new ones");
  count = flushed = data_avail = attr_avail = committed;
  // The pending records are written once they fill kChunkBytes.
  out_capacity = (format::kChunkBytes + reclen - 1) / reclen;
  data_out.reset(new char[out_capacity * reclen]);
  attr_out.reset(new unsigned char[out_capacity]);
  pending = 0;
  SetAppendRoom();
}

}  // namespace kalvex
