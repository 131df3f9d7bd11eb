#include "vlutil/vl_event.h"

#include "vlsys/log4c_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Delivery {
  std::string thread;
  json_int_t id;
  std::string originator;
  std::string data;  // "<none>" without "event_data"
};

// Records what handlers receive; each callback is a plain function, so the
// recorder is process-wide.
class Recorder {
 public:
  void add(json_t* notification, const char* tag) {
    Delivery d;
    const char* name = log4c_thread_getname();
    d.thread = name ? name : "";
    d.id = json_integer_value(json_object_get(notification, "event_id"));
    d.originator = json_string_value(json_object_get(notification, "event_originator"));
    json_t* data = json_object_get(notification, "event_data");
    d.data = data ? std::string(tag) + json_string_value(data) : std::string(tag) + "<none>";
    std::lock_guard<std::mutex> lock(mutex_);
    deliveries_.push_back(d);
    changed_.notify_all();
  }
  bool wait_for(size_t n, std::chrono::milliseconds timeout = 2s) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return deliveries_.size() >= n; });
  }
  std::vector<Delivery> all() {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveries_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    deliveries_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Delivery> deliveries_;
};

Recorder recorder;
void record_a(json_t* n) { recorder.add(n, "a:"); }
void record_b(json_t* n) { recorder.add(n, "b:"); }

// Blocks its first delivery until released, so that further events queue up.
std::mutex gate_mutex;
std::condition_variable gate_cv;
bool gate_open = false;
bool gate_entered = false;
void gated(json_t* n) {
  std::unique_lock<std::mutex> lock(gate_mutex);
  gate_entered = true;
  gate_cv.notify_all();
  gate_cv.wait(lock, [] { return gate_open; });
  lock.unlock();
  recorder.add(n, "");
}

json_t* text(const char* s) { return json_string(s); }

int publish_text(int32_t id, const char* s) {
  json_t* data = text(s);
  const int rc = vl_event_publish(id, data);
  json_decref(data);
  return rc;
}

class Events : public ::testing::Test {
 protected:
  // The recorder and the gate outlive a test when the program runs them all.
  void SetUp() override {
    recorder.clear();
    std::lock_guard<std::mutex> lock(gate_mutex);
    gate_open = false;
    gate_entered = false;
  }
  void TearDown() override { vl_event_exit(); }
};

TEST_F(Events, PublishWithoutHandlersFails) {
  EXPECT_EQ(publish_text(5, "x"), -1);
  EXPECT_EQ(vl_event_publish(5, nullptr), -1);
}

TEST_F(Events, EachHandlerOfTheIdGetsTheEventOnItsOwnThread) {
  ASSERT_EQ(vl_event_hdl_register(5, "client", record_a, false), 0);
  ASSERT_EQ(vl_event_hdl_register(5, "other", record_b, false), 0);
  ASSERT_EQ(vl_event_hdl_register(6, "client", record_a, false), 0);
  EXPECT_EQ(publish_text(5, "hello"), 0);
  EXPECT_EQ(publish_text(7, "nobody"), -1);
  ASSERT_TRUE(recorder.wait_for(2));
  std::this_thread::sleep_for(50ms);
  auto got = recorder.all();
  ASSERT_EQ(got.size(), 2u);
  std::sort(got.begin(), got.end(), [](const Delivery& x, const Delivery& y) { return x.thread < y.thread; });
  EXPECT_EQ(got[0].thread, "client_event_5");
  EXPECT_EQ(got[0].data, "a:hello");
  EXPECT_EQ(got[1].thread, "other_event_5");
  EXPECT_EQ(got[1].data, "b:hello");
  EXPECT_EQ(got[0].id, 5);
}

