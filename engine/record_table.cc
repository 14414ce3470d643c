#include "engine/record_table.h"

namespace kalvex {

struct RecordTable::Impl {
  int mode = kReadOnly;
  std::string buffer;
  TableLayout layout;
  std::vector<std::string> problems;
};

uint32_t TableLayout::RecordLength() const {
  uint32_t n = kPayloadOffset;
  for (const FieldDef& f : payload) n += f.width;
  return n;
}

RecordTable::RecordTable() : impl_(std::make_unique<Impl>()) {}
RecordTable::~RecordTable() = default;
void RecordTable::CreateDefinition(const std::string&, const TableLayout&,
                                   bool) {
  throw TableError("not yet written");
}
void RecordTable::SetAccessMode(int mode) { impl_->mode = mode; }
int RecordTable::AccessMode() const { return impl_->mode; }
void RecordTable::Open(const std::string&) {
  throw TableError("not yet written");
}
bool RecordTable::IsOpen() const { return false; }
std::string RecordTable::BasePath() const { return {}; }
int32_t RecordTable::RecordCount() const { return 0; }
void RecordTable::GoToRecord(int32_t) { throw TableError("not yet written"); }
int32_t RecordTable::CurrentRecord() const { return 0; }
const std::string& RecordTable::RecordBuffer() const { return impl_->buffer; }
void RecordTable::SetRecordBuffer(std::string_view b) { impl_->buffer = b; }
bool RecordTable::Deleted() const { return false; }
std::string RecordTable::FieldGet(int) const { return {}; }
void RecordTable::FieldPut(int, std::string_view) {}
void RecordTable::AppendRecord(int) { throw TableError("not yet written"); }
void RecordTable::AppendDeletedRecord() { throw TableError("not yet written"); }
void RecordTable::Close() {}
const TableLayout& RecordTable::Layout() const { return impl_->layout; }
const std::vector<std::string>& RecordTable::Problems() const {
  return impl_->problems;
}

}  // namespace kalvex
