#include "vlsys/log4c_sendlog.h"
#include "vlsys/log4c_thread.h"
#include "vlsys/log4c_velanto_layout.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_log_ratelimit.h"
#include "vlsys/vl_thread.h"
#include "vltest/log_capture.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A logging event as log4c hands it to a layout, with its own 4096-byte buffer.
struct Event {
  explicit Event(const char* message, const log4c_location_info_t* location = nullptr,
                 int priority = VL_LOG_ERROR) {
    event.evt_category = "velanto.test";
    event.evt_priority = priority;
    event.evt_msg = message;
    event.evt_rendered_msg = nullptr;
    event.evt_buffer = {sizeof buffer, sizeof buffer, buffer};
    event.evt_timestamp = {1700000000, 123456};  // 2023-11-14 22:13:20.123 UTC
    event.evt_loc = location;
  }
  char buffer[vl_log_buffer_size] = {};
  log4c_logging_event_t event{};
};

std::string in_thread(const char* name, const char* (*format)(const log4c_layout_t*, const log4c_logging_event_t*),
                      Event& e) {
  std::string out;
  std::thread t([&] {
    if (name) log4c_thread_setname(name);
    out = format(nullptr, &e.event);
  });
  t.join();
  return out;
}

TEST(VelantoLayout, WithLocationShowsBaseNameAndLine) {
  const log4c_location_info_t location = {"/src/libs/vl/src/vl_stream.cpp", 42, nullptr, nullptr};
  Event e("stream added", &location);
  EXPECT_EQ(in_thread("select_reactor", velanto_format, e),
            "select_reactor velanto.test vl_stream.cpp:42 stream added\n");
}

TEST(VelantoLayout, WithoutLocation) {
  Event e("hello");
  EXPECT_EQ(in_thread("main", velanto_format, e), "main velanto.test hello\n");
}

TEST(VelantoLayout, PathWithoutSlashIsShownWhole) {
  const log4c_location_info_t location = {"plain.cpp", 7, nullptr, nullptr};
  Event e("m", &location);
  EXPECT_EQ(in_thread("t", velanto_format, e), "t velanto.test plain.cpp:7 m\n");
}

TEST(VelantoLayout, UnnamedThreadShowsHexThreadId) {
  Event e("m");
  std::string expected;
  std::string out;
  std::thread t([&] {
    char id[32];
    std::snprintf(id, sizeof id, "Th%X", static_cast<unsigned>(static_cast<uint32_t>(pthread_self())));
    expected = std::string(id) + " velanto.test m\n";
    out = velanto_format(nullptr, &e.event);
  });
  t.join();
  EXPECT_EQ(out, expected);
  EXPECT_TRUE(std::regex_match(out, std::regex("Th[0-9A-F]+ velanto.test m\n")));
}

TEST(VelantoLayout, ThreadNameIsCutTo31) {
  const std::string long_name(200, 'n');
  Event e("m");
  EXPECT_EQ(in_thread(long_name.c_str(), velanto_format, e), std::string(31, 'n') + " velanto.test m\n");
}

TEST(VelantoLayout, LongLineIsCutAndStillEndsInNewline) {
  const std::string message(5000, 'x');
  Event e(message.c_str());
  const std::string out = in_thread("t", velanto_format, e);
  EXPECT_EQ(out.size(), vl_log_buffer_size - 1);
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(out.substr(0, 15), "t velanto.test ");
}

TEST(VelantoFileLayout, WithAndWithoutLocation) {
  const log4c_location_info_t location = {"dir/file.cpp", 9, nullptr, nullptr};
  Event with("text", &location, VL_LOG_WARN);
  EXPECT_EQ(in_thread("ipc_svc_handler", velanto_file_format, with),
            "20231114 22:13:20.123 ipc_svc_handler WARN     velanto.test file.cpp:9 text\n");
  Event without("text", nullptr, VL_LOG_NOTICE);
  EXPECT_EQ(in_thread("x", velanto_file_format, without),
            "20231114 22:13:20.123 x NOTICE   velanto.test text\n");
}

