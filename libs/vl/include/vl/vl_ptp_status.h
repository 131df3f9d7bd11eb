// PTP status and properties records and their JSON forms.
#pragma once

#include <jansson.h>

#include <cstdint>

inline constexpr uint8_t vl_ptp_flag_slave_only = 0x01;
inline constexpr uint8_t vl_ptp_flag_synchronized = 0x02;
inline constexpr uint32_t vl_ptp_port_state_slave = 9;

struct VlPtpStatus {
  uint8_t domain;
  uint32_t port_state;
  uint8_t flags;  // vl_ptp_flag_*
  char master_ip[16];
  char gm_id[24];
  uint32_t delay_mechanism;
  uint8_t gm_clock_class;
  uint8_t gm_clock_accuracy;
  uint64_t offset_nsec;  // magnitude
  int8_t offset_sign;    // non-zero: negative
  uint8_t prio_1;
  uint8_t prio_2;
  int8_t log_announce;
  int8_t log_sync;
  uint8_t dscp;
};

struct VlPtpProperties {
  uint8_t domain;
  uint8_t prio_1;
  uint8_t prio_2;
  int8_t log_announce;
  int8_t log_sync;
  uint8_t flags;  // bit 0: slave only
  uint32_t delay_mechanism;
  uint8_t dscp;
};

inline bool vl_ptp_status_is_synchronized(const VlPtpStatus& status) {
  return (status.flags & vl_ptp_flag_synchronized) != 0;
}

// New JSON objects with every key; null on failure.
json_t* vl_ptp_status_encode(const VlPtpStatus* status);
json_t* vl_ptp_properties_encode(const VlPtpProperties* properties);

// New zeroed records filled from JSON (missing keys stay 0); free with delete.
VlPtpStatus* vl_ptp_status_decode(const json_t* json);
VlPtpProperties* vl_ptp_properties_decode(const json_t* json);
