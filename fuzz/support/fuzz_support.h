// What the fuzz targets share: logging that formats every record and writes
// none, a network namespace of the process's own, exact-size copies of the
// input, and a device as start-up makes it.
#pragma once

#include "vl/vl_device.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fuzz {

// Every record of every category is formatted through the daemon's layout
// and dropped, so that the formatting of what the input reaches is
// exercised too. With FUZZ_LOG set in the environment they go to standard
// error instead, for looking into a finding.
void quiet_logging();

// The link of the private network: fz0 (198.18.0.1/24, multicast routed
// there) and its veth peer fz1, both in the namespace.
inline constexpr const char* link_device = "fz0";
inline constexpr const char* link_address = "198.18.0.1";

// Moves the whole process into a network namespace of its own with the
// loopback up and the link above, so that nothing a target sends can reach
// a real network and no port clashes with anything outside. Ends the
// process when that fails. Call from LLVMFuzzerInitialize, before any
// thread starts: threads inherit the namespace of the thread that makes
// them.
void enter_private_network();

// The input as text in an allocation of exactly its size plus the
// terminator, so that a read past the end is caught. Text stops at the
// first NUL of the input.
std::unique_ptr<char[]> text_of(const uint8_t* data, std::size_t size);

// The device of the IPC and configuration targets: in the private network,
// streaming on fz0, the test generators and analyzers as its audio devices,
// HOME in a temporary directory. Made once per process.
VlDevice* lab_device();

// Puts the lab device back as it was made: no sessions, no reserved audio
// devices, no client data or kept elements, no event handlers, the log
// priorities and the configuration file gone.
void reset_lab_device();

// Ends the process with `what` when `condition` does not hold: a finding
// that is not a crash (a wrong result) still stops the fuzzer.
void require(bool condition, const char* what);
// The same for two texts that must be equal; both are shown when not.
void require_equal(const std::string& expected, const std::string& actual, const char* what);

}  // namespace fuzz
