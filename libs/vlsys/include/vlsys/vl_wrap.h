// Arithmetic on wrapping counters: 32-bit media (and RTP) timestamps and
// 16-bit RTP sequence numbers. Differences are taken in unsigned arithmetic,
// where wrapping is defined, and only then read as signed.
#pragma once

#include <cstdint>

// How far `to` lies ahead of `from`, modulo the counter's range.
constexpr uint32_t vl_ts_ahead(uint32_t from, uint32_t to) { return to - from; }
constexpr uint16_t vl_seq_ahead(uint16_t from, uint16_t to) { return static_cast<uint16_t>(to - from); }

// The shorter way from `from` to `to`: negative when `to` lies behind.
constexpr int32_t vl_ts_delta(uint32_t from, uint32_t to) { return static_cast<int32_t>(to - from); }
constexpr int16_t vl_seq_delta(uint16_t from, uint16_t to) { return static_cast<int16_t>(to - from); }

// Magnitude of the shorter way (2^31 at the half-way point), never overflowing.
constexpr uint32_t vl_ts_distance(uint32_t a, uint32_t b) {
  const uint32_t forward = b - a;
  return forward <= 0x80000000u ? forward : a - b;
}
