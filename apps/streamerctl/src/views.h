// The daemon's answers as text for people: aligned tables and short
// key-value lines, made from the JSON as it arrived.
#pragma once

#include <jansson.h>

#include <string>

// The device description of "init": identity, interfaces, PTP, audio
// devices and sessions on one screen.
std::string view_status(const json_t* device);
std::string view_interfaces(const json_t* interfaces);
std::string view_ptp(const json_t* ptp_status);
std::string view_audio_devices(const json_t* audio_devices);
std::string view_sessions(const json_t* sessions);
// One audio device's channel names.
std::string view_channel_names(const json_t* audio_device);
// The configurations of the reserved audio devices.
std::string view_audio_configs(const json_t* audio_devices);
// "log_category_list": category name -> priority.
std::string view_log_categories(const json_t* categories);
// "sap_list": the streams other devices announce.
std::string view_discovered(const json_t* sap_list);
// "session_info_list": RTCP statistics per session and stream.
std::string view_statistics(const json_t* info_list);
// One line for a live view: per stream its packets, loss, jitter and peers;
// per reserved device that reports attributes (the ramp analyzer's last
// good timestamp, mismatch count and offset), those.
std::string view_summary(const json_t* info_list, const json_t* audio_devices);

// Log priorities by name ("error", "debug", ...) and back; -1 for an
// unknown name. A number given as text is taken as it is.
int log_priority_from_text(const std::string& text);
std::string log_priority_name(json_int_t priority);
