// Keep-alive times from the environment.
#include "vlipc/vl_ipc_keepalive.h"

#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(IpcKeepalive, EnvironmentOverridesOnlyWhenWellFormed) {
  vltest::LogCapture log;
  struct Case {
    const char* value;  // null: unset
    int idle_s, interval_s, count;
  };
  const Case cases[] = {
      {nullptr, 60, 10, 3}, {"1,2,3", 1, 2, 3},  {"0,1,1", 60, 10, 3},   {"1,1", 60, 10, 3},
      {"1,1,128", 60, 10, 3}, {"1, 1,1", 60, 10, 3}, {"-1,1,1", 60, 10, 3}, {"32767,32767,127", 32767, 32767, 127},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "unset");
    if (c.value)
      setenv(vl_ipc_keepalive_env, c.value, 1);
    else
      unsetenv(vl_ipc_keepalive_env);
    const vl_ipc_keepalive times = vl_ipc_keepalive_from_env();
    EXPECT_EQ(times.idle_s, c.idle_s);
    EXPECT_EQ(times.interval_s, c.interval_s);
    EXPECT_EQ(times.count, c.count);
  }
  unsetenv(vl_ipc_keepalive_env);
}

}  // namespace