TEST_F(Events, ExclusiveDuplicateIsRefusedOtherwiseBothReceive) {
  ASSERT_EQ(vl_event_hdl_register(9, "dup", record_a, true), 0);
  errno = 0;
  EXPECT_EQ(vl_event_hdl_register(9, "dup", record_a, true), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(vl_event_hdl_register(9, "dup", record_b, false), 0);
  EXPECT_EQ(vl_event_hdl_register(9, "dup2", record_a, true), 0);  // another originator
  EXPECT_EQ(publish_text(9, "x"), 0);
  EXPECT_TRUE(recorder.wait_for(3));
}

TEST_F(Events, NotificationWithoutDataHasNoDataMember) {
  ASSERT_EQ(vl_event_hdl_register(3, "c", record_a, false), 0);
  EXPECT_EQ(vl_event_publish(3, nullptr), 0);
  ASSERT_TRUE(recorder.wait_for(1));
  EXPECT_EQ(recorder.all()[0].data, "a:<none>");
  EXPECT_EQ(recorder.all()[0].originator, "c");
}

TEST_F(Events, EventsQueuedDuringADeliveryComeNewestFirst) {
  ASSERT_EQ(vl_event_hdl_register(4, "g", gated, false), 0);
  publish_text(4, "first");
  {
    std::unique_lock<std::mutex> lock(gate_mutex);
    ASSERT_TRUE(gate_cv.wait_for(lock, 2s, [] { return gate_entered; }));
  }
  publish_text(4, "1");
  publish_text(4, "2");
  publish_text(4, "3");
  {
    std::lock_guard<std::mutex> lock(gate_mutex);
    gate_open = true;
  }
  gate_cv.notify_all();
  ASSERT_TRUE(recorder.wait_for(4));
  const auto got = recorder.all();
  EXPECT_EQ(got[0].data, "first");
  EXPECT_EQ(got[1].data, "3");
  EXPECT_EQ(got[2].data, "2");
  EXPECT_EQ(got[3].data, "1");
}

TEST_F(Events, UnregisterReturnsOnlyAfterPendingEventsAreDelivered) {
  ASSERT_EQ(vl_event_hdl_register(8, "u", gated, false), 0);
  publish_text(8, "busy");
  {
    std::unique_lock<std::mutex> lock(gate_mutex);
    ASSERT_TRUE(gate_cv.wait_for(lock, 2s, [] { return gate_entered; }));
  }
  publish_text(8, "left1");
  publish_text(8, "left2");
  std::thread opener([] {
    std::this_thread::sleep_for(50ms);
    std::lock_guard<std::mutex> lock(gate_mutex);
    gate_open = true;
    gate_cv.notify_all();
  });
  vl_event_hdl_unregister(8, "u");
  EXPECT_FALSE(vl_event_is_registered(8, "u"));
  const auto got = recorder.all();
  opener.join();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].data, "busy");
  EXPECT_EQ(got[1].data, "left2");
  EXPECT_EQ(got[2].data, "left1");
}

void republish(json_t* n) {
  recorder.add(n, "r:");
  if (json_integer_value(json_object_get(n, "event_id")) == 11) publish_text(12, "chained");
}

TEST_F(Events, CallbackMayPublishFurtherEvents) {
  ASSERT_EQ(vl_event_hdl_register(11, "r", republish, false), 0);
  ASSERT_EQ(vl_event_hdl_register(12, "r", republish, false), 0);
  publish_text(11, "start");
  ASSERT_TRUE(recorder.wait_for(2));
  EXPECT_EQ(recorder.all()[1].data, "r:chained");
}

TEST_F(Events, RegistrationOrderAndLookup) {
  EXPECT_FALSE(vl_event_is_registered(1, "x"));
  ASSERT_EQ(vl_event_hdl_register(1, "x", record_a, false), 0);
  ASSERT_EQ(vl_event_hdl_register(2, "x", record_a, false), 0);
  EXPECT_TRUE(vl_event_is_registered(1, "x"));
  EXPECT_TRUE(vl_event_is_registered(2, "x"));
  EXPECT_FALSE(vl_event_is_registered(1, "xy"));
  vl_event_hdl_unregister(1, "x");
  EXPECT_FALSE(vl_event_is_registered(1, "x"));
  EXPECT_TRUE(vl_event_is_registered(2, "x"));
  vl_event_hdl_unregister(1, "x");  // nothing left to remove
}

TEST_F(Events, LongOriginatorIsCutTo126) {
  const std::string long_name(300, 'o');
  ASSERT_EQ(vl_event_hdl_register(1, long_name.c_str(), record_a, false), 0);
  EXPECT_TRUE(vl_event_is_registered(1, std::string(126, 'o').c_str()));
  EXPECT_EQ(publish_text(1, "x"), 0);
  ASSERT_TRUE(recorder.wait_for(1));
  EXPECT_EQ(recorder.all()[0].originator, std::string(126, 'o'));
}

TEST_F(Events, ALongOriginatorFindsAndRemovesItsHandler) {
  const std::string long_name(300, 'o');
  ASSERT_EQ(vl_event_hdl_register(1, long_name.c_str(), record_a, true), 0);
  EXPECT_TRUE(vl_event_is_registered(1, long_name.c_str()));
  vl_event_hdl_unregister(1, long_name.c_str());
  EXPECT_FALSE(vl_event_is_registered(1, std::string(126, 'o').c_str()));
}

TEST_F(Events, StoppingIsPrompt) {
  for (int i = 0; i < 20; ++i) ASSERT_EQ(vl_event_hdl_register(i, "s", record_a, false), 0);
  const auto start = std::chrono::steady_clock::now();
  vl_event_exit();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(vl_event_is_registered(i, "s"));
}

}  // namespace
