// Writing: new definitions, appended records and the commit protocol, each
// file written only where it is (docs/FORMAT.md: writing files safely,
// appending and the commit protocol).
#include <algorithm>
#include <cerrno>
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

void RecordTable::CreateDefinition(const std::string& kxt_path,
                                   const TableLayout& layout, bool overwrite,
                                   kxos::Env* env) {
  if (std::string why = format::LayoutProblem(layout); !why.empty()) {
    Fail(kxt_path, why);
  }
  std::string bytes = format::EncodeDefinition(layout);
  if (overwrite) {
    internal::ReplaceFile(env, kxt_path, bytes, "definition", 0666);
    return;
  }
  Fd fd;
  if (int err = env->Open(kxt_path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
                          0666, fd)) {
    Fail(kxt_path, err == EEXIST ? std::string("the file already exists")
                                 : "cannot create: " + ErrorText(err));
  }
  int err = internal::WriteDurably(env, fd, bytes);
  if (err == 0) err = fd.Close();
  if (err != 0) {
    env->Unlink(kxt_path);
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
  internal::ReplaceFile(
      env, index_path,
      format::EncodeIndex(static_cast<uint32_t>(records), reclen, flags),
      "index file", file_mode);
}

}  // namespace kalvex
