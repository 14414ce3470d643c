#include "tests/core/support/repair_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace kxtest {

FakeRecord Rec(const std::string& stamp, int tag, bool deleted) {
  return {MakeRecord(stamp, "payload-bytes-0123456789-" + std::to_string(tag)),
          deleted};
}

std::string WithStamp(const FakeRecord& record, const std::string& stamp) {
  return MakeRecord(stamp, record.bytes.substr(17));
}

RepairRig::RepairRig(std::vector<FakeRecord> records) {
  Source(std::move(records));
}

void RepairRig::Source(std::vector<FakeRecord> records) {
  source = records;
  disk.AddTable(kPath, std::move(records));
}

kxcheck::Outcome RepairRig::Run() {
  return kxcheck::RepairTable(kPath, host, tables, options, &plan);
}

std::vector<std::string> RepairRig::Output() {
  std::vector<std::string> bytes;
  if (auto* table = disk.Table(kOut)) {
    for (const FakeRecord& r : table->records) bytes.push_back(r.bytes);
  }
  return bytes;
}

bool RepairRig::AnyOutputFile() const {
  return std::any_of(kOutFiles.begin(), kOutFiles.end(),
                     [&](const std::string& f) { return disk.Exists(f); });
}

bool RepairRig::AnyStagedFile() const {
  return std::any_of(
      disk.files.begin(), disk.files.end(),
      [](const std::string& f) { return f.rfind("/d/.staged-", 0) == 0; });
}

void RepairRig::ExpectSourceUnchanged(bool deleted_marks) {
  const auto* table = disk.Table(kPath);
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->records.size(), source.size());
  for (size_t i = 0; i < source.size(); ++i) {
    EXPECT_EQ(table->records[i].bytes, source[i].bytes) << i;
    if (deleted_marks) {
      EXPECT_EQ(table->records[i].deleted, source[i].deleted) << i;
    }
  }
  for (const char* ext : {".kxt", ".kxd", ".kxi", ".kxa"}) {
    EXPECT_TRUE(disk.Exists("/d/t" + std::string(ext))) << ext;
  }
}

}  // namespace kxtest
