// Waiting for something another thread does, with a deadline instead of a
// fixed sleep:
//
//   ASSERT_TRUE(vltest::wait_until([&] { return calls.load() >= 5; }, 2s));
#pragma once

#include <chrono>
#include <thread>

namespace vltest {

// Polls `done` until it returns true or `timeout` has passed; true when it
// did. The last look comes after the deadline, so a slow machine that gets
// there just in time still passes.
template <typename Predicate>
bool wait_until(Predicate done, std::chrono::steady_clock::duration timeout,
                std::chrono::steady_clock::duration poll = std::chrono::milliseconds(1)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(poll);
  }
  return done();
}

}  // namespace vltest
