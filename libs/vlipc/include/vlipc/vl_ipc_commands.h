// The command numbers of the control protocol and their names, shared by
// the server's dispatcher and the client's response table.
#pragma once

#include <cstdint>

enum vl_ipc_command : uint32_t {
  VL_IPC_CMD_ERROR = 0,  // marks error responses; no request has it
  VL_IPC_CMD_INIT,
  VL_IPC_CMD_DONE,
  VL_IPC_CMD_SAVE_CONFIG,
  VL_IPC_CMD_LOAD_CONFIG,
  VL_IPC_CMD_DEL_CONFIG,
  VL_IPC_CMD_SESSION_NEW,
  VL_IPC_CMD_SESSION_DEL,
  VL_IPC_CMD_SESSION_INFO,
  VL_IPC_CMD_STREAM_ADD_SND,
  VL_IPC_CMD_STREAM_ADD_RCV,
  VL_IPC_CMD_STREAM_DEL_SND,
  VL_IPC_CMD_STREAM_DEL_RCV,
  VL_IPC_CMD_STREAM_CHANGE,
  VL_IPC_CMD_AUDIO_RSV,
  VL_IPC_CMD_AUDIO_SET_NAMES,
  VL_IPC_CMD_AUDIO_CFG,
  VL_IPC_CMD_AUDIO_RLS,
  VL_IPC_CMD_LOG_PRIORITY_SET,
  VL_IPC_CMD_LOG_CATEGORIES,
  VL_IPC_CMD_PTP_CONFIG_SET,
  VL_IPC_CMD_PTP_STATUS_GET,
  VL_IPC_CMD_EVENT_HDL_ADD,
  VL_IPC_CMD_EVENT_HDL_DEL,
  VL_IPC_CMD_SAP_LIST,  // 24: the streams other devices announce
  VL_IPC_CMD_SAP_SET,   // 25: announcing of a sender on or off
  VL_IPC_CMD_COUNT
};

// "error", "init", ... "sap_set"; null for a number out of range.
const char* vl_ipc_command_name(uint32_t command);