TEST(VelantoFileLayout, LongLineEndsInNewlineAndNul) {
  const std::string message(5000, 'y');
  Event e(message.c_str());
  const std::string out = in_thread("t", velanto_file_format, e);
  EXPECT_EQ(out.size(), vl_log_buffer_size - 1);
  EXPECT_EQ(out.back(), '\n');
}

TEST(Logging, MessageIsCutTo4095Characters) {
  vltest::LogCapture capture;
  const std::string message(5000, 'z');
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "%s", message.c_str());
  const auto records = capture.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message.size(), 4095u);
  EXPECT_EQ(records[0].rendered.back(), '\n');
  EXPECT_EQ(records[0].rendered.size(), 4095u);
}

TEST(Logging, RecordsCarryFileLineAndThreadName) {
  vltest::LogCapture capture;
  std::thread t([] {
    log4c_thread_setname("worker");
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "value %d", 5);
  });
  t.join();
  const auto records = capture.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "value 5");
  EXPECT_EQ(records[0].file, "vl_log_test.cpp");
  EXPECT_EQ(records[0].category, "velanto");
  EXPECT_TRUE(records[0].rendered.starts_with("worker velanto vl_log_test.cpp:"));
}

int evaluations = 0;
int counted() { return ++evaluations; }

TEST(Logging, DroppedRecordsAreNotFormatted) {
  vltest::LogCapture capture;
  vl_log_priority_set(nullptr, VL_LOG_ERROR);
  evaluations = 0;
  VL_LOG(vl_log_general(), VL_LOG_DEBUG, "%d", counted());
  EXPECT_EQ(evaluations, 0);
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "%d", counted());
  EXPECT_EQ(evaluations, 1);
  EXPECT_EQ(capture.records().size(), 1u);
}

TEST(Logging, RateLimitPassesOncePerSecond) {
  vl_utc_time last{};
  EXPECT_TRUE(vl_log_ratelimit_pass(&last));
  EXPECT_FALSE(vl_log_ratelimit_pass(&last));
  last.seconds -= 2;
  EXPECT_TRUE(vl_log_ratelimit_pass(&last));
  last.seconds += 100;  // the clock went back
  EXPECT_TRUE(vl_log_ratelimit_pass(&last));
}

TEST(Logging, SharedRateLimitSaysHowManyItHeldBack) {
  vltest::LogCapture capture;
  VlRateLimit limit;
  for (int i = 0; i < 3; ++i)
    VL_LOG_SHARED_RATELIMITED_COUNTED(limit, vl_log_general(), VL_LOG_ERROR, "burst %d", i);
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_EQ(capture.count("burst 0"), 1);
  EXPECT_EQ(capture.count("suppressed"), 0);
  uint32_t suppressed = 0;
  EXPECT_TRUE(limit.pass_at(vl_realtime_ns() + 2000000000ULL, &suppressed));
  EXPECT_EQ(suppressed, 2u);
}

TEST(LogPriority, UnsetGives600) {
  unsetenv("LOG4C_PRIORITY");
  ASSERT_TRUE(vl_log_init("test"));
  EXPECT_EQ(log4c_category_get_priority(log4c_category_get("root")), 600);
  vl_log_exit();
}

TEST(LogPriority, NumericValueIsUsed) {
  setenv("LOG4C_PRIORITY", "700", 1);
  ASSERT_TRUE(vl_log_init("test"));
  EXPECT_EQ(log4c_category_get_priority(log4c_category_get("root")), 700);
  EXPECT_EQ(log4c_category_get_chainedpriority(vl_log_general()), 700);
  vl_log_exit();
  unsetenv("LOG4C_PRIORITY");
}

TEST(LogPriority, WordGivesZeroSoOnlyFatalAppears) {
  setenv("LOG4C_PRIORITY", "debug", 1);
  vl_log_init("test");
  vltest::LogCapture capture;
  EXPECT_EQ(log4c_category_get_priority(log4c_category_get("root")), 0);
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "error");
  VL_LOG(vl_log_general(), VL_LOG_FATAL, "fatal");
  const auto records = capture.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "fatal");
  unsetenv("LOG4C_PRIORITY");
}

