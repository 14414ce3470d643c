#include "core/stamp_restore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/stamp_time.h"

namespace {

using kxcheck::RestoreReason;
using kxcheck::StampFate;
using kxcheck::StampRestorer;

constexpr int kYear = 2026;

int64_t Time(const std::string& stamp) {
  int64_t t = 0;
  EXPECT_TRUE(kxcheck::ReadStampTime(stamp, kYear, t)) << stamp;
  return t;
}

std::string Text(int64_t time) {
  char out[19];
  kxcheck::WriteStampTime(time, out);
  return std::string(out, 19);
}

// `count` stamps from `first`, `step` seconds apart.
std::vector<std::string> Series(const std::string& first, int count, int step) {
  std::vector<std::string> stamps;
  for (int i = 0; i < count; ++i)
    stamps.push_back(Text(Time(first) + i * step));
  return stamps;
}

std::vector<std::string> With(std::vector<std::string> stamps,
                              const std::map<int, std::string>& changes) {
  for (const auto& [at, stamp] : changes) stamps[at] = stamp;
  return stamps;
}

// `stamps` with `count` records from index `first` holding `stamp`.
std::vector<std::string> WithRun(std::vector<std::string> stamps, int first,
                                 int count, const std::string& stamp) {
  std::fill_n(stamps.begin() + first, count, stamp);
  return stamps;
}

std::vector<std::string> Join(std::vector<std::string> a,
                              const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Output {
  std::vector<std::string> stamps;
  std::vector<RestoreReason> reasons;
  std::vector<StampFate> fates;
};

// Pushes the stamps as records 1, 2, ... (or the numbers given) and pops
// every ready stamp after each push, as the repair pass does.
Output Restore(const std::vector<std::string>& stamps,
               std::vector<int64_t> records = {}) {
  if (records.empty()) {
    for (size_t i = 0; i < stamps.size(); ++i) records.push_back(i + 1);
  }
  StampRestorer restorer(kYear);
  Output out;
  auto drain = [&] {
    while (restorer.Ready()) {
      const kxcheck::RestoredStamp& r = restorer.Front();
      EXPECT_EQ(r.record, records[out.stamps.size()]);
      EXPECT_EQ(r.original, stamps[out.stamps.size()]);
      out.stamps.emplace_back(r.Stamp());
      out.reasons.push_back(r.reason);
      out.fates.push_back(r.fate);
      restorer.Pop();
    }
  };
  for (size_t i = 0; i < stamps.size(); ++i) {
    restorer.Push(records[i], stamps[i]);
    drain();
  }
  restorer.Finish();
  drain();
  return out;
}

struct Case {
  const char* name;
  std::vector<std::string> in;
  std::vector<std::string> out = {};  // empty: the same as `in`
  // The reason of every restored stamp; the others are kept.
  std::map<int, RestoreReason> restored = {};
};

// The records at `indexes`, all restored for `reason`.
std::map<int, RestoreReason> Each(const std::vector<int>& indexes,
                                  RestoreReason reason) {
  std::map<int, RestoreReason> reasons;
  for (int i : indexes) reasons[i] = reason;
  return reasons;
}

// `count` records from index `first`, all restored for `reason`.
std::map<int, RestoreReason> EachOf(int first, int count,
                                    RestoreReason reason) {
  std::map<int, RestoreReason> reasons;
  for (int i = first; i < first + count; ++i) reasons[i] = reason;
  return reasons;
}

// A logger writing every 10 s, and the same with damage of every kind the
// rule tells apart.
TEST(StampRestorerTest, RestoresWhatDamageChangedAndKeepsTheRest) {
  const auto s = Series("2024-03-01 12:00:00", 120, 10);
  const auto long_s = Series("2024-03-01 12:00:00", 250, 10);
  // Every 5 s, give or take 2.
  const auto jittered = [] {
    std::vector<std::string> v;
    int64_t t = Time("2024-03-01 12:00:00");
    const int steps[] = {3, 7, 5, 4, 6, 7, 3, 5, 6, 4};
    for (int i = 0; i < 250; ++i) {
      v.push_back(Text(t));
      t += steps[i % 10];
    }
    return v;
  }();
  const std::string garbage = "\x9f\x12:\x01-\xff\xee 0x:\x07:?";
  const std::vector<std::string> garbage5(5, garbage);
  // Records 42 to 141 garbage, a run longer than the rule looks ahead in
  // records; record 41 a spike.
  auto long_run = [&](std::vector<std::string> v) {
    const int64_t spike = Time(v[40]) + 2400;
    v[40] = Text(spike);
    for (int i = 41; i <= 140; ++i) v[i] = garbage;
    return v;
  };
  using R = RestoreReason;
  std::map<int, R> long_run_reasons = EachOf(41, 100, R::kInvalid);
  long_run_reasons[40] = R::kSpike;

  const std::vector<Case> cases = {
      {.name = "clean series", .in = s},
      {.name = "spike: minute digit flipped up",
       .in = With(s, {{10, "2024-03-01 12:41:40"}}),
       .out = s,
       .restored = {{10, R::kSpike}}},
      // Near the start, before the cadence counts as regular, and later.
      {.name = "small spike: :10 read :50, below the next three",
       .in = With(s, {{7, "2024-03-01 12:01:50"}, {61, "2024-03-01 12:10:50"}}),
       .out = s,
       .restored = {{7, R::kSpike}, {61, R::kSpike}}},
      {.name = "small spike: one follower below, one equal",
       .in = With(s, {{7, "2024-03-01 12:01:30"}, {61, "2024-03-01 12:10:30"}}),
       .out = s,
       .restored = {{7, R::kSpike}, {61, R::kSpike}}},
      {.name = "dip: year flipped down",
       .in = With(s, {{30, "2014-03-01 12:05:00"}}),
       .out = s,
       .restored = {{30, R::kOutOfOrder}}},
      {.name = "zeroed time",
       .in = With(s, {{40, "2024-03-01 00:00:00"}}),
       .out = s,
       .restored = {{40, R::kOutOfOrder}}},
      {.name = "invalid fields: month 13, 31 April, month 0:, NUL, short",
       .in = With(s, {{20, "2024-13-01 12:03:20"},
                      {22, "2024-04-31 12:03:40"},
                      {24, "2024-0:-01 12:04:00"},
                      {26, std::string("2024-03-01 12:0\0:20", 19)},
                      {28, "2024-03-01 "}}),
       .out = s,
       .restored = Each({20, 22, 24, 26, 28}, R::kInvalid)},
      {.name = "flipped digit still in order: off the cadence",
       .in = With(s, {{50, "2024-03-01 12:08:24"}}),
       .out = s,
       .restored = {{50, R::kOffCadence}}},
      {.name = "wrong separators are put right, not restored",
       .in = With(s, {{5, "2024/03/01 12.00.50"}}),
       .out = s},
      {.name = "garbage run at the start takes the first kept stamp",
       .in = Join(garbage5, s),
       .out = Join(std::vector<std::string>(5, s[0]), s),
       .restored = EachOf(0, 5, R::kInvalid)},
      {.name = "garbage run in the middle follows the cadence",
       .in = WithRun(s, 60, 5, garbage),
       .out = s,
       .restored = EachOf(60, 5, R::kInvalid)},
      {.name = "garbage run at the end takes the last kept stamp",
       .in = Join(s, garbage5),
       .out = Join(s, std::vector<std::string>(5, s.back())),
       .restored = EachOf(120, 5, R::kInvalid)},
      {.name = "no real stamp at all",
       .in = garbage5,
       .out = std::vector<std::string>(5, "2000-01-01 00:00:00"),
       .restored = EachOf(0, 5, R::kInvalid)},
      {.name = "equal stamps are in order",
       .in = {"2024-03-01 12:00:00", "2024-03-01 12:00:00",
              "2024-03-01 12:00:10", "2024-03-01 12:00:10",
              "2024-03-01 12:00:10", "2024-03-01 12:00:20"}},
      {.name = "cadence changes from 10 s to 5 s",
       .in = Join(s, Series("2024-03-01 12:20:05", 60, 5))},
      {.name = "logger paused for an hour, off the old grid",
       .in = Join(s, Series("2024-03-01 13:20:03", 60, 10))},
      {.name = "damage right after a pause",
       .in = With(Join(s, Series("2024-03-01 13:20:03", 60, 10)),
                  {{121, "2024-03-01 13:20:53"}}),
       .out = Join(s, Series("2024-03-01 13:20:03", 60, 10)),
       .restored = {{121, R::kSpike}}},
      {.name = "spike before a long garbage run, regular cadence",
       .in = long_run(long_s),
       .out = long_s,
       .restored = long_run_reasons},
      {.name = "spike before a long garbage run, irregular series",
       .in = long_run(jittered),
       .out =
           [&] {
             // The spike is read back (one digit off: 12:43:20 for 12:03:20),
             // the run put on the line between its neighbours.
             std::vector<std::string> v = jittered;
             const int64_t left = Time(v[39]), right = Time(v[141]);
             for (int i = 41; i <= 140; ++i) {
               v[i] = Text(left + ((right - left) * (i - 39) * 2 + 102) / 204);
             }
             return v;
           }(),
       .restored = long_run_reasons},
      {.name = "irregular series: a flipped tens digit is read back",
       .in = With(jittered, {{40, "2024-03-01 12:03:40"}}),
       .out = jittered,
       .restored = {{40, R::kSpike}}},
      // 12:03:16, 12:03:20, 12:03:23, 12:03:30: the dip at :23, read :17,
      // lies between the two stamps before it, and loses to :20, which
      // lies on the line of its neighbours. It is then read back as :27,
      // the reading one digit away that lies between :20 and :30.
      {.name = "irregular series: a true stamp beats a dip after it",
       .in = With(jittered, {{41, "2024-03-01 12:03:17"}}),
       .out = With(jittered, {{41, "2024-03-01 12:03:27"}}),
       .restored = {{41, R::kOutOfOrder}}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string>& expected_out = c.out.empty() ? c.in : c.out;
    ASSERT_EQ(c.in.size(), expected_out.size());
    const Output out = Restore(c.in);
    ASSERT_EQ(out.stamps.size(), c.in.size());
    for (size_t i = 0; i < c.in.size(); ++i) {
      const auto expected = c.restored.find(static_cast<int>(i));
      const RestoreReason reason =
          expected == c.restored.end() ? R::kNone : expected->second;
      EXPECT_EQ(out.stamps[i], expected_out[i]) << "record " << i + 1;
      EXPECT_STREQ(kxcheck::RestoreReasonName(out.reasons[i]),
                   kxcheck::RestoreReasonName(reason))
          << "record " << i + 1;
    }
  }
}

TEST(StampRestorerTest, FatesSayHowAStampWasWritten) {
  const auto s = Series("2024-03-01 12:00:00", 40, 10);
  const Output out =
      Restore(With(s, {{5, "2024/03/01 12.00.50"}, {10, "garbage"}}));
  EXPECT_EQ(out.fates[4], StampFate::kKept);
  EXPECT_EQ(out.fates[5], StampFate::kSeparatorsPutRight);
  EXPECT_EQ(out.fates[10], StampFate::kRestored);
  EXPECT_EQ(out.reasons[5], RestoreReason::kNone);
}

// Records the pass skipped still take their place in the cadence.
TEST(StampRestorerTest, CadenceCountsRecordNumbersNotStamps) {
  std::vector<std::string> in;
  std::vector<int64_t> records;
  const int64_t start = Time("2024-03-01 12:00:00");
  for (int64_t n = 1; n <= 60; ++n) {
    if (n % 7 == 0) continue;  // left out by the pass
    in.push_back(n == 30 ? "2024-03-01 12:0?:50" : Text(start + n * 10));
    records.push_back(n);
  }
  const Output out = Restore(in, records);
  for (size_t i = 0; i < in.size(); ++i) {
    EXPECT_EQ(out.stamps[i], Text(start + records[i] * 10)) << records[i];
  }
}

// Whatever comes in, what comes out is real, in order, and keeps every
// stamp it calls kept; and the records waiting never pass kMaxPending.
TEST(StampRestorerTest, OutputIsRealAndInOrderAndMemoryIsBounded) {
  uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<uint32_t>(state >> 33);
  };
  StampRestorer restorer(kYear);
  int64_t t = Time("1995-06-01 00:00:00");
  std::string previous;
  int64_t popped = 0;
  size_t most_pending = 0;
  auto drain = [&] {
    while (restorer.Ready()) {
      const kxcheck::RestoredStamp& r = restorer.Front();
      const std::string stamp(r.Stamp());
      int64_t time;
      ASSERT_TRUE(kxcheck::ReadStampTime(stamp, kYear, time)) << stamp;
      ASSERT_GE(stamp, previous) << "record " << r.record;
      if (r.fate == StampFate::kKept) {
        ASSERT_EQ(stamp, r.original);
      }
      previous = stamp;
      ++popped;
      restorer.Pop();
    }
  };
  const int64_t total = 300000;
  for (int64_t n = 1; n <= total; ++n) {
    t += next() % 20;
    std::string stamp = Text(t);
    const uint32_t roll = next() % 1000;
    if (n > 100000 && n < 104000) {
      stamp = "garbage";  // a run longer than any wait
    } else if (roll < 20) {
      stamp[next() % 19] = static_cast<char>(next() % 256);
    } else if (roll < 25) {
      stamp = Text(t + static_cast<int64_t>(next() % 100000) - 50000);
    }
    restorer.Push(n, stamp);
    most_pending = std::max(most_pending, restorer.Pending());
    drain();
  }
  restorer.Finish();
  drain();
  EXPECT_EQ(popped, total);
  EXPECT_LE(most_pending, StampRestorer::kMaxPending);
}

TEST(StampRestorerTest, RefusesMisuse) {
  StampRestorer restorer(kYear);
  restorer.Push(5, "2024-03-01 12:00:00");
  EXPECT_THROW(restorer.Push(5, "2024-03-01 12:00:10"), std::invalid_argument);
  StampRestorer unpopped(kYear);
  EXPECT_THROW(
      {
        for (int64_t n = 1; n <= 100000; ++n) {
          unpopped.Push(n, "2024-03-01 12:00:00");
        }
      },
      std::length_error);
}

}  // namespace
