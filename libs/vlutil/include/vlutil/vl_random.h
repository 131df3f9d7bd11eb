// 32-bit random identifiers (RTCP SSRCs) in the manner of RFC 3550
// appendix A.6: the MD5 of a record of process and time data, folded.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t vl_random_login_size = 127;

// Every byte is defined (explicit padding), so the digest depends only on
// the values.
struct VlRandomRecord {
  uint32_t type;
  uint32_t reserved0;
  int64_t time;   // time()
  int64_t clock;  // clock()
  uint32_t pid;
  uint32_t tid;   // kernel thread id
  uint64_t number;  // 127
  char login[vl_random_login_size];  // login name or "system", zero-filled
  char reserved1;
};

// Fills `record` for the calling thread and the current time.
void vl_random32_record(uint32_t type, VlRandomRecord* record);
// XOR of the first three 32-bit words (host order) of the record's MD5.
uint32_t vl_random32_digest(const VlRandomRecord& record);

uint32_t vl_random32(uint32_t type);
