#include "vlsys/vl_timer.h"

#include "vlsys/vl_condition.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_thread.h"
#include "vlsys/vl_time.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>

struct vl_timer {
  vl_timer_callback callback = nullptr;
  void* user_data = nullptr;
  timer_t timer_id{};
  vl_thread thread{};
  int32_t thread_id = 0;
  vl_mutex mutex{};
  vl_condition cond{};
  // Written by vl_timer_dtor to stop the thread. A wake-up signal could be
  // merged with a pending expiry and dropped with it when the timer is
  // deleted, so stopping uses a descriptor of its own.
  int stop_fd = -1;
};

namespace {

constexpr int timer_signal = SIGUSR1;

sigset_t timer_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, timer_signal);
  return set;
}

void* callback_thread(void* argument) {
  auto* timer = static_cast<vl_timer*>(argument);
  const sigset_t set = timer_signal_set();
  vl_mutex_lock(&timer->mutex);
  timer->thread_id = static_cast<int32_t>(syscall(SYS_gettid));
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  pthread_cond_signal(&timer->cond.handle);
  vl_mutex_unlock(&timer->mutex);

  const int signal_fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  // Non-blocking: a pending expiry vanishes when its timer is deleted.
  pollfd fds[2] = {{signal_fd, POLLIN, 0}, {timer->stop_fd, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) break;
    signalfd_siginfo info;
    if (read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info) &&
        static_cast<int>(info.ssi_signo) == timer_signal)
      timer->callback(timer->user_data);
  }
  close(signal_fd);
  return nullptr;
}

// The new thread starts with the signal already blocked, so that no expiry
// can reach it before its own mask is set.
bool start_callback_thread(vl_timer* timer) {
  const sigset_t set = timer_signal_set();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &set, &previous);
  const bool started = vl_thread_ctor(&timer->thread, callback_thread, "timer callback thread", timer);
  const int err = errno;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = err;
  return started;
}

bool wait_for_thread_id(vl_timer* timer) {
  int rc = 0;
  while (timer->thread_id == 0 && rc == 0)
    rc = pthread_cond_wait(&timer->cond.handle, &timer->mutex.handle);
  return rc == 0;
}

void stop_callback_thread(vl_timer* timer) {
  const uint64_t one = 1;
  if (write(timer->stop_fd, &one, sizeof one) != sizeof one) return;
  pthread_join(timer->thread.handle, nullptr);
}

bool create_posix_timer(vl_timer* timer, int clock) {
  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = timer_signal;
  event.sigev_value.sival_int = 0;
  event._sigev_un._tid = timer->thread_id;
  return timer_create(static_cast<clockid_t>(clock), &event, &timer->timer_id) == 0;
}

void release(vl_timer* timer) {
  close(timer->stop_fd);
  vl_condition_dtor(&timer->cond);
  vl_mutex_dtor(&timer->mutex);
  delete timer;
}

timespec to_timespec(uint64_t ns) {
  return {static_cast<time_t>(ns / vl_ns_per_second), static_cast<long>(ns % vl_ns_per_second)};
}

uint64_t to_ns(const timespec& ts) {
  return static_cast<uint64_t>(ts.tv_sec) * vl_ns_per_second + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace

vl_timer* vl_timer_ctor(int clock, vl_timer_callback callback, void* user_data) {
  if (!callback) {
    errno = EINVAL;
    return nullptr;
  }
  auto* timer = new (std::nothrow) vl_timer;
  if (!timer) return nullptr;
  timer->callback = callback;
  timer->user_data = user_data;
  timer->stop_fd = eventfd(0, EFD_CLOEXEC);
  if (timer->stop_fd < 0) {
    delete timer;
    return nullptr;
  }
  if (!vl_condition_ctor(&timer->cond)) {
    close(timer->stop_fd);
    delete timer;
    return nullptr;
  }
  if (!vl_mutex_ctor(&timer->mutex)) {
    vl_condition_dtor(&timer->cond);
    close(timer->stop_fd);
    delete timer;
    return nullptr;
  }
  vl_mutex_lock(&timer->mutex);
  if (!start_callback_thread(timer)) {
    vl_mutex_unlock(&timer->mutex);
    release(timer);
    return nullptr;
  }
  if (!wait_for_thread_id(timer)) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not find Thread id!");
    vl_mutex_unlock(&timer->mutex);
    stop_callback_thread(timer);
    release(timer);
    return nullptr;
  }
  vl_mutex_unlock(&timer->mutex);
  if (!create_posix_timer(timer, clock)) {
    const int err = errno;
    stop_callback_thread(timer);
    release(timer);
    errno = err;
    return nullptr;
  }
  return timer;
}

bool vl_timer_set(vl_timer* timer, uint64_t first_expiry_ns, uint64_t period_ns) {
  if (!timer) return false;
  itimerspec setting{};
  setting.it_value = to_timespec(first_expiry_ns);
  setting.it_interval = to_timespec(period_ns);
  return timer_settime(timer->timer_id, TIMER_ABSTIME, &setting, nullptr) == 0;
}

vl_timer_setting vl_timer_get(vl_timer* timer) {
  itimerspec setting{};
  if (!timer || timer_gettime(timer->timer_id, &setting) != 0) return {0, 0};
  return {to_ns(setting.it_value), to_ns(setting.it_interval)};
}

void vl_timer_dtor(vl_timer* timer) {
  if (!timer) return;
  if (timer_delete(timer->timer_id) != 0)
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "error deleting timer: %d", errno);
  stop_callback_thread(timer);
  release(timer);
}
