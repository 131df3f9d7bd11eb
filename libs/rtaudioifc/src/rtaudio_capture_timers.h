// The capture interface's periodic timers of the RtAudio driver and the
// thread "rtaudio_capture" that fires them, paced by the driver's timeline:
// it sleeps until the first timer is due and calls it with C and the PTP
// time of C, holding no lock. Timers fire on time even when the audio
// callbacks stop (the audio server or the device gone); the thread then
// reports the stall once, and the resumption.
#pragma once

#include "rtaudio_timeline.h"

#include "vl/vl_capture_ifc.h"
#include "vlsys/vl_condition.h"
#include "vlsys/vl_mutex.h"
#include "vlsys/vl_thread.h"

#include <cstdint>
#include <list>

class VlCaptureTimers {
 public:
  explicit VlCaptureTimers(VlAudioTimeline& timeline);
  // Stops the thread; timers still set are dropped.
  ~VlCaptureTimers();
  VlCaptureTimers(const VlCaptureTimers&) = delete;
  VlCaptureTimers& operator=(const VlCaptureTimers&) = delete;

  // Starts the thread; false with errno.
  bool start();
  // Wakes the thread and joins it. Idempotent.
  void stop();

  VlTimerHandle set(uint32_t start_ts, uint32_t* interval, vl_capture_timer_callback callback, void* user);
  // Returns once no callback of the timer runs or will run. Called from the
  // timer's own callback it returns at once; the thread drops the timer when
  // that callback is done.
  bool remove(VlTimerHandle handle);

 private:
  struct Timer {
    uint32_t id;
    uint32_t interval;  // frames
    uint32_t due;       // media timestamp
    vl_capture_timer_callback callback;
    void* user;
    bool removing;
  };

  static void* thread_main(void* self);
  void run();
  bool wait_until_due(const Timer& timer);
  void fire(Timer& timer);
  void release_held();
  void insert_by_due(std::list<Timer>& from, std::list<Timer>::iterator timer);
  bool held(uint32_t id) const;
  bool on_capture_thread() const;
  void watch_callbacks();

  VlAudioTimeline& timeline_;
  vl_mutex mutex_;            // the timer lock: everything below
  vl_condition wake_;         // a timer was set or removed, or the thread is to stop
  vl_condition released_;     // the thread let go of the timer it held
  std::list<Timer> queue_;    // by due timestamp, modulo 2^32
  std::list<Timer> held_;     // the one the thread is waiting for or firing
  uint32_t next_id_ = 0;
  bool stopping_ = false;
  bool running_ = false;      // the thread is between start and its end
  bool joinable_ = false;
  vl_thread thread_{};

  // The capture thread's view of the callbacks: C when last seen moving.
  uint32_t watched_ts_ = 0;
  uint64_t unchanged_since_ns_ = 0;
  bool stall_reported_ = false;
};

// Callbacks that leave C where it was this long count as stopped.
inline constexpr uint64_t vl_rtaudio_stall_ns = 500000000ULL;
