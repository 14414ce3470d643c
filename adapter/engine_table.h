// The Kalvex engine seen through the core's table interface.
#ifndef KXCHECK_ADAPTER_ENGINE_TABLE_H_
#define KXCHECK_ADAPTER_ENGINE_TABLE_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/table.h"
#include "engine/record_table.h"
#include "os/env.h"

namespace adapter {

class EngineTable final : public kxcheck::Table {
 public:
  explicit EngineTable(kxos::Env* env = kxos::Env::Default()) : table_(env) {}
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
  bool DateAndTimeText(char (&out)[18]) override {
    return table_.DateAndTimeText(out);
  }
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

 private:
  kalvex::RecordTable table_;
};

class EngineTableFactory final : public kxcheck::TableFactory {
 public:
  std::unique_ptr<kxcheck::Table> Create() override;
};

}  // namespace adapter

#endif  // KXCHECK_ADAPTER_ENGINE_TABLE_H_
