#include "vlutil/vl_error.h"

#include "vlsys/vl_log.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// The calling thread's error object for the scope.
class InstalledError {
 public:
  InstalledError() : error_(vl_error_ctor()) { vl_error_install(error_); }
  ~InstalledError() {
    if (vl_error_current() == error_) vl_error_install(nullptr);
    vl_error_dtor(error_);
  }
  InstalledError(const InstalledError&) = delete;
  InstalledError& operator=(const InstalledError&) = delete;
  VlError* get() const { return error_; }

 private:
  VlError* error_;
};

std::string text_at(const json_t* array, size_t i) {
  return json_string_value(json_object_get(json_array_get(array, i), "text"));
}

std::string encoded_text(json_t* array) {
  char* text = json_dumps(array, JSON_COMPACT | JSON_PRESERVE_ORDER);
  std::string result = text ? text : "";
  free(text);
  return result;
}

TEST(VlError, EncodesNewestFirstAndEmptiesTheStack) {
  InstalledError installed;
  vl_error_add(10, "dir/first.cpp", EINVAL, "first %d", 1);
  vl_error_add(20, "dir/second.cpp", ENODEV, "second %s", "two");

  json_t* array = vl_error_encode();
  EXPECT_EQ(encoded_text(array),
            "[{\"line\":20,\"file\":\"dir/second.cpp\",\"type\":19,\"text\":\"second two\"},"
            "{\"line\":10,\"file\":\"dir/first.cpp\",\"type\":22,\"text\":\"first 1\"}]");
  json_decref(array);

  json_t* again = vl_error_encode();
  EXPECT_EQ(json_array_size(again), 0u);
  EXPECT_TRUE(json_is_array(again));
  json_decref(again);
}

TEST(VlError, TruncateKeepsTheNewestAndLogsTheRest) {
  vltest::LogCapture log;
  InstalledError installed;
  for (int i = 0; i < 5; ++i) vl_error_add(i, "f.cpp", EINVAL, "error %d", i);
  EXPECT_EQ(vl_error_truncate(3), 2u);
  EXPECT_EQ(vl_error_truncate(3), 0u);
  EXPECT_TRUE(log.contains("error 0"));
  EXPECT_TRUE(log.contains("error 1"));
  json_t* array = vl_error_encode();
  ASSERT_EQ(json_array_size(array), 3u);
  EXPECT_EQ(text_at(array, 0), "error 4");
  EXPECT_EQ(text_at(array, 2), "error 2");
  json_decref(array);
}

TEST(VlError, EachThreadHasItsOwnStack) {
  InstalledError installed;
  VL_ERROR_ADD(EIO, "main thread");
  std::thread other([] {
    EXPECT_EQ(vl_error_current(), nullptr);
    InstalledError own;
    VL_ERROR_ADD(EIO, "other thread");
    json_t* array = vl_error_encode();
    EXPECT_EQ(json_array_size(array), 1u);
    EXPECT_EQ(text_at(array, 0), "other thread");
    json_decref(array);
  });
  other.join();
  json_t* array = vl_error_encode();
  ASSERT_EQ(json_array_size(array), 1u);
  EXPECT_EQ(text_at(array, 0), "main thread");
  json_decref(array);
}

TEST(VlError, EncodedOnOneThreadDecodedOnAnotherKeepsTheOrder) {
  json_t* sent = nullptr;
  std::thread producer([&sent] {
    InstalledError own;
    for (int i = 1; i <= 3; ++i) vl_error_add(i, "producer.cpp", EIO, "error %d", i);
    sent = vl_error_encode();
  });
  producer.join();
  ASSERT_EQ(json_array_size(sent), 3u);
  EXPECT_EQ(text_at(sent, 0), "error 3");

  InstalledError installed;
  EXPECT_EQ(vl_error_decode(sent), 0);
  json_t* received = vl_error_encode();
  EXPECT_TRUE(json_equal(received, sent)) << encoded_text(received);
  json_decref(received);
  json_decref(sent);
}

