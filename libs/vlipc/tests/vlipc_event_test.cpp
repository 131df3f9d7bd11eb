// The event subscription commands called directly, with the errors they
// collect on the calling thread.
#include "vlipc/vlipc_event.h"

#include "vlutil/vl_error.h"
#include "vlutil/vl_event.h"
#include "vlutil/vl_json_ref.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr const char* originator = "evt_test";

class IpcEventCommands : public ::testing::Test {
 protected:
  void SetUp() override { vl_error_install(errors_); }
  void TearDown() override {
    for (int32_t id : {1, 199}) vl_event_hdl_unregister(id, originator);
    vl_error_dtor(errors_);
  }

  // The error texts of a result, or {} for a success object.
  static std::vector<std::string> texts_of(const VlJsonRef& result) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < json_array_size(result.get()); ++i)
      texts.emplace_back(json_string_value(json_object_get(json_array_get(result.get(), i), "text")));
    return texts;
  }
  static VlJsonRef add(json_int_t id) {
    const VlJsonRef p(json_pack("{s:I, s:s, s:i}", "event_id", id, "event_originator", originator,
                                "event_exclusive", 0));
    return VlJsonRef(vl_event_add_handler_request(nullptr, p.get()));
  }
  static VlJsonRef del(json_int_t id) {
    const VlJsonRef p(json_pack("{s:I, s:s}", "event_id", id, "event_originator", originator));
    return VlJsonRef(vl_event_del_handler_request(nullptr, p.get()));
  }

  vltest::LogCapture log_;
  VlError* errors_ = vl_error_ctor();
};

TEST_F(IpcEventCommands, AddMapsClientIdsAndRefusesReservedOnes) {
  const std::string low = "Invalid event id to add handler for(reserved for local streamer events)!";
  const std::string high = "Invalid event id to add handler for(reserved for streamer specific communication)!";
  struct Case {
    json_int_t id;
    std::string error;  // empty: success, registering id - 200
  };
  for (const Case& c : {Case{200, low}, Case{201, ""}, Case{399, ""}, Case{400, high}, Case{-1, high}}) {
    SCOPED_TRACE(c.id);
    const VlJsonRef result = add(c.id);
    if (c.error.empty()) {
      EXPECT_TRUE(json_is_object(result.get()));
      EXPECT_TRUE(vl_event_is_registered(static_cast<int32_t>(c.id - 200), originator));
    } else {
      EXPECT_EQ(texts_of(result), std::vector<std::string>{c.error});
    }
  }
}

TEST_F(IpcEventCommands, RepeatedAddKeepsOneHandler) {
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(json_is_object(add(201).get()));
  vl_event_hdl_unregister(1, originator);
  EXPECT_FALSE(vl_event_is_registered(1, originator));
}

TEST_F(IpcEventCommands, DelRemovesTheHandlerAndRefusesReservedIds) {
  ASSERT_TRUE(json_is_object(add(201).get()));
  EXPECT_TRUE(json_is_object(del(201).get()));
  EXPECT_FALSE(vl_event_is_registered(1, originator));
  EXPECT_EQ(texts_of(del(200)),
            std::vector<std::string>{"Invalid event id to remove handler(reserved for local streamer events)!"});
  EXPECT_EQ(texts_of(del(400)), std::vector<std::string>{
                                    "Invalid event id to remove handler (reserved for streamer specific communication)!"});
}

TEST_F(IpcEventCommands, MissingKeysAreAParameterError) {
  const VlJsonRef p(json_pack("{s:i}", "event_id", 201));
  const VlJsonRef result(vl_event_add_handler_request(nullptr, p.get()));
  ASSERT_EQ(json_array_size(result.get()), 1u);
  EXPECT_EQ(json_integer_value(json_object_get(json_array_get(result.get(), 0), "type")), 22);
}

}  // namespace
