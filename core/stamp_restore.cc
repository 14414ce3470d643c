#include "core/stamp_restore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "core/stamp.h"
#include "core/stamp_time.h"

namespace kxcheck {

namespace {

__extension__ using Wide = __int128;

// Where the digits of a stamp are.
constexpr int kDigitPositions[14] = {0, 1,  2,  3,  5,  6,  8,
                                     9, 11, 12, 14, 15, 17, 18};

// a / b rounded to the nearest, halves up; a >= 0, b > 0.
int64_t RoundedQuotient(Wide a, int64_t b) {
  return static_cast<int64_t>((2 * a + b) / (2 * static_cast<Wide>(b)));
}

void PutSeparators(char* stamp) {
  stamp[4] = '-';
  stamp[7] = '-';
  stamp[10] = ' ';
  stamp[13] = ':';
  stamp[16] = ':';
}

// The reading of a damaged stamp that differs from it in one digit (its
// separators put right), is a real time from `low` to `high` and lies
// nearest `target`. False when there is none.
//
// Stamps written the same way order as their times do, so a reading within
// the range shares the characters that the stamps of `low` and `high` have
// in common: one wrong among those, or one character that is not a digit,
// is the only one that may change.
bool NearestOneDigitReading(std::string_view damaged, int64_t low, int64_t high,
                            int64_t target, int current_year, int64_t& best) {
  if (damaged.size() != 19) return false;
  char reading[19];
  std::memcpy(reading, damaged.data(), 19);
  PutSeparators(reading);
  char low_text[19], high_text[19];
  WriteStampTime(low, low_text);
  WriteStampTime(high, high_text);
  int common = 0;
  while (common < 19 && low_text[common] == high_text[common]) ++common;

  int must_change = -1;
  for (int p : kDigitPositions) {
    const bool digit = reading[p] >= '0' && reading[p] <= '9';
    if (!digit || (p < common && reading[p] != low_text[p])) {
      if (must_change >= 0) return false;
      must_change = p;
    }
  }

  bool found = false;
  auto try_position = [&](int p) {
    const char was = reading[p];
    for (char d = '0'; d <= '9'; ++d) {
      if (d == was) continue;
      reading[p] = d;
      int64_t time;
      if (ReadStampTime({reading, 19}, current_year, time) && time >= low &&
          time <= high &&
          (!found || std::llabs(time - target) < std::llabs(best - target))) {
        best = time;
        found = true;
      }
    }
    reading[p] = was;
  };
  if (must_change >= 0) {
    try_position(must_change);
  } else {
    for (int p : kDigitPositions) {
      if (p >= common) try_position(p);
    }
  }
  return found;
}

// The length of the longest non-decreasing run of the followers' times that
// are `low` or above.
template <class Point>
int LongestRun(const Point* followers, int count, int64_t low) {
  int64_t tails[32];
  int length = 0;
  for (int i = 0; i < count; ++i) {
    const int64_t t = followers[i].time;
    if (t < low) continue;
    const int at =
        static_cast<int>(std::upper_bound(tails, tails + length, t) - tails);
    tails[at] = t;
    if (at == length) ++length;
  }
  return length;
}

}  // namespace

const char* RestoreReasonName(RestoreReason reason) {
  static constexpr const char* kNames[] = {"", "invalid", "out of order",
                                           "spike", "off cadence"};
  return kNames[static_cast<size_t>(reason)];
}

StampRestorer::StampRestorer(int current_year)
    : current_year_(current_year), reader_(current_year) {
  static_assert(kFollowers <= 32, "LongestRun keeps 32 times");
  static_assert(kTimesKept > kFollowers && (kTimesKept & (kTimesKept - 1)) == 0,
                "kTimesKept is a power of two above kFollowers");
  size_t capacity = 1;
  while (capacity < kMaxPending) capacity *= 2;
  points_.resize(capacity);
  entries_.resize(capacity);
  mask_ = capacity - 1;
  ReadStampTime(kFirstReplacementStamp, std::numeric_limits<int>::max(),
                no_stamp_time_);
}

void StampRestorer::Push(int64_t record, std::string_view stamp) {
  if (finished_) throw std::logic_error("StampRestorer: Push after Finish");
  if (Pending() >= kMaxPending) {
    throw std::length_error("StampRestorer: too many stamps not popped");
  }
  if (pushed_ != 0 && record <= last_record_) {
    throw std::invalid_argument("StampRestorer: record numbers must rise");
  }
  last_record_ = record;
  Entry& entry = At(pushed_);
  entry.out.record = record;
  if (stamp.size() == sizeof entry.original) {
    std::memcpy(entry.original, stamp.data(), sizeof entry.original);
    entry.out.original = {entry.original, sizeof entry.original};
  } else {
    entry.long_original.assign(stamp);
    entry.out.original = entry.long_original;
  }
  entry.out.fate = StampFate::kKept;
  entry.out.reason = RestoreReason::kNone;
  Point& point = points_[pushed_ & mask_];
  point.record = record;
  point.followers_low = kNotATime;
  if (reader_.Read(stamp, point.time)) {
    AddToFollowersLow(pushed_, point.time);
  } else {
    point.time = kNotATime;
  }
  ++pushed_;

  // A real stamp is judged once its followers have come (or kLookAhead
  // records, whichever is first); the others need not wait.
  while (decided_ < pushed_) {
    const Point& next = PointAt(decided_);
    if (next.time != kNotATime && next.followers_low == kNotATime &&
        pushed_ - decided_ <= kLookAhead) {
      break;
    }
    Decide(decided_++);
  }
  // A long run without a keepable stamp: the oldest waiting record takes
  // the last kept stamp, which no stamp kept later is below.
  while (decided_ - final_ > kMaxWaiting) {
    if (!have_kept_) {
      have_floor_ = true;
      floor_time_ = std::max(floor_time_, no_stamp_time_);
    }
    WriteRestored(At(final_), have_kept_ ? kept_time_ : no_stamp_time_);
    ++final_;
  }
}

void StampRestorer::Finish() {
  finished_ = true;
  while (decided_ < pushed_) Decide(decided_++);
  FillWaiting(decided_, nullptr);
}

void StampRestorer::Decide(uint64_t index) {
  const Point& point = PointAt(index);
  RestoreReason reason = RestoreReason::kNone;
  if (point.time == kNotATime) {
    reason = RestoreReason::kInvalid;
  } else if (have_floor_ && point.time < floor_time_) {
    reason = RestoreReason::kOutOfOrder;
  } else if (Keepable(point, index, reason)) {
    Keep(index);
    return;
  }
  // It waits in [final_, decided_) for the next kept stamp.
  Entry& entry = At(index);
  entry.out.fate = StampFate::kRestored;
  entry.out.reason = reason;
}

bool StampRestorer::Keepable(const Point& point, uint64_t index,
                             RestoreReason& reason) {
  // On the grid of the last kept stamp: damage does not land there.
  if (regular_ &&
      point.time == kept_time_ + (point.record - kept_record_) * cadence_) {
    return true;
  }

  // A follower that keeping this stamp would put out of order: its rival.
  // Most stamps have none, which their followers' lowest time shows, or
  // else (a follower below the last kept stamp) a look at them.
  const int64_t floor = have_floor_ ? floor_time_ : kNotATime;
  if (!regular_ && (point.followers_low >= point.time ||
                    !HasRival(index, point.time, floor))) {
    return true;
  }
  Point followers[kFollowers];
  const int count = GatherFollowers(index, followers);
  int rival = 0;
  while (rival < count && !(followers[rival].time < point.time &&
                            followers[rival].time >= floor)) {
    ++rival;
  }
  if (rival == count) {
    if (!regular_) return true;
    rival = -1;
  }
  if (rival >= 0) {
    const int with = 1 + LongestRun(followers, count, point.time);
    const int without = LongestRun(followers, count, floor);
    // One stamp against another: on a regular cadence the grid decides,
    // otherwise the one nearer its neighbours' line.
    if (with < without ||
        (with == without &&
         !(regular_ ? OnFollowersGrid(point, followers, count)
                    : FitsBetterThan(point, followers, count, rival)))) {
      reason = RestoreReason::kSpike;
      return false;
    }
    if (with == without) return true;
  }
  if (regular_ && !OnFollowersGrid(point, followers, count)) {
    reason = RestoreReason::kOffCadence;
    return false;
  }
  return true;
}

bool StampRestorer::HasRival(uint64_t index, int64_t time,
                             int64_t floor) const {
  int seen = 0;
  for (uint64_t i = index + 1; i < pushed_ && seen < kFollowers; ++i) {
    const int64_t t = PointAt(i).time;
    if (t == kNotATime) continue;
    if (t < time && t >= floor) return true;
    ++seen;
  }
  return false;
}

int StampRestorer::GatherFollowers(uint64_t index, Point* followers) const {
  int count = 0;
  for (uint64_t i = index + 1; i < pushed_ && count < kFollowers; ++i) {
    const Point& p = PointAt(i);
    if (p.time != kNotATime) followers[count++] = p;
  }
  return count;
}

// Whether two of the first few followers lie on one grid with the stamp: a
// logger that paused, was set, or changed its cadence. With one follower
// only, it must lie on the stamp's grid at the present cadence.
bool StampRestorer::OnFollowersGrid(const Point& point, const Point* followers,
                                    int count) const {
  if (count == 0) return false;
  if (count == 1) {
    return followers[0].time - point.time ==
           (followers[0].record - point.record) * cadence_;
  }
  const int first = std::min(count, 4);
  for (int j = 0; j < first; ++j) {
    const int64_t rise = followers[j].time - point.time;
    const int64_t run = followers[j].record - point.record;
    if (rise <= 0 || rise % run != 0) continue;
    const int64_t step = rise / run;
    for (int k = j + 1; k < first; ++k) {
      if (followers[k].time - point.time ==
          (followers[k].record - point.record) * step) {
        return true;
      }
    }
  }
  return false;
}

// Whether the stamp lies at least as near as its rival (a follower below it)
// to the line from the last kept stamp to the first follower above both.
bool StampRestorer::FitsBetterThan(const Point& point, const Point* followers,
                                   int count, int rival) const {
  if (!have_kept_) return true;
  int after = rival + 1;
  while (after < count && followers[after].time < point.time) ++after;
  if (after == count) return true;
  const Point& right = followers[after];
  const double slope = static_cast<double>(right.time - kept_time_) /
                       static_cast<double>(right.record - kept_record_);
  auto distance = [&](int64_t record, int64_t time) {
    return std::abs(static_cast<double>(time - kept_time_) -
                    slope * static_cast<double>(record - kept_record_));
  };
  return distance(point.record, point.time) <=
         distance(followers[rival].record, followers[rival].time);
}

void StampRestorer::Keep(uint64_t index) {
  const Point& point = PointAt(index);
  if (final_ != index) FillWaiting(index, &point);
  Entry& entry = At(index);
  std::memcpy(entry.out.stamp, entry.original, 19);
  if (HasStampSeparators(entry.out.original)) {
    entry.out.fate = StampFate::kKept;
  } else {
    PutSeparators(entry.out.stamp);
    entry.out.fate = StampFate::kSeparatorsPutRight;
  }
  entry.out.reason = RestoreReason::kNone;

  if (have_kept_ && point.record == kept_record_ + 1) {
    AddCadence(point.time - kept_time_);
  }
  have_kept_ = true;
  kept_record_ = point.record;
  kept_time_ = point.time;
  have_floor_ = true;
  floor_time_ = point.time;
  have_written_ = true;
  written_time_ = point.time;
  final_ = index + 1;
}

void StampRestorer::FillWaiting(uint64_t end, const Point* right) {
  for (uint64_t i = final_; i < end; ++i) {
    Entry& entry = At(i);
    int64_t time;
    if (right != nullptr && have_kept_) {
      const int64_t low = have_written_ ? written_time_ : kept_time_;
      const int64_t high = right->time;
      const int64_t span = right->record - kept_record_;
      const int64_t position = entry.out.record - kept_record_;
      if (regular_ && high - kept_time_ == span * cadence_) {
        time = kept_time_ + position * cadence_;
      } else {
        const int64_t line =
            kept_time_ +
            RoundedQuotient(static_cast<Wide>(high - kept_time_) * position,
                            span);
        if (!NearestOneDigitReading(entry.out.original, low, high, line,
                                    current_year_, time)) {
          time = line;
        }
      }
      time = std::clamp(time, low, high);
    } else if (right != nullptr) {
      time = right->time;
    } else if (have_kept_) {
      time = kept_time_;
    } else {
      time = no_stamp_time_;
    }
    WriteRestored(entry, time);
  }
  final_ = end;
}

void StampRestorer::WriteRestored(Entry& entry, int64_t time) {
  WriteStampTime(time, entry.out.stamp);
  have_written_ = true;
  written_time_ = time;
}

// The lowest of a sliding window of kFollowers real times, kept as the
// times that no later time in the window is below. When the window is full,
// its lowest time is the followers_low of the real time before it.
void StampRestorer::AddToFollowersLow(uint64_t index, int64_t time) {
  constexpr unsigned kMask = kTimesKept - 1;
  const uint64_t seen = times_seen_++;
  time_positions_[seen & kMask] = index;
  while (lows_count_ > 0 &&
         lows_[(lows_first_ + lows_count_ - 1) & kMask].time >= time) {
    --lows_count_;
  }
  lows_[(lows_first_ + lows_count_) & kMask] = {seen, time};
  ++lows_count_;
  if (lows_[lows_first_].seen + kFollowers <= seen) {
    lows_first_ = (lows_first_ + 1) & kMask;
    --lows_count_;
  }
  if (seen < kFollowers) return;
  const uint64_t before = time_positions_[(seen - kFollowers) & kMask];
  // Only while it waits to be judged is the record still in its place.
  if (before >= decided_) {
    points_[before & mask_].followers_low = lows_[lows_first_].time;
  }
}

void StampRestorer::AddCadence(int64_t difference) {
  // Counted without branches: in a series of random steps, whether a
  // difference is the cadence cannot be foreseen.
  if (difference_count_ == kCadenceWindow) {
    cadence_count_ -= differences_[difference_next_] == cadence_;
  } else {
    ++difference_count_;
  }
  differences_[difference_next_] = difference;
  difference_next_ = (difference_next_ + 1) % kCadenceWindow;
  cadence_count_ += difference == cadence_;
  repeats_ = (difference == last_difference_) * repeats_ + 1;
  // A difference that repeats may be taking over: a new cadence. (One that
  // does not repeat never makes seven in eight.)
  if (repeats_ >= 3) {
    if (difference != cadence_) {
      const int count = static_cast<int>(std::count(
          differences_, differences_ + difference_count_, difference));
      if (count > cadence_count_) {
        cadence_ = difference;
        cadence_count_ = count;
      }
    }
  }
  last_difference_ = difference;
  regular_ = difference_count_ >= kCadenceLeast && cadence_ > 0 &&
             cadence_count_ * 8 >= difference_count_ * 7;
}

}  // namespace kxcheck
