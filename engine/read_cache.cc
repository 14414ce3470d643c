// Reading records and deletion marks through the read caches
// (docs/FORMAT.md: reading).
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/table_format.h"
#include "engine/table_impl.h"

namespace kalvex {

using internal::FailRecord;
using kxos::ErrorText;

void RecordTable::GoToRecordSlow(int32_t n) { impl_->GoToSlow(n); }

bool RecordTable::DeletedSlow() const { return impl_->DeletedSlow(); }

int64_t RecordTable::DeletedCount() {
  Impl& t = *impl_;
  t.RequireOpen("DeletedCount");
  t.TakeInlineAppends();
  int64_t deleted = 0;
  for (int64_t index = 0; index < t.attr_avail;) {
    t.LoadAttr(index);
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

void RecordTable::Impl::LoadData(int64_t index) {
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
  want = static_cast<size_t>(
      std::min<int64_t>(static_cast<int64_t>(want), data_avail));
  if (data_chunk_capacity < want) {
    cur->data_cached = 0;
    data_chunk.reset(new char[want * reclen]);
    data_chunk_capacity = want;
    cur->data = data_chunk.get();
  }
  int64_t n = std::min<int64_t>(static_cast<int64_t>(data_chunk_capacity),
                                data_avail - index);
  cur->data_cached = 0;
  size_t got = 0;
  if (int err = env->ReadAt(
          data_fd.get(), data_chunk.get(), static_cast<size_t>(n) * reclen,
          static_cast<int64_t>(format::kFileHeaderBytes) + index * reclen,
          got)) {
    FailRecord(data_path, index + 1, "cannot read: " + ErrorText(err));
  }
  uint64_t whole = got / reclen;
  if (whole == 0)
    FailRecord(data_path, index + 1,
               "cannot read: the data file ended early (was it cut short "
               "while open?)");
  cur->data_first = index;
  cur->data_cached = whole;
}

bool RecordTable::Impl::LoadAttr(int64_t index) {
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
  size_t got = 0;
  if (int err = env->ReadAt(
          attr_fd.get(), reinterpret_cast<char*>(attr_chunk.get()),
          static_cast<size_t>(n),
          static_cast<int64_t>(format::kFileHeaderBytes) + index, got)) {
    FailRecord(attr_path, index + 1,
               "cannot read the deletion mark: " + ErrorText(err));
  }
  if (got == 0) {
    FailRecord(attr_path, index + 1,
               "cannot read the deletion mark: the attribute file ended early "
               "(was it cut short while open?)");
  }
  cur->attr_first = index;
  cur->attr_cached = static_cast<uint64_t>(got);
  return true;
}

void RecordTable::Impl::GoToSlow(int32_t n) {
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
    std::memcpy(cur->buffer.data(), data_out.get() + (index - flushed) * reclen,
                reclen);
    cur->current = n;
    return;
  }
  LoadData(index);
  cur->record = data_chunk.get() + (index - cur->data_first) * reclen;
  cur->current = n;
}

bool RecordTable::Impl::DeletedSlow() {
  if (!open || cur->current == 0) return false;
  int64_t index = cur->current - 1;
  if (mode == kAppend && index >= flushed)
    return (attr_out[static_cast<size_t>(index - flushed)] & 1) != 0;
  if (!LoadAttr(index)) return false;
  return (attr_chunk[static_cast<size_t>(index - cur->attr_first)] & 1) != 0;
}

}  // namespace kalvex
