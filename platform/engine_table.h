// The Kalvex engine seen through the table interface of the operations.
#ifndef KXCHECK_PLATFORM_ENGINE_TABLE_H_
#define KXCHECK_PLATFORM_ENGINE_TABLE_H_

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/record_table.h"
#include "core/stamp.h"
#include "engine/record_table.h"

namespace platform {

class EngineTable final : public kxcheck::RecordTable {
 public:
  void SetAccessMode(int mode) override { table_.SetAccessMode(mode); }
  void Open(const std::string& path) override { table_.Open(path); }
  std::string BasePath() override { return table_.BasePath(); }
  int32_t RecordCount() override { return table_.RecordCount(); }
  void GoToRecord(int32_t n) override { table_.GoToRecord(n); }
  std::string_view RecordBuffer() override { return table_.RecordBuffer(); }
  void SetRecordBuffer(std::string_view bytes) override {
    table_.SetRecordBuffer(bytes);
  }
  bool Deleted() override { return table_.Deleted(); }
  std::string FieldGet(int field) override { return table_.FieldGet(field); }
  void FieldPut(int field, std::string_view text) override {
    table_.FieldPut(field, text);
  }
  void AppendRecord(int option) override { table_.AppendRecord(option); }
  void Close() override { table_.Close(); }
  std::vector<std::string> Problems() override { return table_.Problems(); }
  bool DeletionMarksMissing() override { return table_.DeletionMarksMissing(); }
  std::string FileNamedBy(const std::string& path) override {
    return table_.FileNamedBy(path);
  }

  const kalvex::RecordTable& Engine() const { return table_; }

 private:
  kalvex::RecordTable table_;
};

}  // namespace platform

// The engine's view of the working record changes only when the table is
// positioned, written to, opened or closed.
template <>
inline constexpr bool kxcheck::kRecordViewOutlivesReads<platform::EngineTable> =
    true;

namespace platform {

// The stamp of the current record (see kxcheck::ReadHeldStamp), made from the
// record's bytes without any text when the record has both fields.
inline kxcheck::HeldStamp ReadHeldStamp(EngineTable& table, std::string& room) {
  kxcheck::HeldStamp stamp;
  if (table.Engine().DateTimeNumbers(stamp.words.head, stamp.words.middle,
                                     stamp.words.tail)) {
    return stamp;
  }
  return kxcheck::ReadHeldStamp<EngineTable>(table, room);
}

// The same stamp as a text (see kxcheck::ReadStamp). The three numbers go
// from registers straight into the string: passed through a HeldStamp that
// lives in memory, they would be stored as 8-byte pieces and copied on as
// one 16-byte load, which waits for both stores.
inline void ReadStamp(EngineTable& table, std::string& stamp) {
  uint64_t head;
  uint64_t middle;
  uint32_t tail;
  if (stamp.size() == kalvex::kDateTimeTextBytes &&
      table.Engine().DateTimeNumbers(head, middle, tail)) {
    std::memcpy(stamp.data(), &head, 8);
    std::memcpy(stamp.data() + 8, &middle, 8);
    std::memcpy(stamp.data() + 16, &tail, 4);  // with the terminating zero
    return;
  }
  kxcheck::ReadStamp<EngineTable>(table, stamp);
}

class EngineTableFactory : public kxcheck::TableFactory {
 public:
  std::unique_ptr<kxcheck::RecordTable> Create() override {
    return std::make_unique<EngineTable>();
  }
};

}  // namespace platform

#endif  // KXCHECK_PLATFORM_ENGINE_TABLE_H_
