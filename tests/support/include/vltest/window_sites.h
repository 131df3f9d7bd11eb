// The message sites of the capture and play window wrappers are process-wide
// and write at most once a second. A test that counts their messages holds a
// WindowSites for its whole run (declare it first): it starts once the second
// after the previous holder in this process is over, so such tests pass one
// per process, as CTest runs them, and all in one process alike.
//
//   class PlayWindow : public ::testing::Test {
//     vltest::WindowSites sites_;
//     vltest::LogCapture log_;
//     ...
#pragma once

#include <chrono>
#include <thread>

namespace vltest {

class WindowSites {
 public:
  WindowSites() { std::this_thread::sleep_until(free_at()); }
  // A little over the second: the limit reads the real-time clock.
  ~WindowSites() { free_at() = std::chrono::steady_clock::now() + std::chrono::milliseconds(1010); }
  WindowSites(const WindowSites&) = delete;
  WindowSites& operator=(const WindowSites&) = delete;

 private:
  static std::chrono::steady_clock::time_point& free_at() {
    static std::chrono::steady_clock::time_point at{};
    return at;
  }
};

}  // namespace vltest
