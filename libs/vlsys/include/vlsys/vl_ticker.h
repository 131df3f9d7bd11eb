// Periodic callbacks that share threads: the callbacks of one clock, period
// and phase are spread over a few threads, at most one per usable CPU, each
// calling its share one after the other, so that many streams paced by one
// period cost a few wake-ups per period instead of one thread each, and are
// not all served by one core.
//
// Threads and ownership: a process-wide registry owns the groups ("lanes")
// of each clock, period and phase, and each lane owns its thread ("timer
// callback thread"), started with the lane's first entry and joined when its
// last entry is removed. A new entry opens a new lane until there are as
// many as usable CPUs, and then joins the lane with the fewest entries. The
// thread raises itself to real-time priority where that is permitted and sleeps
// until the next instant on the grid; adding, removing and stopping wake it. A
// group's callbacks run with the group's lock held, so an entry is never called
// concurrently with itself and its removal waits for a call in progress. The
// caller owns an entry from add to remove.
#pragma once

#include "vlsys/vl_timer.h"

#include <cstddef>
#include <cstdint>

struct vl_ticker_entry;

// Calls callback(user_data) once at once, then on every instant
// phase_ns + k * period_ns of `clock` (vl_clock_realtime or
// vl_clock_monotonic). Expiries that pass while the thread is busy are
// merged; when the thread cannot keep up, into the next instant, so that
// it still sleeps between ticks.
// Each tick starts with the next entry in turn, so that no entry is always
// served last. Null with errno on failure (EINVAL for a null callback or a
// zero period).
vl_ticker_entry* vl_ticker_add(int clock, uint64_t phase_ns, uint64_t period_ns, vl_timer_callback callback,
                               void* user_data);

// Puts the entry on the grid of another phase and period; the next call
// comes at once. False with errno when the new group cannot be started (the
// entry then stays where it was).
bool vl_ticker_move(vl_ticker_entry* entry, uint64_t phase_ns, uint64_t period_ns);

// Removes and frees the entry: when it returns, its callback runs no more.
// Must not be called from a ticker's callback.
void vl_ticker_remove(vl_ticker_entry* entry);

// The most lanes one grid has: the usable CPUs, at most this many.
constexpr size_t vl_ticker_lanes_limit = 16;
size_t vl_ticker_lanes();

// Sets the most lanes of a grid (at most the limit; 0: one per usable CPU)
// for entries added later; returns the setting it replaces.
size_t vl_ticker_set_lanes(size_t count);
