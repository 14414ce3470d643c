// WaitingRecords: what a repair with the restoring rule holds back, in table
// order, until the stamps of the examined records among it are decided.
//
// The rule decides a stamp only once it has seen the stamps after it (at
// most StampRestorer::kMaxPending records later), while every line of the
// report and every record note goes out in table order. So an examined
// record waits here with its bytes as they will be written, and so do the
// records around it that the pass leaves out (a run of one kind as one
// entry) and the severe-error lines of records that could not be read.
// The bytes of at most kMaxPending records are held: memory does not grow
// with the table. Slots are reused, so a record of the usual size costs no
// allocation.
#ifndef KXCHECK_CORE_WAITING_RECORDS_H_
#define KXCHECK_CORE_WAITING_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/host.h"

namespace kxcheck {

class WaitingRecords {
 public:
  enum class What : uint8_t {
    kExamined,  // a record to write once its stamp is decided
    kLeftOut,   // records first to last, left out as `kind`
    kSevere,    // the severe-error line of record `first`
  };
  struct Entry {
    What what = What::kExamined;
    RecordClass kind = RecordClass::kExamined;
    // kExamined: whether `bytes` holds the record's bytes (reading them
    // may have failed), and whether a severe-error line follows its own.
    bool held = false;
    bool severe = false;
    int32_t first = 0;
    int32_t last = 0;
    std::string bytes;
  };

  WaitingRecords() : slots_(64) {}

  bool empty() const { return count_ == 0; }
  Entry& Front() { return slots_[head_]; }
  void PopFront() {
    head_ = (head_ + 1) & (slots_.size() - 1);
    --count_;
  }
  // The entry added last; valid while it waits.
  Entry& Back() { return At(count_ - 1); }

  // An examined record; the caller fills in its bytes.
  Entry& AddExamined(int32_t n) {
    Entry& entry = Add(What::kExamined, n);
    entry.held = false;
    entry.severe = false;
    return entry;
  }
  // A record left out as `kind`: joins the run of that kind just before it.
  void AddLeftOut(int32_t n, RecordClass kind) {
    if (count_ > 0) {
      Entry& back = Back();
      if (back.what == What::kLeftOut && back.kind == kind &&
          back.last + 1 == n) {
        back.last = n;
        return;
      }
    }
    Add(What::kLeftOut, n).kind = kind;
  }
  void AddSevere(int32_t n) { Add(What::kSevere, n); }

 private:
  // The slots are a power of two.
  Entry& At(size_t i) { return slots_[(head_ + i) & (slots_.size() - 1)]; }

  Entry& Add(What what, int32_t n) {
    if (count_ == slots_.size()) Grow();
    Entry& entry = At(count_++);
    entry.what = what;
    entry.first = n;
    entry.last = n;
    return entry;
  }

  // Twice the slots, the waiting entries moved to the front in order.
  void Grow() {
    std::vector<Entry> larger(slots_.size() * 2);
    for (size_t i = 0; i < count_; ++i) larger[i] = std::move(At(i));
    slots_ = std::move(larger);
    head_ = 0;
  }

  std::vector<Entry> slots_;
  size_t head_ = 0;
  size_t count_ = 0;
};

}  // namespace kxcheck

#endif  // KXCHECK_CORE_WAITING_RECORDS_H_
