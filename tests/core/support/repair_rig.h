// A rig for the repair pass tests: a source table on the fake disk, the fake
// host and table factory, the pass run against them, and what it left.
#ifndef KXCHECK_TESTS_CORE_SUPPORT_REPAIR_RIG_H_
#define KXCHECK_TESTS_CORE_SUPPORT_REPAIR_RIG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "core/operations.h"
#include "tests/core/support/fakes.h"

namespace kxtest {

// The source table the pass repairs, and the four files of its output.
inline const std::string kPath = "/d/t.kxt";
inline const std::string kOut = "/d/t_REPAIRED.kxt";
inline const std::vector<std::string> kOutFiles = {
    "/d/t_REPAIRED.kxt", "/d/t_REPAIRED.kxd", "/d/t_REPAIRED.kxi",
    "/d/t_REPAIRED.kxa"};

// A record with `stamp` and a payload that `tag` makes unique.
FakeRecord Rec(const std::string& stamp, int tag, bool deleted = false);

// The bytes of `record` with its stamp replaced by `stamp`.
std::string WithStamp(const FakeRecord& record, const std::string& stamp);

// The line of a record that met a Severe error.
inline std::string Severe(int64_t record) {
  return "Rec: " + std::to_string(record) +
         " - Encountered a Severe error - skipping!";
}

struct RepairRig {
  RepairRig() = default;
  explicit RepairRig(std::vector<FakeRecord> records);

  // Puts the source table at kPath on the disk.
  void Source(std::vector<FakeRecord> records);

  // Runs the pass with `options` and `plan` watching it.
  kxcheck::Outcome Run();

  // The records of the output table; none when there is no output.
  std::vector<std::string> Output();

  bool AnyOutputFile() const;
  // Whether a file of a staged output (FakeHost::StageTable) is left.
  bool AnyStagedFile() const;

  // The source is only ever read: its records (their bytes, and with
  // `deleted_marks` their deletion marks too) and its four files stay as
  // they were.
  void ExpectSourceUnchanged(bool deleted_marks);

  kxcheck::RepairOptions options;
  FakeDisk disk;
  FailurePlan plan;
  FakeHost host{disk, plan};
  FakeTableFactory tables{disk, plan};
  std::vector<FakeRecord> source;
};

}  // namespace kxtest

#endif  // KXCHECK_TESTS_CORE_SUPPORT_REPAIR_RIG_H_
