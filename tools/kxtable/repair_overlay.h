// What a repair changed, for the damage map (kxtable report --repair and
// --restore): the records of a table, as the check scan notes them, set
// against what a repair wrote for them.
//
// RepairAligner reads a repair's output beside the table, both in order,
// without knowing the options the repair ran with. The output holds the
// table's records in their order, less those left out (null, and deleted,
// corrupted or duplicate ones when the repair skipped them), and a repair
// changes a record's date, time and separators only, never the bytes after
// them (the payload). So a table record whose payload equals the next output
// record's is that record; any other is taken as left out. A record that
// passed the classification (an examined one) is never left out: when its
// payload differs, the output is not this table's repair, and the aligner
// stops there with a warning rather than guess. Records of equal payload
// that follow each other, one of them left out, can be paired one record
// off; their stamps are then set against a neighbour's.
//
// RestoreOverlay runs the examined records' stamps through the restoring
// rule (StampRestorer) and gives the map what it would write. Nothing is
// read or written besides the table.
#ifndef KXCHECK_TOOLS_KXTABLE_REPAIR_OVERLAY_H_
#define KXCHECK_TOOLS_KXTABLE_REPAIR_OVERLAY_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "core/host.h"
#include "core/stamp_restore.h"
#include "tools/kxtable/damage_map.h"

namespace kxtable {

// The stamp of a record in the engine's layout, as FieldGet(1), a space and
// FieldGet(2) give it (an all-zero field is empty), written into `room`.
std::string_view RecordStamp(std::string_view record, char (&room)[19]);

// The records of a repair's output, one after the other.
class OutputRecords {
 public:
  virtual ~OutputRecords() = default;
  // The next record's bytes, valid until the next call; false after the
  // last. Throws when the output cannot be read.
  virtual bool Next(std::string_view& record) = 0;
};

class RepairAligner {
 public:
  explicit RepairAligner(OutputRecords& output) : output_(output) {}

  // The table's next record, as the check scan notes it (with its bytes).
  void Add(const kxcheck::RecordNote& note, DamageMap& map);
  // The table's records have all come (`complete`) or the scan stopped
  // early; output records left over are a mismatch only after all.
  void Finish(bool complete);

  // Why the output stopped matching the table; "" while it matches.
  const std::string& Warning() const { return warning_; }

 private:
  bool Fetch();
  void Stop(std::string warning) { warning_ = std::move(warning); }

  OutputRecords& output_;
  bool started_ = false;
  bool have_next_ = false;
  std::string_view next_;
  int64_t next_number_ = 0;  // the output's record number of next_
  std::string warning_;
};

// What `kxtable repair --restore` with its default options would write: the
// stamps of the records it keeps go through the restoring rule, and each
// stamp the rule replaces is given to the map.
class RestoreOverlay {
 public:
  explicit RestoreOverlay(int current_year) : restorer_(current_year) {}

  void Add(const kxcheck::RecordNote& note, DamageMap& map);
  // Every stamp pushed is decided and given to the map.
  void Finish(DamageMap& map);

 private:
  void Drain(DamageMap& map);

  kxcheck::StampRestorer restorer_;
};

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_REPAIR_OVERLAY_H_
