// StampRestorer: the rule that gives a repaired table its stamps back.
//
// The repair pass hands it the stamp of every record it keeps, in table
// order, and writes what comes out, in the same order and a bounded number
// of records later. The rule:
//
// - A stamp is kept, byte for byte (its separators put right where they are
//   wrong), when it is a real calendar time (stamp_time.h) and fits the
//   series: not below the last kept stamp, not a spike (keeping it would cost
//   more of the following stamps than leaving it out costs, counted by the
//   longest non-decreasing run through the next valid stamps), and, while the
//   series keeps a regular cadence, on the grid of the last kept stamp or on
//   the grid its following stamps lie on (a logger paused or restarted).
//   When keeping and leaving out cost the same, the stamp that lies nearer to
//   its neighbours' line wins.
// - Every other stamp is restored from the kept stamps before and after it:
//   the value the cadence gives when the grid holds between them; otherwise
//   a reading of the damaged stamp that differs in one digit and falls
//   between them (the one nearest the line between them), or else the value
//   on that line at the record's position. Records before the first kept
//   stamp take it; records after the last kept stamp take that one. Where
//   there is no kept stamp at all, records get kFirstReplacementStamp
//   ("2000-01-01 00:00:00"), which the current rule gives a first bad stamp.
//
// Every stamp written is a real calendar time and none is below the one
// written before it.
//
// Streaming: a stamp is judged once the 16 real stamps after it have come
// (at most kLookAhead records, or at Finish), and a restored record waits
// for the next kept stamp after it for at most kMaxWaiting records; past
// that it takes the last kept stamp (kFirstReplacementStamp while there is
// none, and then no stamp below that is kept). Memory does not grow with the
// table.
//
// The ideas come from published work on cleaning timestamps: change as few
// stamps as possible, judging each by the longest ordered run through its
// neighbours (Song, Cao and Wang 2016); decide in a window that slides over
// the stream (Song, Zhang, Wang and Yu 2015); on a regular interval, a
// damaged stamp's value is the grid's (Fang, Song and Mei 2022).
//
// Use:
//   StampRestorer restorer(current_year);
//   for each record: restorer.Push(n, stamp);
//                    while (restorer.Ready()) { use restorer.Front();
//                                               restorer.Pop(); }
//   restorer.Finish(); and drain the same way.
// The caller keeps each record's bytes until its stamp comes out: at most
// kMaxPending records.
#ifndef KXCHECK_CORE_STAMP_RESTORE_H_
#define KXCHECK_CORE_STAMP_RESTORE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/stamp_time.h"

namespace kxcheck {

// What became of a stamp.
enum class StampFate : uint8_t {
  kKept,                // written as read
  kSeparatorsPutRight,  // written as read but for "-", " " and ":"
  kRestored,            // written with a value from its neighbours
};

// Why a stamp was restored.
enum class RestoreReason : uint8_t {
  kNone,        // kept
  kInvalid,     // not a real calendar time
  kOutOfOrder,  // below the last kept stamp
  kSpike,       // above what the following stamps agree on
  kOffCadence,  // off the series' regular cadence, with no following stamps
                // on its own grid
};

// "invalid", "out of order", "spike", "off cadence" ("" for kNone).
const char* RestoreReasonName(RestoreReason reason);

struct RestoredStamp {
  int64_t record = 0;         // as given to Push
  std::string_view original;  // the stamp as read
  char stamp[19] = {};        // the stamp to write
  StampFate fate = StampFate::kKept;
  RestoreReason reason = RestoreReason::kNone;

  std::string_view Stamp() const { return {stamp, sizeof stamp}; }
};

class StampRestorer {
 public:
  // A real stamp is judged when kFollowers real stamps have come after it,
  // or at the latest when this many records have.
  static constexpr int kLookAhead = 1024;
  // Restored records that wait for a kept stamp after them.
  static constexpr int kMaxWaiting = 1024;
  // Records pushed and not yet popped, at most, when the caller pops every
  // ready stamp after each Push.
  static constexpr size_t kMaxPending = kLookAhead + kMaxWaiting + 1;

  // `current_year` bounds the year of a real stamp, as in the year test.
  explicit StampRestorer(int current_year);

  // The next record in table order: its number (above the one before) and
  // its stamp as read, any length. Throws std::length_error when kMaxPending
  // records are waiting to be popped, std::invalid_argument when the
  // numbers do not rise.
  void Push(int64_t record, std::string_view stamp);
  // No more records: every stamp pushed becomes ready.
  void Finish();

