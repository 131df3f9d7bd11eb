#include "vlsys/vl_sched.h"

#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace {

int policy_of_this_thread() {
  int policy = -1;
  sched_param param{};
  pthread_getschedparam(pthread_self(), &policy, &param);
  return policy;
}

TEST(Sched, DiminishSetsTimeSharing) {
  std::thread t([] {
    vl_sched_diminish_thread();
    EXPECT_EQ(policy_of_this_thread(), SCHED_OTHER);
  });
  t.join();
}

TEST(Sched, BoostThenDiminishWhenPrivileged) {
  std::thread t([] {
    vltest::LogCapture capture;
    vl_sched_boost_thread();
    if (capture.contains("pthread_setschedparam error")) {
      EXPECT_EQ(policy_of_this_thread(), SCHED_OTHER);  // unprivileged: unchanged
      return;
    }
    int policy = -1;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
    EXPECT_EQ(policy, SCHED_RR);
    EXPECT_EQ(param.sched_priority, sched_get_priority_max(SCHED_RR));
    vl_sched_diminish_thread();
    EXPECT_EQ(policy_of_this_thread(), SCHED_OTHER);
  });
  t.join();
}

// Without the privilege for real-time scheduling the boosts only log. The
// privilege is dropped in a child process so the test process keeps its own.
bool boosts_only_log_without_privilege() {
  const rlimit zero = {0, 0};
  if (setrlimit(RLIMIT_RTPRIO, &zero) != 0) return false;
  if (geteuid() == 0 && setuid(65534) != 0) return false;
  vltest::LogCapture capture;
  vl_sched_boost_thread();
  vl_sched_boost_process();
  return capture.count("pthread_setschedparam error 1") == 1 &&
         capture.count("sched_setscheduler error 1") == 1 && policy_of_this_thread() == SCHED_OTHER;
}

TEST(Sched, FailedBoostOnlyLogs) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(boosts_only_log_without_privilege() ? 0 : 1), testing::ExitedWithCode(0), "");
}

}  // namespace
