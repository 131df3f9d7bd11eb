// Big-endian fields and the log category shared by the RTCP modules.
#pragma once

#include "vlsys/vl_log.h"

#include <log4c.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace rtcp_wire {

inline uint32_t get32(std::span<const uint8_t> bytes, std::size_t offset) {
  const uint8_t* p = bytes.subspan(offset, 4).data();
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline uint16_t get16(std::span<const uint8_t> bytes, std::size_t offset) {
  const uint8_t* p = bytes.subspan(offset, 2).data();
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline void put16(std::span<uint8_t> bytes, std::size_t offset, uint16_t value) {
  uint8_t* p = bytes.subspan(offset, 2).data();
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
}

inline void put32(std::span<uint8_t> bytes, std::size_t offset, uint32_t value) {
  uint8_t* p = bytes.subspan(offset, 4).data();
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

// Reads `N` consecutive words starting at `offset`.
template <std::size_t N>
void get_words(std::span<const uint8_t> bytes, std::size_t offset, uint32_t (&words)[N]) {
  for (std::size_t i = 0; i < N; ++i) words[i] = get32(bytes, offset + 4 * i);
}

constexpr std::size_t round_up4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

VL_LOG_CATEGORY(category, "velanto.rtcp")

}  // namespace rtcp_wire