  // Whether the oldest record not yet popped has its stamp.
  bool Ready() const { return final_ != popped_; }
  // That record; valid until Pop.
  const RestoredStamp& Front() const { return At(popped_).out; }
  void Pop() { ++popped_; }

  size_t Pending() const { return static_cast<size_t>(pushed_ - popped_); }

 private:
  // Valid stamps after the one being judged that it is compared with.
  static constexpr int kFollowers = 16;
  // Differences of kept stamps of neighbouring records that give the
  // cadence. The cadence is regular when seven in eight of them are the
  // same, and there are at least kCadenceLeast: a series of random steps
  // almost never shows that.
  static constexpr int kCadenceWindow = 64;
  static constexpr int kCadenceLeast = 16;

  // A record's time, in a compact array that judging scans: its number and
  // its stamp in seconds, kNotATime when the stamp is not a real time; and
  // the lowest time of its kFollowers followers once they have come
  // (kNotATime until then).
  struct Point {
    int64_t record;
    int64_t time;
    int64_t followers_low;
  };
  static constexpr int64_t kNotATime = INT64_MIN;  // below every time
  // The rest of a record.
  struct Entry {
    RestoredStamp out;
    char original[19];
    std::string long_original;  // a stamp of another length
  };

  Entry& At(uint64_t index) { return entries_[index & mask_]; }
  const Entry& At(uint64_t index) const { return entries_[index & mask_]; }
  const Point& PointAt(uint64_t index) const { return points_[index & mask_]; }

  void Decide(uint64_t index);
  bool Keepable(const Point& point, uint64_t index, RestoreReason& reason);
  // Whether one of the record's followers lies from `floor` to below `time`.
  bool HasRival(uint64_t index, int64_t time, int64_t floor) const;
  int GatherFollowers(uint64_t index, Point* followers) const;
  bool OnFollowersGrid(const Point& point, const Point* followers,
                       int count) const;
  bool FitsBetterThan(const Point& point, const Point* followers, int count,
                      int rival) const;
  void Keep(uint64_t index);
  // Gives the waiting records before `end` their stamps, between the last
  // kept stamp and `right` (when there is one).
  void FillWaiting(uint64_t end, const Point* right);
  void WriteRestored(Entry& entry, int64_t time);
  void AddCadence(int64_t difference);
  // Keeps the lowest of the last kFollowers real times, for followers_low.
  void AddToFollowersLow(uint64_t index, int64_t time);

  int current_year_;
  StampTimeReader reader_;
  std::vector<Point> points_;
  std::vector<Entry> entries_;
  uint64_t mask_;
  // Positions in the stream of pushed records: popped_ <= final_ <=
  // decided_ <= pushed_. Records in [final_, decided_) are restored and
  // waiting for a kept stamp after them.
  uint64_t popped_ = 0;
  uint64_t final_ = 0;
  uint64_t decided_ = 0;
  uint64_t pushed_ = 0;
  bool finished_ = false;

  // The real times pushed last, by their count (`times_seen_`): the
  // positions of the last ones, and the times of those among the last
  // kFollowers that no later time is below, lowest first.
  static constexpr unsigned kTimesKept = 32;  // a power of two above kFollowers
  uint64_t times_seen_ = 0;
  uint64_t time_positions_[kTimesKept] = {};
  struct Low {
    uint64_t seen;
    int64_t time;
  };
  Low lows_[kTimesKept] = {};
  unsigned lows_first_ = 0;
  unsigned lows_count_ = 0;

  // The last kept stamp.
  bool have_kept_ = false;
  int64_t kept_record_ = 0;
  int64_t kept_time_ = 0;
  // No stamp below this is kept: the last kept one, or
  // kFirstReplacementStamp once a record had to be given it.
  bool have_floor_ = false;
  int64_t floor_time_ = 0;
  // The last stamp given to a record.
  bool have_written_ = false;
  int64_t written_time_ = 0;
  // kFirstReplacementStamp as a time.
  int64_t no_stamp_time_ = 0;
  int64_t last_record_ = 0;

  // The cadence: the most common difference of the last kept stamps of
  // neighbouring records, and how often it occurs among them.
  int64_t differences_[kCadenceWindow] = {};
  int difference_count_ = 0;
  int difference_next_ = 0;
  int64_t last_difference_ = 0;
  int repeats_ = 0;  // how often it came in a row
  int64_t cadence_ = 0;
  int cadence_count_ = 0;
  bool regular_ = false;
};

}  // namespace kxcheck

#endif  // KXCHECK_CORE_STAMP_RESTORE_H_
