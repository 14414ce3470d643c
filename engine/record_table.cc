#include "engine/record_table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numeric>
#include <utility>

#include "engine/table_format.h"

namespace kalvex {

namespace {

// Owns one file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Closes and reports whether the close succeeded.
  bool Close() {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

std::string ErrnoText(int err) { return std::strerror(err); }

[[noreturn]] void Fail(const std::string& file, const std::string& reason) {
  throw TableError(file + ": " + reason);
}

[[noreturn]] void FailRecord(const std::string& file, int64_t record,
                             const std::string& reason) {
  throw TableError(file + ": record " + std::to_string(record) + ": " + reason);
}

// Reads up to `size` bytes at `offset`, retrying short reads; returns the
// number of bytes read (less than size only at the end of the file).
ssize_t PreadFull(int fd, char* out, size_t size, int64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, out + done, size - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool PwriteFull(int fd, const char* data, size_t size, int64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, data + done, size - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool FileExistsAt(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool EndsWithTableExtension(const std::string& path) {
  if (path.size() < 4) return false;
  static constexpr char kExt[] = ".kxt";
  for (size_t i = 0; i < 4; ++i) {
    char c = path[path.size() - 4 + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kExt[i]) return false;
  }
  return true;
}

bool IsUpperExtension(const std::string& path) {
  return path.compare(path.size() - 4, 4, ".KXT") == 0;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Reads a whole small regular file. Returns "" or why it cannot be read;
// `missing` tells that it does not exist. Files longer than `limit` are cut at
// limit + 1 bytes so that callers can tell "too long" without reading it all.
std::string ReadSmallFile(const std::string& path, size_t limit,
                          std::string& out, bool& missing,
                          struct stat* opened = nullptr) {
  missing = false;
  out.clear();
  // O_NONBLOCK: a FIFO in the table's place must not hang the open.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    int err = errno;
    missing = err == ENOENT;
    return ErrnoText(err);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return ErrnoText(errno);
  if (opened != nullptr) *opened = st;
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  char block[4096];
  while (out.size() <= limit) {
    size_t want = std::min(sizeof block, limit + 1 - out.size());
    ssize_t n = ::read(fd.get(), block, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoText(errno);
    }
    if (n == 0) break;
    out.append(block, static_cast<size_t>(n));
  }
  return {};
}

// Creates a new file beside `path`, named "<path>.tmp-" and twelve random
// hexadecimal digits, so that no one can have put a file or a link there
// beforehand; never opens an existing file. Sets `temp` to its name.
Fd CreateTempBeside(const std::string& path, std::string& temp) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    unsigned char random[6];
    if (::getrandom(random, sizeof random, 0) != sizeof random) {
      return Fd();
    }
    char suffix[2 * sizeof random + 1];
    for (size_t i = 0; i < sizeof random; ++i) {
      std::snprintf(suffix + 2 * i, 3, "%02x", random[i]);
    }
    temp = path + ".tmp-" + suffix;
    Fd fd(::open(temp.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.valid() || errno != EEXIST) return fd;
  }
  return Fd();
}

// Makes a rename or a new name in the directory of `path` durable.
void SyncDirectoryOf(const std::string& path) {
  Fd dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // Some file systems cannot sync a directory (EINVAL); they need not.
  if (!dir.valid() || (::fsync(dir.get()) != 0 && errno != EINVAL)) {
    int err = errno;
    Fail(path, "cannot sync its directory: " + ErrnoText(err));
  }
}

// Puts `bytes` at `path` in one step: written to a new file beside it,
// synced, renamed over `path` (which replaces the name, whatever it named,
// and writes through nothing), and the directory synced. On failure `path`
// is as it was and the new file is gone.
void ReplaceFile(const std::string& path, const std::string& bytes,
                 const char* what) {
  std::string temp;
  Fd fd = CreateTempBeside(path, temp);
  if (!fd.valid()) {
    int err = errno;
    Fail(path,
         std::string("cannot create a new ") + what + ": " + ErrnoText(err));
  }
  if (!PwriteFull(fd.get(), bytes.data(), bytes.size(), 0) ||
      ::fsync(fd.get()) != 0 || !fd.Close()) {
    int err = errno;
    ::unlink(temp.c_str());
    Fail(path,
         std::string("cannot write the new ") + what + ": " + ErrnoText(err));
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    Fail(path,
         std::string("cannot replace the ") + what + ": " + ErrnoText(err));
  }
  SyncDirectoryOf(path);
}

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

// ---------------------------------------------------------------------------
// Encoding and decoding of the small structures.

namespace format {

uint32_t Checksum(const void* data, size_t size) {
  return static_cast<uint32_t>(
      crc32(0L, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

std::string EncodeDefinition(const TableLayout& layout) {
  std::string out(kDefinitionMagic, 4);
  PutU16(out, kFormatVersion);
  PutU16(out, static_cast<uint16_t>(layout.payload.size()));
  PutU32(out, layout.RecordLength());
  for (const FieldDef& f : layout.payload) {
    out.push_back(static_cast<char>(f.name.size()));
    out += f.name;
    PutU32(out, f.width);
  }
  PutU32(out, Checksum(out.data(), out.size()));
  return out;
}

std::string DecodeDefinition(const std::string& bytes, TableLayout& layout) {
  layout.payload.clear();
  if (bytes.size() > kMaxDefinitionBytes)
    return "definition is longer than " + std::to_string(kMaxDefinitionBytes) +
           " bytes";
  if (bytes.size() < kDefinitionFixedBytes + 4)
    return "definition is only " + std::to_string(bytes.size()) +
           " bytes long, too short for its header";
  if (std::memcmp(bytes.data(), kDefinitionMagic, 4) != 0)
    return "not a Kalvex table definition (bad magic)";
  const unsigned char* p = Bytes(bytes);
  uint16_t version = GetU16(p + 4);
  if (version != kFormatVersion)
    return "unsupported format version " + std::to_string(version);
  uint32_t stored = GetU32(p + bytes.size() - 4);
  uint32_t actual = Checksum(p, bytes.size() - 4);
  if (stored != actual) return "definition checksum mismatch";
  uint16_t count = GetU16(p + 6);
  uint32_t record_length = GetU32(p + 8);
  if (count > kMaxPayloadFields)
    return "too many payload fields (" + std::to_string(count) + ")";
  size_t pos = kDefinitionFixedBytes;
  size_t end = bytes.size() - 4;
  uint64_t total = kPayloadOffset;
  for (uint16_t i = 0; i < count; ++i) {
    if (pos + 1 > end) return "field list is cut short";
    size_t name_length = p[pos];
    if (name_length == 0)
      return "payload field " + std::to_string(i + 1) + " has no name";
    if (pos + 1 + name_length + 4 > end) return "field list is cut short";
    FieldDef f;
    f.name.assign(bytes, pos + 1, name_length);
    f.width = GetU32(p + pos + 1 + name_length);
    if (f.width == 0)
      return "payload field " + std::to_string(i + 1) + " has width 0";
    total += f.width;
    if (total > kMaxRecordLength)
      return "record length exceeds " + std::to_string(kMaxRecordLength);
    pos += 1 + name_length + 4;
    layout.payload.push_back(std::move(f));
  }
  if (pos != end) return "unexpected bytes after the field list";
  if (record_length != total)
    return "record length " + std::to_string(record_length) +
           " does not match the fields (" + std::to_string(total) + ")";
  return {};
}

std::string EncodeFileHeader(const char* magic, uint32_t record_length) {
  std::string out(magic, 4);
  PutU16(out, kFormatVersion);
  PutU16(out, 0);
  PutU32(out, record_length);
  PutU32(out, Checksum(out.data(), out.size()));
  return out;
}

std::string CheckFileHeader(const unsigned char* p, const char* magic,
                            uint32_t record_length) {
  if (std::memcmp(p, magic, 4) != 0) return "bad magic";
  if (GetU32(p + 12) != Checksum(p, 12)) return "header checksum mismatch";
  uint16_t version = GetU16(p + 4);
  if (version != kFormatVersion)
    return "unsupported format version " + std::to_string(version);
  uint32_t stored_length = GetU32(p + 8);
  if (stored_length != record_length)
    return "header gives record length " + std::to_string(stored_length) +
           ", the definition " + std::to_string(record_length);
  return {};
}

std::string EncodeIndex(uint32_t count, uint32_t record_length,
                        uint16_t flags) {
  std::string out(kIndexMagic, 4);
  PutU16(out, kFormatVersion);
  PutU16(out, flags);
  PutU32(out, count);
  PutU32(out, record_length);
  PutU32(out, Checksum(out.data(), out.size()));
  return out;
}

std::string DecodeIndex(const std::string& bytes, uint32_t record_length,
                        uint32_t& count, uint16_t& flags) {
  if (bytes.size() != kIndexBytes)
    return "is " + std::to_string(bytes.size()) + " bytes long instead of " +
           std::to_string(kIndexBytes);
  const unsigned char* p = Bytes(bytes);
  if (std::memcmp(p, kIndexMagic, 4) != 0) return "has a bad magic";
  if (GetU32(p + 16) != Checksum(p, 16)) return "has a checksum mismatch";
  uint16_t version = GetU16(p + 4);
  if (version != kFormatVersion)
    return "has unsupported format version " + std::to_string(version);
  uint32_t stored_length = GetU32(p + 12);
  if (stored_length != record_length)
    return "gives record length " + std::to_string(stored_length) +
           ", the definition " + std::to_string(record_length);
  flags = GetU16(p + 6);
  if ((flags & ~kIndexIncomplete) != 0)
    return "has unknown flags " + std::to_string(flags);
  count = GetU32(p + 8);
  if (count > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
    return "gives an impossible record count " + std::to_string(count);
  return {};
}

}  // namespace format

// ---------------------------------------------------------------------------

uint32_t TableLayout::RecordLength() const {
  uint64_t n = kPayloadOffset;
  for (const FieldDef& f : payload) n += f.width;
  return n > std::numeric_limits<uint32_t>::max()
             ? std::numeric_limits<uint32_t>::max()
             : static_cast<uint32_t>(n);
}

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

  Fd data_fd;
  Fd attr_fd;

  explicit Impl(Cursor* cursor) : cur(cursor), count(cursor->count) {}

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
  std::unique_ptr<char[]> data_chunk_memory;
  char* data_chunk = nullptr;      // in data_chunk_memory, see LoadData
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
    dev_t device = 0;
    ino_t inode = 0;
  };
  FileId ids[4];

  // A stat that was never filled in (all zero) is not remembered.
  void Remember(FileRole role, const struct stat& st) {
    if (st.st_dev != 0 || st.st_ino != 0) {
      ids[role] = {true, st.st_dev, st.st_ino};
    }
  }
  void Remember(FileRole role, int fd) {
    struct stat st;
    if (::fstat(fd, &st) == 0) Remember(role, st);
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

  void ResetState() {
    Materialize();
    data_fd.Reset();
    attr_fd.Reset();
    open = false;
    cur->open = false;
    count = data_avail = attr_avail = flushed = 0;
    cur->current = 0;
    cur->data = nullptr;
    cur->attr = nullptr;
    data_chunk_memory.reset();
    data_chunk = nullptr;
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

  // Where the inlined AppendRecord puts the next record, and how many it may
  // put there: all but the last free place (whose append flushes), and never
  // past the largest count.
  void SetAppendRoom() {
    cur->append_data = data_out ? data_out.get() + pending * reclen : nullptr;
    cur->append_marks = attr_out ? attr_out.get() + pending : nullptr;
    int64_t room = static_cast<int64_t>(out_capacity - pending) - 1;
    room = std::min<int64_t>(room, std::numeric_limits<int32_t>::max() - count);
    cur->append_room = static_cast<uint32_t>(std::max<int64_t>(room, 0));
  }

  // Records the inlined AppendRecord has put since the room was last set.
  void TakeInlineAppends() {
    if (cur->append_data == nullptr) return;
    pending = static_cast<size_t>(cur->append_data - data_out.get()) / reclen;
  }

  // Picks the companion file with the given lower-case extension. A main file
  // with ".KXT" accepts upper-case companions too, preferring them.
  std::string Companion(const char* lower_ext, const char* upper_ext) {
    std::string lower = base + lower_ext;
    if (!IsUpperExtension(kxt_path)) return lower;
    std::string upper = base + upper_ext;
    bool has_upper = FileExistsAt(upper);
    bool has_lower = FileExistsAt(lower);
    if (has_upper && has_lower) {
      Problem("both " + upper + " and " + lower + " exist; using " + upper);
    }
    if (has_upper || !has_lower) return upper;
    return lower;
  }

  void ReadDefinition() {
    std::string bytes;
    bool missing = false;
    struct stat st {};
    std::string failure = ReadSmallFile(kxt_path, format::kMaxDefinitionBytes,
                                        bytes, missing, &st);
    Remember(kDefinitionFile, st);
    if (!failure.empty())
      Fail(kxt_path, "cannot read the table definition: " + failure);
    std::string why = format::DecodeDefinition(bytes, layout);
    if (!why.empty()) Fail(kxt_path, why);
    reclen = layout.RecordLength();
  }

  // Checks the header of an opened data or attribute file and returns the
  // number of whole entries of `entry_size` bytes after it. In read-only
  // mode every oddity becomes a problem; in append mode it is an error.
  int64_t InspectCompanion(int fd, const std::string& path, const char* magic,
                           uint32_t entry_size, const char* what) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      int err = errno;
      Fail(path,
           std::string("cannot inspect the ") + what + ": " + ErrnoText(err));
    }
    if (!S_ISREG(st.st_mode))
      Fail(path, std::string("the ") + what + " is not a regular file");
    int64_t size = st.st_size;
    if (size < static_cast<int64_t>(format::kFileHeaderBytes)) {
      std::string text = std::string("the ") + what + " is only " +
                         std::to_string(size) +
                         " bytes long, shorter than its header";
      if (mode == kAppend) Fail(path, text);
      Problem(path + ": " + text);
      return 0;
    }
    unsigned char header[format::kFileHeaderBytes];
    ssize_t got =
        PreadFull(fd, reinterpret_cast<char*>(header), sizeof header, 0);
    if (got != static_cast<ssize_t>(sizeof header)) {
      int err = got < 0 ? errno : EIO;
      Fail(path, std::string("cannot read the header of the ") + what + ": " +
                     ErrnoText(err));
    }
    std::string why = format::CheckFileHeader(header, magic, reclen);
    if (!why.empty()) {
      std::string text = std::string("the header of the ") + what +
                         " is damaged (" + why + ")";
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

  void OpenReadOnly() {
    // Data file.
    int64_t data_records = 0;
    Fd fd(::open(data_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
      int err = errno;
      if (err != ENOENT)
        Fail(data_path, "cannot open the data file: " + ErrnoText(err));
      Problem(data_path + ": the data file is missing");
    } else {
      Remember(kDataFile, fd.get());
      data_records = InspectCompanion(fd.get(), data_path, format::kDataMagic,
                                      reclen, "data file");
      data_fd = std::move(fd);
    }

    // Attribute file.
    int64_t attr_records = 0;
    Fd afd(::open(attr_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!afd.valid()) {
      int err = errno;
      Problem(attr_path + ": the attribute file " +
              (err == ENOENT ? std::string("is missing")
                             : "cannot be opened (" + ErrnoText(err) + ")") +
              "; no record reads as deleted");
    } else {
      Remember(kAttrFile, afd.get());
      attr_records = InspectCompanion(afd.get(), attr_path, format::kAttrMagic,
                                      1, "attribute file");
      attr_fd = std::move(afd);
    }

    // Index file: the committed count.
    std::string bytes;
    uint32_t committed = 0;
    uint16_t flags = 0;
    std::string why;
    bool missing = false;
    struct stat st {};
    std::string failure =
        ReadSmallFile(index_path, format::kIndexBytes, bytes, missing, &st);
    Remember(kIndexFile, st);
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
              std::to_string(attr_records) + " of the " +
              std::to_string(count) +
              " records; the others read as not deleted");
    }
    data_avail = std::min(data_records, count);
    attr_avail = std::min(attr_records, count);
    marks_missing = attr_avail < count;
  }

  // Creates a missing companion with its header, or checks an existing one.
  // With `lock`, takes the table's append lock first.
  // A file is written only where it is: a link is never followed, and a
  // missing file is created new, never through a name that appeared
  // meanwhile.
  int64_t OpenForAppend(Fd& out, const std::string& path, const char* magic,
                        uint32_t entry_size, const char* what, bool lock,
                        FileRole role) {
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    Fd fd(::open(path.c_str(), flags));
    if (!fd.valid() && errno == ENOENT) {
      fd = Fd(::open(path.c_str(), flags | O_CREAT | O_EXCL, 0644));
    }
    if (!fd.valid()) {
      int err = errno;
      Fail(path, err == ELOOP
                     ? std::string("the ") + what +
                           " is a symbolic link; refusing to write through it"
                     : std::string("cannot open the ") + what +
                           " for appending: " + ErrnoText(err));
    }
    Remember(role, fd.get());
    if (lock && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      Fail(path, err == EWOULDBLOCK
                     ? std::string("the table is open for appending elsewhere")
                     : "cannot lock the data file: " + ErrnoText(err));
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
      int err = errno;
      Fail(path,
           std::string("cannot inspect the ") + what + ": " + ErrnoText(err));
    }
    if (st.st_size == 0 && S_ISREG(st.st_mode)) {
      std::string header = format::EncodeFileHeader(magic, reclen);
      if (!PwriteFull(fd.get(), header.data(), header.size(), 0)) {
        int err = errno;
        Fail(path, std::string("cannot write the header of the ") + what +
                       ": " + ErrnoText(err));
      }
    }
    int64_t records = InspectCompanion(fd.get(), path, magic, entry_size, what);
    out = std::move(fd);
    return records;
  }

  void WriteIndex(int64_t records, uint16_t flags) {
    ReplaceFile(
        index_path,
        format::EncodeIndex(static_cast<uint32_t>(records), reclen, flags),
        "index file");
  }

  void OpenAppend() {
    // The index first: what it says decides whether companions may be
    // created, and a refusal must leave the files as they were.
    std::string bytes;
    uint32_t committed = 0;
    uint16_t flags = 0;
    bool missing = false;
    std::string failure =
        ReadSmallFile(index_path, format::kIndexBytes, bytes, missing);
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
        if (!FileExistsAt(*path))
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
      Fail(data_path, "the data file holds only " +
                          std::to_string(data_records) + " of the " +
                          std::to_string(committed) +
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

  void FlushPending() {
    TakeInlineAppends();
    if (pending == 0) return;
    int64_t offset = static_cast<int64_t>(format::kFileHeaderBytes) +
                     flushed * static_cast<int64_t>(reclen);
    if (!PwriteFull(data_fd.get(), data_out.get(), pending * reclen, offset)) {
      int err = errno;
      FailRecord(data_path, flushed + 1,
                 "cannot write appended records: " + ErrnoText(err));
    }
    if (!PwriteFull(attr_fd.get(),
                    reinterpret_cast<const char*>(attr_out.get()), pending,
                    static_cast<int64_t>(format::kFileHeaderBytes) + flushed)) {
      int err = errno;
      FailRecord(attr_path, flushed + 1,
                 "cannot write appended marks: " + ErrnoText(err));
    }
    flushed += static_cast<int64_t>(pending);
    data_avail = attr_avail = flushed;
    pending = 0;
    SetAppendRoom();
  }

  void Commit() {
    FlushPending();
    const int64_t header = static_cast<int64_t>(format::kFileHeaderBytes);
    if (::ftruncate(data_fd.get(), header + count * reclen) != 0 ||
        ::fsync(data_fd.get()) != 0) {
      int err = errno;
      Fail(data_path, "cannot finish the data file: " + ErrnoText(err));
    }
    if (::ftruncate(attr_fd.get(), header + count) != 0 ||
        ::fsync(attr_fd.get()) != 0) {
      int err = errno;
      Fail(attr_path, "cannot finish the attribute file: " + ErrnoText(err));
    }
    WriteIndex(count, 0);
  }

  void LoadData(int64_t index) {
    if (index >= data_avail) {
      if (mode == kReadOnly && !data_fd.valid())
        FailRecord(data_path, index + 1, "the data file is missing");
      FailRecord(data_path, index + 1,
                 "not in the data file, which holds only " +
                     std::to_string(data_avail) + " of the " +
                     std::to_string(count) + " records");
    }
    // The cache holds up to kDataReadBytes of records, but never more than the
    // data file holds; in append mode it grows with the file.
    size_t want = std::max<size_t>(1, format::kDataReadBytes / reclen);
    // A whole number of cache lines, so that a scan's every read starts at
    // the same place within a line.
    const size_t line_records = 64 / std::gcd<size_t>(reclen, 64);
    if (want > line_records) want -= want % line_records;
    want = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(want), data_avail));
    if (data_chunk_capacity < want) {
      cur->data_cached = 0;
      // The chunk starts where the file's bytes do within a cache line
      // (after the 16-byte header), so that the kernel copies from whole
      // lines to whole lines.
      data_chunk_memory.reset(new char[want * reclen + 64]);
      const auto at = reinterpret_cast<uintptr_t>(data_chunk_memory.get());
      data_chunk = data_chunk_memory.get() +
                   ((format::kFileHeaderBytes - at) & uintptr_t{63});
      data_chunk_capacity = want;
      cur->data = data_chunk;
    }
    int64_t n = std::min<int64_t>(static_cast<int64_t>(data_chunk_capacity),
                                  data_avail - index);
    cur->data_cached = 0;
    ssize_t got = PreadFull(
        data_fd.get(), data_chunk, static_cast<size_t>(n) * reclen,
        static_cast<int64_t>(format::kFileHeaderBytes) + index * reclen);
    if (got < 0) {
      int err = errno;
      FailRecord(data_path, index + 1, "cannot read: " + ErrnoText(err));
    }
    uint64_t whole = static_cast<uint64_t>(got) / reclen;
    if (whole == 0)
      FailRecord(data_path, index + 1,
                 "cannot read: the data file ended early (was it cut short "
                 "while open?)");
    cur->data_first = index;
    cur->data_cached = whole;
  }

  bool LoadAttr(int64_t index) {
    if (index >= attr_avail) return false;
    int64_t want = std::min<int64_t>(format::kAttrReadBytes, attr_avail);
    if (attr_chunk_capacity < static_cast<size_t>(want)) {
      cur->attr_cached = 0;
      attr_chunk.reset(new unsigned char[want]);
      attr_chunk_capacity = static_cast<size_t>(want);
      cur->attr = attr_chunk.get();
    }
    int64_t n = std::min<int64_t>(static_cast<int64_t>(attr_chunk_capacity),
                                  attr_avail - index);
    cur->attr_cached = 0;
    ssize_t got =
        PreadFull(attr_fd.get(), reinterpret_cast<char*>(attr_chunk.get()),
                  static_cast<size_t>(n),
                  static_cast<int64_t>(format::kFileHeaderBytes) + index);
    if (got < 0) {
      int err = errno;
      FailRecord(attr_path, index + 1,
                 "cannot read the deletion mark: " + ErrnoText(err));
    }
    if (got == 0) return false;
    cur->attr_first = index;
    cur->attr_cached = static_cast<uint64_t>(got);
    return true;
  }

  void GoToSlow(int32_t n) {
    RequireOpen("GoToRecord");
    Materialize();
    if (n < 1 || n > count) {
      FailRecord(kxt_path, n,
                 count == 0 ? std::string("the table has no records")
                            : "out of range (the table has records 1 to " +
                                  std::to_string(count) + ")");
    }
    int64_t index = n - 1;
    if (mode == kAppend && index >= flushed) {
      std::memcpy(cur->buffer.data(),
                  data_out.get() + (index - flushed) * reclen, reclen);
      cur->current = n;
      return;
    }
    LoadData(index);
    cur->record = data_chunk + (index - cur->data_first) * reclen;
    cur->current = n;
  }

  bool DeletedSlow() {
    if (!open || cur->current == 0) return false;
    int64_t index = cur->current - 1;
    if (mode == kAppend && index >= flushed)
      return (attr_out[static_cast<size_t>(index - flushed)] & 1) != 0;
    if (!LoadAttr(index)) return false;
    return (attr_chunk[static_cast<size_t>(index - cur->attr_first)] & 1) != 0;
  }

  void Append(unsigned char attribute, int option) {
    TakeInlineAppends();
    RequireOpen("AppendRecord");
    if (mode != kAppend)
      Fail(kxt_path, "cannot append: the table is open read-only");
    if (option != 0)
      Fail(kxt_path, "AppendRecord option " + std::to_string(option) +
                         " is not supported (only 0)");
    if (count >= std::numeric_limits<int32_t>::max())
      FailRecord(kxt_path, count + 1, "the table cannot hold more records");
    // A flush that failed before left the pending records in place; it is
    // tried again before there is room for more.
    if (pending == out_capacity) FlushPending();
    std::memcpy(data_out.get() + pending * reclen, cur->record, reclen);
    attr_out[pending] = attribute;
    ++pending;
    ++count;
    cur->current = static_cast<int32_t>(count);
    SetAppendRoom();
    if (pending == out_capacity) FlushPending();
  }
};

RecordTable::RecordTable() : impl_(std::make_unique<Impl>(&cursor_)) {
  cursor_.record = cursor_.buffer.data();
}

RecordTable::~RecordTable() = default;

void RecordTable::CreateDefinition(const std::string& kxt_path,
                                   const TableLayout& layout, bool overwrite) {
  if (layout.payload.size() > format::kMaxPayloadFields)
    Fail(kxt_path, "too many payload fields (" +
                       std::to_string(layout.payload.size()) + ")");
  for (size_t i = 0; i < layout.payload.size(); ++i) {
    const FieldDef& f = layout.payload[i];
    if (f.name.empty() || f.name.size() > 255)
      Fail(kxt_path, "payload field " + std::to_string(i + 1) +
                         " needs a name of 1 to 255 bytes");
    if (f.width == 0)
      Fail(kxt_path, "payload field " + std::to_string(i + 1) + " has width 0");
  }
  if (layout.RecordLength() > format::kMaxRecordLength)
    Fail(kxt_path, "record length " + std::to_string(layout.RecordLength()) +
                       " exceeds " + std::to_string(format::kMaxRecordLength));
  std::string bytes = format::EncodeDefinition(layout);
  if (overwrite) {
    ReplaceFile(kxt_path, bytes, "definition");
    return;
  }
  Fd fd(::open(kxt_path.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd.valid()) {
    int err = errno;
    Fail(kxt_path, err == EEXIST ? std::string("the file already exists")
                                 : "cannot create: " + ErrnoText(err));
  }
  if (!PwriteFull(fd.get(), bytes.data(), bytes.size(), 0) ||
      ::fsync(fd.get()) != 0 || !fd.Close()) {
    int err = errno;
    Fail(kxt_path, "cannot write the definition: " + ErrnoText(err));
  }
}

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
  if (!EndsWithTableExtension(path))
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

void RecordTable::GoToRecordSlow(int32_t n) { impl_->GoToSlow(n); }

void RecordTable::SetRecordBufferSlow(std::string_view bytes) {
  Impl& t = *impl_;
  t.RequireOpen("RecordBuffer");
  if (bytes.size() != t.reclen)
    Fail(t.kxt_path, "RecordBuffer: " + std::to_string(bytes.size()) +
                         " bytes given, but the records are " +
                         std::to_string(t.reclen) + " bytes long");
  // The bytes may be this table's own working record.
  std::memmove(cursor_.buffer.data(), bytes.data(), bytes.size());
  cursor_.record = cursor_.buffer.data();
}

bool RecordTable::DeletedSlow() const { return impl_->DeletedSlow(); }

namespace {

bool AllZero(std::string_view s, size_t from, size_t n) {
  for (size_t i = from; i < from + n; ++i)
    if (s[i] != '\0') return false;
  return true;
}

}  // namespace

std::string RecordTable::FieldGet(int field) const {
  const Impl& t = *impl_;
  t.RequireOpen("FieldGet");
  const std::string_view b = RecordBuffer();
  if (field == 1) {
    if (AllZero(b, kDateOffset, kDateBytes)) return {};
    const auto century = static_cast<unsigned char>(b[kDateOffset]);
    char text[kDateTextBytes];
    text[0] = static_cast<char>(0x30 + (century >> 4));
    text[1] = static_cast<char>(0x30 + (century & 0x0F));
    std::memcpy(text + 2, b.data() + kDateOffset + 1, kDateBytes - 1);
    return std::string(text, kDateTextBytes);
  }
  if (field == 2) {
    if (AllZero(b, kTimeOffset, kTimeBytes)) return {};
    return std::string(b.substr(kTimeOffset, kTimeBytes));
  }
  if (field >= 3 && static_cast<size_t>(field - 3) < t.layout.payload.size()) {
    size_t offset = kPayloadOffset;
    for (int i = 0; i < field - 3; ++i) offset += t.layout.payload[i].width;
    size_t width = t.layout.payload[field - 3].width;
    if (AllZero(b, offset, width)) return {};
    return std::string(b.substr(offset, width));
  }
  Fail(t.kxt_path, "FieldGet: no field " + std::to_string(field) +
                       " (the table has fields 1 to " +
                       std::to_string(2 + t.layout.payload.size()) + ")");
}

void RecordTable::FieldPutSlow(int field, std::string_view text) {
  Impl& t = *impl_;
  t.RequireOpen("FieldPut");
  t.Materialize();
  std::string& b = cursor_.buffer;
  auto too_long = [&](size_t width) {
    Fail(t.kxt_path, "FieldPut: field " + std::to_string(field) + " holds " +
                         std::to_string(width) + " characters, " +
                         std::to_string(text.size()) + " given");
  };
  if (field == 1) {
    if (text.size() > 10) too_long(10);
    unsigned char nibbles[2] = {0, 0};
    for (size_t i = 0; i < 2 && i < text.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      if (c < 0x30 || c > 0x3F)
        Fail(t.kxt_path, "FieldPut: date character " + std::to_string(i + 1) +
                             " (code " + std::to_string(c) +
                             ") is outside \"0\" to \"?\"");
      nibbles[i] = static_cast<unsigned char>(c - 0x30);
    }
    std::memset(b.data() + kDateOffset, 0, kDateBytes);
    if (!text.empty()) b[0] = static_cast<char>((nibbles[0] << 4) | nibbles[1]);
    if (text.size() > 2)
      std::memcpy(b.data() + 1, text.data() + 2, text.size() - 2);
    return;
  }
  size_t offset;
  size_t width;
  if (field == 2) {
    offset = kTimeOffset;
    width = kTimeBytes;
  } else if (field >= 3 &&
             static_cast<size_t>(field - 3) < t.layout.payload.size()) {
    offset = kPayloadOffset;
    for (int i = 0; i < field - 3; ++i) offset += t.layout.payload[i].width;
    width = t.layout.payload[field - 3].width;
  } else {
    Fail(t.kxt_path, "FieldPut: no field " + std::to_string(field) +
                         " (the table has fields 1 to " +
                         std::to_string(2 + t.layout.payload.size()) + ")");
  }
  if (text.size() > width) too_long(width);
  std::memset(b.data() + offset, 0, width);
  std::memcpy(b.data() + offset, text.data(), text.size());
}

void RecordTable::AppendRecordSlow(int option) { impl_->Append(0, option); }

void RecordTable::AppendDeletedRecord() { impl_->Append(1, 0); }

void RecordTable::Close() {
  Impl& t = *impl_;
  if (!t.open) return;
  try {
    if (t.mode == kAppend) t.Commit();
  } catch (...) {
    t.ResetState();
    throw;
  }
  bool data_ok = t.data_fd.Close();
  int err = errno;
  bool attr_ok = t.attr_fd.Close();
  t.ResetState();
  if (t.mode == kAppend && (!data_ok || !attr_ok))
    Fail(t.base, "cannot close the table files: " + ErrnoText(err));
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
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  const std::vector<std::string> files = Files();
  for (size_t i = 0; i < files.size(); ++i) {
    const Impl::FileId& id = impl_->ids[i];
    if (id.known && id.device == st.st_dev && id.inode == st.st_ino) {
      return files[i];
    }
  }
  return {};
}

bool RecordTable::DeletionMarksMissing() const { return impl_->marks_missing; }

int64_t RecordTable::DeletedCount() {
  Impl& t = *impl_;
  t.RequireOpen("DeletedCount");
  t.TakeInlineAppends();
  int64_t deleted = 0;
  for (int64_t index = 0; index < t.attr_avail;) {
    if (!t.LoadAttr(index)) break;
    for (uint64_t i = 0; i < cursor_.attr_cached; ++i) {
      deleted += cursor_.attr[i] & 1;
    }
    index += static_cast<int64_t>(cursor_.attr_cached);
  }
  if (t.mode == kAppend) {
    for (size_t i = 0; i < t.pending; ++i) deleted += t.attr_out[i] & 1;
  }
  return deleted;
}

}  // namespace kalvex
