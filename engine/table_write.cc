// Writing: new definitions, appended records and the commit protocol, each
// file written only where it is (docs/FORMAT.md: writing files safely,
// appending and the commit protocol).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "engine/table_format.h"
#include "engine/table_impl.h"

namespace kalvex {

using internal::Fail;
using internal::FailRecord;
using kxos::ErrorText;
using kxos::Fd;

namespace {

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes `bytes` into the new file `fd`, syncs and closes it; 0 or the errno
// value of the step that failed.
int WriteDurably(kxos::Env* env, Fd& fd, const std::string& bytes) {
  int err = env->WriteAt(fd.get(), bytes.data(), bytes.size(), 0);
  if (err == 0) err = env->Sync(fd.get());
  if (err == 0) err = fd.Close();
  return err;
}

// Creates a new file beside `path`, named "<path>.tmp-" and twelve random
// hexadecimal digits, so that no one can have put a file or a link there
// beforehand; never opens an existing file. Sets `temp` to its name and
// returns 0 or the errno value of the failure.
int CreateTempBeside(kxos::Env* env, const std::string& path, std::string& temp,
                     Fd& fd) {
  int err = EEXIST;
  for (int attempt = 0; attempt < 16 && err == EEXIST; ++attempt) {
    unsigned char random[6];
    if ((err = env->RandomBytes(random, sizeof random)) != 0) return err;
    char suffix[2 * sizeof random + 1];
    for (size_t i = 0; i < sizeof random; ++i) {
      std::snprintf(suffix + 2 * i, 3, "%02x", random[i]);
    }
    temp = path + ".tmp-" + suffix;
    err = env->Open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644, fd);
  }
  return err;
}

// Makes a rename or a new name in the directory of `path` durable.
void SyncDirectoryOf(kxos::Env* env, const std::string& path) {
  Fd dir;
  int err = env->Open(DirectoryOf(path), O_RDONLY | O_DIRECTORY, 0, dir);
  // Some file systems cannot sync a directory (EINVAL); they need not.
  if (err == 0 && (err = env->Sync(dir.get())) == EINVAL) err = 0;
  if (err != 0) Fail(path, "cannot sync its directory: " + ErrorText(err));
}

// Puts `bytes` at `path` in one step: written to a new file beside it,
// synced, renamed over `path` (which replaces the name, whatever it named,
// and writes through nothing), and the directory synced. On failure `path`
// is as it was and the new file is gone.
void ReplaceFile(kxos::Env* env, const std::string& path,
                 const std::string& bytes, const char* what) {
  std::string temp;
  Fd fd;
  if (int err = CreateTempBeside(env, path, temp, fd)) {
    Fail(path,
         std::string("cannot create a new ") + what + ": " + ErrorText(err));
  }
  if (int err = WriteDurably(env, fd, bytes)) {
    env->Unlink(temp);
    Fail(path,
         std::string("cannot write the new ") + what + ": " + ErrorText(err));
  }
  if (int err = env->Rename(temp, path)) {
    env->Unlink(temp);
    Fail(path,
         std::string("cannot replace the ") + what + ": " + ErrorText(err));
  }
  SyncDirectoryOf(env, path);
}

}  // namespace

void RecordTable::CreateDefinition(const std::string& kxt_path,
                                   const TableLayout& layout, bool overwrite,
                                   kxos::Env* env) {
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
    ReplaceFile(env, kxt_path, bytes, "definition");
    return;
  }
  Fd fd;
  if (int err = env->Open(kxt_path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
                          0644, fd)) {
    Fail(kxt_path, err == EEXIST ? std::string("the file already exists")
                                 : "cannot create: " + ErrorText(err));
  }
  if (int err = WriteDurably(env, fd, bytes)) {
    Fail(kxt_path, "cannot write the definition: " + ErrorText(err));
  }
}

void RecordTable::AppendRecordSlow(int option) { impl_->Append(0, option); }

void RecordTable::AppendDeletedRecord() { impl_->Append(1, 0); }

void RecordTable::Impl::SetAppendRoom() {
  cur->append_data = data_out ? data_out.get() + pending * reclen : nullptr;
  cur->append_marks = attr_out ? attr_out.get() + pending : nullptr;
  int64_t room = static_cast<int64_t>(out_capacity - pending) - 1;
  room = std::min<int64_t>(room, std::numeric_limits<int32_t>::max() - count);
  cur->append_room = static_cast<uint32_t>(std::max<int64_t>(room, 0));
}

void RecordTable::Impl::TakeInlineAppends() {
  if (cur->append_data == nullptr) return;
  pending = static_cast<size_t>(cur->append_data - data_out.get()) / reclen;
}

void RecordTable::Impl::Append(unsigned char attribute, int option) {
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

void RecordTable::Impl::FlushPending() {
  TakeInlineAppends();
  if (pending == 0) return;
  int64_t offset = static_cast<int64_t>(format::kFileHeaderBytes) +
                   flushed * static_cast<int64_t>(reclen);
  if (int err = env->WriteAt(data_fd.get(), data_out.get(), pending * reclen,
                             offset)) {
    FailRecord(data_path, flushed + 1,
               "cannot write appended records: " + ErrorText(err));
  }
  if (int err = env->WriteAt(
          attr_fd.get(), reinterpret_cast<const char*>(attr_out.get()), pending,
          static_cast<int64_t>(format::kFileHeaderBytes) + flushed)) {
    FailRecord(attr_path, flushed + 1,
               "cannot write appended marks: " + ErrorText(err));
  }
  flushed += static_cast<int64_t>(pending);
  data_avail = attr_avail = flushed;
  pending = 0;
  SetAppendRoom();
}

void RecordTable::Impl::Commit() {
  FlushPending();
  const int64_t header = static_cast<int64_t>(format::kFileHeaderBytes);
  int err = env->Truncate(data_fd.get(), header + count * reclen);
  if (err == 0) err = env->Sync(data_fd.get());
  if (err != 0) {
    Fail(data_path, "cannot finish the data file: " + ErrorText(err));
  }
  err = env->Truncate(attr_fd.get(), header + count);
  if (err == 0) err = env->Sync(attr_fd.get());
  if (err != 0) {
    Fail(attr_path, "cannot finish the attribute file: " + ErrorText(err));
  }
  WriteIndex(count, 0);
}

void RecordTable::Impl::WriteIndex(int64_t records, uint16_t flags) {
  ReplaceFile(
      env, index_path,
      format::EncodeIndex(static_cast<uint32_t>(records), reclen, flags),
      "index file");
}

}  // namespace kalvex