TEST(LogPriority, NullCategorySetsRootOnly) {
  vl_log_init("test");
  log4c_category_t* child = log4c_category_get("velanto.rtcp");
  const int child_before = log4c_category_get_priority(child);
  vl_log_priority_set(nullptr, 300);
  EXPECT_EQ(log4c_category_get_priority(log4c_category_get("root")), 300);
  EXPECT_EQ(log4c_category_get_priority(child), child_before);
  EXPECT_EQ(log4c_category_get_chainedpriority(child), 300);
  vl_log_priority_set("velanto.rtcp", 700);
  EXPECT_EQ(log4c_category_get_priority(child), 700);
  EXPECT_EQ(log4c_category_get_priority(log4c_category_get("root")), 300);
  vl_log_exit();
}

TEST(LogCategories, ListHoldsKnownCategoriesWithOwnPriority) {
  vl_log_init("test");
  json_t* list = vl_log_get_category_list();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(json_object_get(list, "velanto.ipc.srv"), nullptr);
  EXPECT_EQ(json_integer_value(json_object_get(list, "root")), 600);
  EXPECT_EQ(json_integer_value(json_object_get(list, "velanto")), LOG4C_PRIORITY_NOTSET);
  json_decref(list);

  log4c_category_get("velanto.ipc.srv");
  list = vl_log_get_category_list();
  EXPECT_NE(json_object_get(list, "velanto.ipc.srv"), nullptr);
  json_decref(list);
  vl_log_exit();
}

// Media threads make their categories while the control thread lists them:
// every name gets one handle and the list holds them all.
TEST(LogCategories, ThreadsMakingAndListingCategoriesAtOnceAgree) {
  vl_log_init("test");
  constexpr int threads = 4, names = 150;
  std::vector<std::thread> makers;
  for (int t = 0; t < threads; ++t)
    makers.emplace_back([t] {
      for (int n = 0; n < names; ++n) {
        const std::string name = "velanto.race." + std::to_string(t) + "." + std::to_string(n);
        log4c_category_t* made = vl_log_category(name.c_str());
        EXPECT_EQ(vl_log_category(name.c_str()), made);
        if (n % 10 == 0) json_decref(vl_log_get_category_list());
      }
    });
  for (std::thread& maker : makers) maker.join();
  json_t* list = vl_log_get_category_list();
  for (int t = 0; t < threads; ++t)
    EXPECT_NE(json_object_get(list, ("velanto.race." + std::to_string(t) + "." + std::to_string(names - 1)).c_str()),
              nullptr);
  json_decref(list);
  vl_log_exit();
}

TEST(LogDirectory, ExistsOnlyBetweenInitAndExit) {
  EXPECT_EQ(vl_log_get_log_dir(), nullptr);
  vl_log_init("test");
  EXPECT_STREQ(vl_log_get_log_dir(), "/var/log");
  vl_log_exit();
  EXPECT_EQ(vl_log_get_log_dir(), nullptr);
}

TEST(StrError, ZeroFilledAndTerminated) {
  char buf[8];
  std::memset(buf, 'q', sizeof buf);
  vl_strerror(ENOENT, buf, sizeof buf);
  EXPECT_STREQ(buf, "No such");
  char full[128];
  EXPECT_STREQ(vl_strerror(EINVAL, full, sizeof full), "Invalid argument");
  EXPECT_EQ(full[127], '\0');
}

TEST(ThreadName, VlThreadCutsTo126AndLogShows31) {
  const std::string long_name(200, 'a');
  std::string stored;
  char shown[64];
  struct Context {
    std::string* stored;
    char* shown;
  } context{&stored, shown};
  vl_thread thread;
  ASSERT_NE(vl_thread_ctor(&thread, [](void* arg) -> void* {
              auto* c = static_cast<Context*>(arg);
              *c->stored = vl_thread_getname();
              log4c_thread_record_name(c->shown, 64);
              return nullptr;
            }, long_name.c_str(), &context), nullptr);
  pthread_join(thread.handle, nullptr);
  EXPECT_EQ(stored, std::string(126, 'a'));
  EXPECT_EQ(std::string(shown), std::string(31, 'a'));
}