TEST(VlError, DecodedTextIsStoredLiterally) {
  InstalledError installed;
  json_t* array = json_pack("[{s:i, s:s, s:i, s:s}]", "line", 7, "file", "remote.cpp", "type", EINVAL, "text",
                            "100% of %s and %n");
  ASSERT_EQ(vl_error_decode(array), 0);
  json_decref(array);

  char* printed = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&printed, &size);
  ASSERT_NE(stream, nullptr);
  vl_error_backtrace(stream);
  fclose(stream);
  EXPECT_STREQ(printed, "Error in file remote.cpp, line 7 - 100% of %s and %n:Invalid argument");
  free(printed);
}

TEST(VlError, DecodeSkipsMalformedEntriesAndRefusesEmptyArrays) {
  InstalledError installed;
  json_t* empty = json_array();
  EXPECT_EQ(vl_error_decode(empty), -1);
  EXPECT_EQ(vl_error_decode(nullptr), -1);
  json_decref(empty);

  json_t* mixed = json_pack("[{s:s}, {s:i, s:s, s:i, s:s}, i]", "line", "x", "line", 3, "file", "f", "type", 5,
                            "text", "kept", 5);
  EXPECT_EQ(vl_error_decode(mixed), 0);
  json_decref(mixed);
  json_t* array = vl_error_encode();
  ASSERT_EQ(json_array_size(array), 1u);
  EXPECT_EQ(text_at(array, 0), "kept");
  json_decref(array);
}

TEST(VlError, AddWithoutAnObjectLogsOneLineAtTheGivenLocation) {
  vltest::LogCapture log;
  ASSERT_EQ(vl_error_current(), nullptr);
  vl_error_add(77, "some/dir/handler.cpp", EINVAL, "bad parameter %d", 5);
  const auto records = log.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "bad parameter 5: 22");
  EXPECT_EQ(records[0].priority, VL_LOG_ERROR);
  EXPECT_EQ(records[0].category, "velanto");
  EXPECT_EQ(records[0].file, "handler.cpp");
  EXPECT_EQ(records[0].line, 77);
}

TEST(VlError, BacktraceWithoutAStreamLogsEachEntryAtItsLocation) {
  vltest::LogCapture log;
  InstalledError installed;
  vl_error_backtrace(nullptr);
  EXPECT_EQ(log.count("Empty VlError object, so there is nothing to log here!"), 1);
  log.clear();

  vl_error_add(1, "a.cpp", EIO, "older");
  vl_error_add(2, "b.cpp", EIO, "newer 100%%");
  vl_error_backtrace(nullptr);
  const auto records = log.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].message, "newer 100%");
  EXPECT_EQ(records[0].file, "b.cpp");
  EXPECT_EQ(records[0].line, 2);
  EXPECT_EQ(records[0].category, "velanto.vl_error");
  EXPECT_EQ(records[1].message, "older");
  json_t* array = vl_error_encode();
  EXPECT_EQ(json_array_size(array), 0u);
  json_decref(array);
}

TEST(VlError, ResetDiscardsAndTheDestructorLogsLeftovers) {
  vltest::LogCapture log;
  VlError* error = vl_error_ctor();
  ASSERT_NE(error, nullptr);
  vl_error_install(error);
  vl_error_add(1, "a.cpp", EIO, "discarded");
  vl_error_reset();
  vl_error_add(2, "b.cpp", EIO, "left over");
  vl_error_dtor(error);
  // The destroyed object is no longer the thread's.
  EXPECT_EQ(vl_error_current(), nullptr);
  EXPECT_EQ(log.count("discarded"), 0);
  EXPECT_EQ(log.count("left over"), 1);
  vl_error_dtor(nullptr);
}

TEST(VlError, LongFileAndTextAreCut) {
  InstalledError installed;
  const std::string file(300, 'f');
  const std::string text(5000, 't');
  vl_error_add(1, file.c_str(), EIO, "%s", text.c_str());
  // A cut through a multi-byte character must not lose the entry.
  const std::string umlauts = std::string(4094, 'u') + "\xc3\xa4";
  vl_error_add(2, "u.cpp", EIO, "%s", umlauts.c_str());

  json_t* array = vl_error_encode();
  ASSERT_EQ(json_array_size(array), 2u);
  EXPECT_EQ(text_at(array, 0), std::string(4094, 'u') + "?");
  EXPECT_EQ(text_at(array, 1), std::string(4095, 't'));
  EXPECT_EQ(json_string_value(json_object_get(json_array_get(array, 1), "file")), std::string(126, 'f'));
  json_decref(array);
}

}  // namespace
