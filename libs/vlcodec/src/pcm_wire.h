// Wire forms of the linear PCM formats. The internal sample is a signed
// 32-bit word with the audio left-aligned; the wire is big-endian.
#pragma once

#include <cstdint>

struct L16Wire {
  static constexpr uint32_t bytes = 2;
  static void put(uint8_t* out, uint32_t w, bool) {
    out[0] = static_cast<uint8_t>(w >> 24);
    out[1] = static_cast<uint8_t>(w >> 16);
  }
  static int32_t get(const uint8_t* in) {
    return static_cast<int32_t>((uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16));
  }
};

struct L24Wire {
  static constexpr uint32_t bytes = 3;
  static void put(uint8_t* out, uint32_t w, bool) {
    out[0] = static_cast<uint8_t>(w >> 24);
    out[1] = static_cast<uint8_t>(w >> 16);
    out[2] = static_cast<uint8_t>(w >> 8);
  }
  static int32_t get(const uint8_t* in) {
    return static_cast<int32_t>((uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8));
  }
};

struct L32Wire {
  static constexpr uint32_t bytes = 4;
  static void put(uint8_t* out, uint32_t w, bool) {
    out[0] = static_cast<uint8_t>(w >> 24);
    out[1] = static_cast<uint8_t>(w >> 16);
    out[2] = static_cast<uint8_t>(w >> 8);
    out[3] = static_cast<uint8_t>(w);
  }
  static int32_t get(const uint8_t* in) {
    return static_cast<int32_t>((uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) |
                                uint32_t{in[3]});
  }
};

// 24-bit audio behind a label byte. The low byte of the internal word
// carries the label XOR 0x40 in both directions, so labels pass through a
// receive-then-send path unchanged; an unconnected channel is all zero.
struct Am824Wire {
  static constexpr uint32_t bytes = 4;
  static constexpr uint8_t label_flip = 0x40;
  static void put(uint8_t* out, uint32_t w, bool connected) {
    out[0] = connected ? static_cast<uint8_t>((w & 0xFF) ^ label_flip) : 0;
    out[1] = static_cast<uint8_t>(w >> 24);
    out[2] = static_cast<uint8_t>(w >> 16);
    out[3] = static_cast<uint8_t>(w >> 8);
  }
  static int32_t get(const uint8_t* in) {
    return static_cast<int32_t>((uint32_t{in[1]} << 24) | (uint32_t{in[2]} << 16) | (uint32_t{in[3]} << 8) |
                                (uint32_t{in[0]} ^ label_flip));
  }
};