TEST(ThreadName, NoNameGivesEmptyName) {
  std::string stored = "unset";
  vl_thread thread;
  ASSERT_NE(vl_thread_ctor(&thread, [](void* arg) -> void* {
              *static_cast<std::string*>(arg) = vl_thread_getname();
              return nullptr;
            }, nullptr, &stored), nullptr);
  pthread_join(thread.handle, nullptr);
  EXPECT_EQ(stored, "");
}

// --- sendlog: datagrams to UDP port 514 of 127.0.0.1 only ---

class Sendlog : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "binding UDP port 514 needs root";
    receiver_ = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(receiver_, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(514);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Other tests (and other test runs) take the port for a moment too.
    const auto bound = [&] { return bind(receiver_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0; };
    ASSERT_TRUE(vltest::wait_until(bound, std::chrono::seconds(10))) << std::strerror(errno);
    timeval timeout{0, 300000};
    setsockopt(receiver_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    vl_log_init("test");
    appender_ = log4c_appender_get("sendlog_test");
    log4c_appender_set_type(appender_, &log4c_appender_type_sendlog);
    log4c_layout_t* layout = log4c_layout_get("velanto");
    log4c_appender_set_layout(appender_, layout);
    log4c_category_set_appender(log4c_category_get("sendlog_test"), appender_);
    log4c_category_set_priority(log4c_category_get("sendlog_test"), VL_LOG_TRACE);
    log4c_thread_setname("main");
  }
  void TearDown() override {
    if (receiver_ >= 0) close(receiver_);
    if (appender_) vl_log_exit();
  }

  // The datagram received, or "" after the time-out.
  std::string receive() {
    char buf[8192];
    const ssize_t n = recv(receiver_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }

  void log(int priority, const char* message) {
    log4c_category_t* category = log4c_category_get("sendlog_test");
    vl_log_add_impl(category, priority, 1, "x.cpp", "%s", message);
  }

  int receiver_ = -1;
  log4c_appender_t* appender_ = nullptr;
};

TEST_F(Sendlog, SendsSeverityRenderedLineAndNul) {
  log(VL_LOG_FATAL, "down");
  EXPECT_EQ(receive(), std::string("<64>main sendlog_test x.cpp:1 down\n") + '\0');
  log(VL_LOG_WARN, "careful");
  EXPECT_EQ(receive(), std::string("<68>main sendlog_test x.cpp:1 careful\n") + '\0');
  log(VL_LOG_TRACE, "detail");
  EXPECT_EQ(receive(), std::string("<71>main sendlog_test x.cpp:1 detail\n") + '\0');
}

TEST_F(Sendlog, HostThatIsNotDottedIpv4SendsNothingAndNullRestores) {
  log(VL_LOG_ERROR, "open");  // opens the appender, so that it has state
  EXPECT_FALSE(receive().empty());
  log4c_sendlog_set_host(appender_, "localhost");
  log(VL_LOG_ERROR, "lost");
  EXPECT_EQ(receive(), "");
  log4c_sendlog_set_host(appender_, nullptr);
  log(VL_LOG_ERROR, "back");
  EXPECT_EQ(receive(), std::string("<67>main sendlog_test x.cpp:1 back\n") + '\0');
}

TEST(SendlogUnopened, SetHostHasNoEffect) {
  vl_log_init("test");
  log4c_appender_t* appender = log4c_appender_get("never_opened");
  log4c_appender_set_type(appender, &log4c_appender_type_sendlog);
  log4c_sendlog_set_host(appender, "127.0.0.2");
  EXPECT_EQ(log4c_appender_get_udata(appender), nullptr);
  vl_log_exit();
}

}  // namespace
