// The Kalvex engine seen through the table interface of the operations.
#ifndef KXCHECK_PLATFORM_ENGINE_TABLE_H_
#define KXCHECK_PLATFORM_ENGINE_TABLE_H_

#include <memory>
#include <string>

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
  void FieldPut(int field, const std::string& text) override {
    table_.FieldPut(field, text);
  }
  void AppendRecord(int option) override { table_.AppendRecord(option); }
  void Close() override { table_.Close(); }

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

// The stamp of the current record (see kxcheck::ReadStamp), written by the
// engine straight from the record's bytes into the stamp's own storage.
inline void ReadStamp(EngineTable& table, std::string& stamp) {
  if (stamp.size() != kalvex::kDateTimeTextBytes) {
    stamp.assign(kalvex::kDateTimeTextBytes, ' ');
  }
  // The room includes the string's terminating zero, which the engine
  // writes as zero.
  const size_t n = table.Engine().DateTimeInto(stamp.data());
  if (n != kalvex::kDateTimeTextBytes) stamp.resize(n);
}

class EngineTableFactory : public kxcheck::TableFactory {
 public:
  std::unique_ptr<kxcheck::RecordTable> Create() override {
    return std::make_unique<EngineTable>();
  }
};

}  // namespace platform

#endif  // KXCHECK_PLATFORM_ENGINE_TABLE_H_
