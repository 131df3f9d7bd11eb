#include "vlipc/vl_ipc_commands.h"

namespace {

constexpr const char* names[VL_IPC_CMD_COUNT] = {
    "error",          "init",           "done",          "save_config",      "load_config",
    "del_config",     "session_new",    "session_del",   "session_info",     "stream_add_snd",
    "stream_add_rcv", "stream_del_snd", "stream_del_rcv", "stream_change",   "audio_rsv",
    "audio_set_names", "audio_cfg",     "audio_rls",     "log_priority_set", "log_categories",
    "ptp_config_set", "ptp_status_get", "event_hdl_add", "event_hdl_del",    "sap_list",
    "sap_set",
};

}  // namespace

const char* vl_ipc_command_name(uint32_t command) { return command < VL_IPC_CMD_COUNT ? names[command] : nullptr; }
