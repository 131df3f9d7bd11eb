#include "vl/vl_device_id.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr std::size_t error_text_size = 256;

const char* const board_messages[] = {
    nullptr,
    "Velanto streaming running on NORZEL Board (FPGA streaming)!",
    "Velanto streaming running on NORZEL Board (FPGA streaming on Fenno Master)!",
    "Velanto streaming running on NORZEL Board (FPGA streaming on Quabe)!",
    "Velanto streaming running on NORZEL Board (FPGA streaming on Zemu)!",
};
constexpr uint32_t board_variants = sizeof board_messages / sizeof board_messages[0] - 1;

// At most vl_identity_text_size - 1 characters of `text`, or the default.
void set_text(char* field, const char* text, char* (*default_text)(char*, std::size_t)) {
  if (text)
    std::snprintf(field, vl_identity_text_size, "%s", text);
  else
    default_text(field, vl_identity_text_size);
}

// Logs what the platform is; false for an unknown type. An unknown board
// variant is taken as the bare board.
bool accept_platform(VlPlatform& platform) {
  const char* message = nullptr;
  switch (platform.type) {
    case vl_platform_windows_pc:
      message = "Velanto streaming running on Windows PC (software streaming)!";
      break;
    case vl_platform_linux_pc:
      message = "Velanto streaming running on Linux PC (software streaming)!";
      break;
    case vl_platform_solmo_board:
      message = "Velanto streaming running on Solmo Developers Board (software streaming)!";
      break;
    case vl_platform_norzel_board:
      if (platform.variant >= 1 && platform.variant <= board_variants) {
        message = board_messages[platform.variant];
      } else {
        message = "Invalid/Unknown platform variant! Simulating bare norzel platform.";
        platform.variant = 1;
      }
      break;
    default:
      VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid/Unknown platform!");
      return false;
  }
  VL_LOG(vl_log_general(), VL_LOG_INFO, "%s", message);
  return true;
}

// Equal when `device` begins with `config`.
bool matches_prefix(const char* config, const char* device) {
  return std::strncmp(config, device, strnlen(config, vl_identity_text_size)) == 0;
}

}  // namespace

VlDeviceId* vl_device_id_ctor(const char* vendor, const char* product, const char* serial,
                              const VlPlatform* platform) {
  std::unique_ptr<VlDeviceId> id(new (std::nothrow) VlDeviceId{});
  if (!id) {
    char err[error_text_size];
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for vendor information: %s.",
           vl_strerror(errno, err, sizeof err));
    return nullptr;
  }
  set_text(id->vendor, vendor, vl_default_vendor_id);
  set_text(id->product, product, vl_default_product_id);
  set_text(id->serial, serial, vl_default_serial_number);
  if (platform)
    id->platform = *platform;
  else
    vl_platform_get(&id->platform);
  if (!accept_platform(id->platform)) return nullptr;
  VL_LOG(vl_log_general(), VL_LOG_INFO, "Vendor: %s", id->vendor);
  VL_LOG(vl_log_general(), VL_LOG_INFO, "Product: %s", id->product);
  VL_LOG(vl_log_general(), VL_LOG_INFO, "Serial Number: %s", id->serial);
  return id.release();
}

void vl_device_id_dtor(VlDeviceId* id) { delete id; }

const char* vl_device_id_vendor(const VlDeviceId* id) { return id ? id->vendor : nullptr; }
const char* vl_device_id_product(const VlDeviceId* id) { return id ? id->product : nullptr; }
const char* vl_device_id_serial(const VlDeviceId* id) { return id ? id->serial : nullptr; }

json_t* vl_device_id_encode(const VlDeviceId* id) {
  if (!id) return json_object();
  return json_pack("{s:s, s:s, s:s, s:I, s:I}", vl_json_keys[VL_KEY_VENDOR_ID].name, id->vendor,
                   vl_json_keys[VL_KEY_DEVICE].name, id->product, vl_json_keys[VL_KEY_SERIAL_NUMBER].name,
                   id->serial, vl_json_keys[VL_KEY_DEVICE_TYPE].name, static_cast<json_int_t>(id->platform.type),
                   vl_json_keys[VL_KEY_DEVICE_VARIANT].name, static_cast<json_int_t>(id->platform.variant));
}

VlDeviceId* vl_device_id_decode(const json_t* json) {
  if (!json_is_object(json) || json_object_size(json) == 0) {
    errno = EINVAL;
    return nullptr;
  }
  const char* vendor = nullptr;
  const char* product = nullptr;
  const char* serial = nullptr;
  VlPlatform platform{0, 0};
  const char* key = nullptr;
  json_t* value = nullptr;
  json_object_foreach(const_cast<json_t*>(json), key, value) {
    switch (vl_json_key("VlDeviceID", key, value)) {
      case VL_KEY_SERIAL_NUMBER:
        serial = json_string_value(value);
        break;
      case VL_KEY_VENDOR_ID:
        vendor = json_string_value(value);
        break;
      case VL_KEY_DEVICE:
        product = json_string_value(value);
        break;
      case VL_KEY_DEVICE_TYPE:
        platform.type = static_cast<uint32_t>(json_integer_value(value));
        break;
      case VL_KEY_DEVICE_VARIANT:
        platform.variant = static_cast<uint32_t>(json_integer_value(value));
        break;
      default:
        break;
    }
  }
  return vl_device_id_ctor(vendor, product, serial, &platform);
}

bool vl_device_is_equal(const VlDeviceId* config_id, const VlDeviceId* device_id) {
  if (!config_id || !device_id) return false;
  if (config_id == device_id) return true;
  if (!matches_prefix(config_id->vendor, device_id->vendor)) {
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Wrong vendor id in config: %s (should be %s)!", config_id->vendor,
           device_id->vendor);
    return false;
  }
  if (!matches_prefix(config_id->product, device_id->product)) {
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Wrong product id in config: %s (should be %s)!", config_id->product,
           device_id->product);
    return false;
  }
  return true;
}
