#include "vlsys/vl_ticker.h"

#include "vlsys/vl_time.h"
#include "vltest/ticker_lanes.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr uint64_t ms = 1000000ULL;

// What one entry saw: when it was called and on which thread.
struct Calls {
  std::mutex mutex;
  std::vector<uint64_t> times;
  std::vector<long> threads;
  std::chrono::milliseconds work{0};

  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return times.size();
  }
  bool reaches(size_t n) {
    return vltest::wait_until([&] { return count() >= n; }, 5s);
  }
};

void record(void* data) {
  auto* c = static_cast<Calls*>(data);
  const uint64_t now = vl_realtime_ns();
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    c->times.push_back(now);
    c->threads.push_back(syscall(SYS_gettid));
  }
  if (c->work.count() > 0) std::this_thread::sleep_for(c->work);
}

uint64_t median(std::vector<uint64_t> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

TEST(Ticker, RefusesWhatCouldNeverTick) {
  Calls c;
  errno = 0;
  EXPECT_EQ(vl_ticker_add(vl_clock_realtime, 0, 0, record, &c), nullptr);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(vl_ticker_add(vl_clock_realtime, 0, ms, nullptr, &c), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

// The first call does not wait for the grid: the next instant on it is 5 s
// away.
TEST(Ticker, FirstCallComesAtOnce) {
  constexpr uint64_t period = 10000 * ms;
  Calls c;
  const uint64_t added = vl_realtime_ns();
  vl_ticker_entry* entry = vl_ticker_add(vl_clock_realtime, added + 5000 * ms, period, record, &c);
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(c.reaches(1));
  vl_ticker_remove(entry);
  EXPECT_LT(c.times[0] - added, 1000 * ms);
}

// After the first call, the calls come on the instants phase + k * period.
TEST(Ticker, CallsComeOnTheGrid) {
  constexpr uint64_t period = 10 * ms;
  constexpr uint64_t phase = 3 * ms;
  Calls c;
  vl_ticker_entry* entry = vl_ticker_add(vl_clock_realtime, phase, period, record, &c);
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(c.reaches(21));
  vl_ticker_remove(entry);
  std::vector<uint64_t> offsets;
  for (size_t i = 1; i < 21; ++i) offsets.push_back((c.times[i] + period - phase) % period);
  EXPECT_LT(median(offsets), 1 * ms);
}

// Entries of one period and phase are spread over the lanes, a new lane
// each until the most are open, then the least busy; another phase has
// lanes of its own.
TEST(Ticker, OnePeriodAndPhaseSpreadOverTheLanes) {
  const vltest::TickerLanes lanes(2);
  Calls a, b, c, other;
  vl_ticker_entry* ea = vl_ticker_add(vl_clock_monotonic, 0, 2 * ms, record, &a);
  vl_ticker_entry* eb = vl_ticker_add(vl_clock_monotonic, 2 * ms, 2 * ms, record, &b);  // the same phase
  vl_ticker_entry* ec = vl_ticker_add(vl_clock_monotonic, 0, 2 * ms, record, &c);
  vl_ticker_entry* eo = vl_ticker_add(vl_clock_monotonic, 1 * ms, 2 * ms, record, &other);
  for (vl_ticker_entry* e : {ea, eb, ec, eo}) ASSERT_NE(e, nullptr);
  EXPECT_TRUE(a.reaches(5) && b.reaches(5) && c.reaches(5) && other.reaches(5));
  for (vl_ticker_entry* e : {ea, eb, ec, eo}) vl_ticker_remove(e);
  const long ta = a.threads.back(), tb = b.threads.back(), tc = c.threads.back(), to = other.threads.back();
  EXPECT_NE(ta, tb);
  EXPECT_TRUE(tc == ta || tc == tb);
  EXPECT_TRUE(to != ta && to != tb);
}

// Each tick starts with the next entry: every entry comes first in turn.
TEST(Ticker, OrderRotatesFromTickToTick) {
  const vltest::TickerLanes one_lane(1);
  struct Log {
    std::mutex mutex;
    std::vector<std::pair<uint64_t, int>> calls;  // time, entry
  } log;
  struct Entry {
    Log* log;
    int id;
  } ids[3] = {{&log, 0}, {&log, 1}, {&log, 2}};
  auto note = [](void* data) {
    auto* e = static_cast<Entry*>(data);
    std::lock_guard<std::mutex> lock(e->log->mutex);
    e->log->calls.emplace_back(vl_system_clock(), e->id);
  };
  std::vector<vl_ticker_entry*> entries;
  for (Entry& e : ids) {
    entries.push_back(vl_ticker_add(vl_clock_monotonic, 0, 5 * ms, note, &e));
    ASSERT_NE(entries.back(), nullptr);
  }
  auto count = [&] {
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.calls.size();
  };
  EXPECT_TRUE(vltest::wait_until([&] { return count() >= 3 * 15; }, 5s));
  for (vl_ticker_entry* e : entries) vl_ticker_remove(e);
  // The calls of one tick come back to back, ticks 5 ms apart.
  int firsts[3] = {0, 0, 0};
  size_t tick_start = 0;
  for (size_t i = 1; i <= log.calls.size(); ++i) {
    if (i < log.calls.size() && log.calls[i].first - log.calls[i - 1].first < 2 * ms) continue;
    if (i - tick_start == 3) ++firsts[log.calls[tick_start].second];
    tick_start = i;
  }
  for (int f : firsts) EXPECT_GE(f, 2);
}

TEST(Ticker, NoCallAfterRemovalAndRemovalIsPrompt) {
  Calls removed, witness;
  removed.work = 2ms;
  vl_ticker_entry* entry = vl_ticker_add(vl_clock_monotonic, 0, 1 * ms, record, &removed);
  vl_ticker_entry* going_on = vl_ticker_add(vl_clock_monotonic, 0, 1 * ms, record, &witness);
  ASSERT_NE(entry, nullptr);
  ASSERT_NE(going_on, nullptr);
  ASSERT_TRUE(removed.reaches(3));
  vl_ticker_remove(entry);
  const size_t calls = removed.count();
  const size_t seen = witness.count();
  EXPECT_TRUE(witness.reaches(seen + 5));
  vl_ticker_remove(going_on);
  EXPECT_EQ(removed.count(), calls);
}

// Removal does not wait for the next instant on the grid, 30 s away.
TEST(Ticker, RemovalNeedsNoFurtherTick) {
  Calls c;
  vl_ticker_entry* entry = vl_ticker_add(vl_clock_realtime, 0, 30000 * ms, record, &c);
  ASSERT_NE(entry, nullptr);
  ASSERT_TRUE(c.reaches(1));
  const auto started = std::chrono::steady_clock::now();
  vl_ticker_remove(entry);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  EXPECT_EQ(c.count(), 1u);
}

// A callback slower than the period gets the expiries it missed merged,
// never a burst of calls; it is caught up once at once, then the thread
// sleeps to the next instant instead of calling back to back for ever.
TEST(Ticker, MissedExpiriesAreMergedAndAnOverloadedThreadStillSleeps) {
  Calls c;
  c.work = 3ms;
  vl_ticker_entry* entry = vl_ticker_add(vl_clock_monotonic, 0, 2 * ms, record, &c);
  ASSERT_NE(entry, nullptr);
  ASSERT_TRUE(c.reaches(21));
  vl_ticker_remove(entry);
  size_t rests = 0;  // pauses of at least 1 ms between the end of a call and the next
  for (size_t i = 1; i < 21; ++i) {
    const uint64_t gap = c.times[i] - c.times[i - 1];
    if (i > 1) {
      EXPECT_GE(gap, 3 * ms) << "call " << i;
    }
    if (gap >= 4 * ms) ++rests;
  }
  EXPECT_GE(rests, 7u);
}

TEST(Ticker, MovedEntryTicksInItsNewPhase) {
  constexpr uint64_t period = 10 * ms;
  Calls c;
  vl_ticker_entry* entry = vl_ticker_add(vl_clock_realtime, 0, period, record, &c);
  ASSERT_NE(entry, nullptr);
  ASSERT_TRUE(c.reaches(2));
  ASSERT_TRUE(vl_ticker_move(entry, 4 * ms, period));
  const size_t moved_at = c.count();
  EXPECT_TRUE(c.reaches(moved_at + 12));
  vl_ticker_remove(entry);
  std::vector<uint64_t> offsets;
  // The first call after the move comes at once; the rest keep the new phase.
  for (size_t i = moved_at + 1; i < c.times.size(); ++i) offsets.push_back((c.times[i] + period - 4 * ms) % period);
  EXPECT_LT(median(offsets), 1 * ms);
}

}  // namespace
