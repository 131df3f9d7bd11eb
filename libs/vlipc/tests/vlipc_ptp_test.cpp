// The PTP configuration command without any PTP interface registered, a
// state the daemon never reaches.
#include "vlipc/vlipc_ptp.h"

#include "vl/vl_ptp.h"
#include "vltest/log_capture.h"
#include "vlutil/vl_error.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

namespace {

TEST(IpcPtpCommands, ConfigSetWithoutAnInterfaceCannotTellTheDomain) {
  vltest::LogCapture log;
  ASSERT_EQ(vl_ptp_ifc_get(vl_ptp_any_domain), nullptr);
  VlError* errors = vl_error_ctor();
  vl_error_install(errors);
  // The interface is looked for before the parameter is checked.
  const VlJsonRef result(vl_ptp_set_config_request(nullptr, nullptr));
  ASSERT_EQ(json_array_size(result.get()), 1u);
  const json_t* error = json_array_get(result.get(), 0);
  EXPECT_EQ(json_integer_value(json_object_get(error, "type")), 22);
  EXPECT_STREQ(json_string_value(json_object_get(error, "text")), "Cannot get current PTP domain!");
  vl_error_dtor(errors);
}

}  // namespace
