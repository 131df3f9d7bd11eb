#include "vlutil/vl_random.h"

#include <md5.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

static_assert(sizeof(VlRandomRecord) == 4 + 4 + 8 + 8 + 4 + 4 + 8 + 127 + 1, "the record has no hidden padding");

namespace {

// Into a zero-filled field; longer names are cut.
void copy_login(char (&login)[vl_random_login_size]) {
  char name[256] = {};
  const bool known = getlogin_r(name, sizeof name) == 0 && name[0] != '\0';
  const char* source = known ? name : "system";
  std::memcpy(login, source, std::min(std::strlen(source), sizeof login - 1));
}

}  // namespace

void vl_random32_record(uint32_t type, VlRandomRecord* record) {
  std::memset(record, 0, sizeof *record);
  record->type = type;
  record->time = static_cast<int64_t>(std::time(nullptr));
  record->clock = static_cast<int64_t>(std::clock());
  record->pid = static_cast<uint32_t>(getpid());
  record->tid = static_cast<uint32_t>(gettid());
  record->number = 127;
  copy_login(record->login);
}

uint32_t vl_random32_digest(const VlRandomRecord& record) {
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, reinterpret_cast<const uint8_t*>(&record), sizeof record);
  uint8_t digest[MD5_DIGEST_LENGTH];
  MD5Final(digest, &context);
  uint32_t words[4];
  std::memcpy(words, digest, sizeof words);
  return words[0] ^ words[1] ^ words[2];
}

uint32_t vl_random32(uint32_t type) {
  VlRandomRecord record;
  vl_random32_record(type, &record);
  return vl_random32_digest(record);
}
