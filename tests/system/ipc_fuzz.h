// Frames for shaking the control server: random bytes, valid requests of
// every command number with mutated parameters, and frames whose header or
// body is truncated, oversized or mutated. The same seed gives the same
// frames.
#pragma once

#include "vlutil/vl_json_ref.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace ipcfuzz {

class FrameFuzzer {
 public:
  explicit FrameFuzzer(uint32_t seed) : random_(seed) {}

  // The bytes of the next episode: 1 to 30 frames for one connection.
  std::vector<std::string> episode();
  std::string frame();

  // A request of `command` with a mutated parameter, framed correctly.
  std::string mutated_request(json_int_t command);

 private:
  std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
  bool one_in(std::size_t n) { return below(n) == 0; }

  std::string random_bytes(std::size_t limit);
  std::string request_text(json_int_t command);
  std::string bad_header(const std::string& body);
  std::string bad_body(const std::string& body);
  VlJsonRef mutate(json_t* value, int depth);
  json_t* random_value(int depth);
  json_t* random_integer();
  json_t* random_string();
  std::string flip_bytes(std::string text);

  std::mt19937 random_;
  json_int_t next_command_ = 0;
};

// `bytes` shown with escapes, cut to `limit` characters.
std::string printable(const std::string& bytes, std::size_t limit = 160);

}  // namespace ipcfuzz
