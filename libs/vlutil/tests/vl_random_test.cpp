#include "vlutil/vl_random.h"

#include "vltest/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>

namespace {

// The fold of the record's MD5 as computed by /usr/bin/md5sum.
uint32_t md5sum_fold(const VlRandomRecord& record) {
  vltest::TempDir dir;
  const std::string path = dir.path() + "/record";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(&record), sizeof record);
  FILE* pipe = popen(("/usr/bin/md5sum " + path).c_str(), "r");
  if (!pipe) return 0;
  char hex[33] = {};
  const size_t n = fread(hex, 1, 32, pipe);
  pclose(pipe);
  if (n != 32) return 0;
  uint8_t digest[16];
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
  uint32_t words[4];
  std::memcpy(words, digest, sizeof words);
  return words[0] ^ words[1] ^ words[2];
}

TEST(VlRandom, RecordHoldsTypeTimeProcessThreadAndLogin) {
  VlRandomRecord record;
  std::memset(&record, 0xee, sizeof record);
  vl_random32_record(5, &record);
  EXPECT_EQ(record.type, 5u);
  EXPECT_EQ(record.reserved0, 0u);
  EXPECT_NEAR(static_cast<double>(record.time), static_cast<double>(time(nullptr)), 2.0);
  EXPECT_EQ(record.pid, static_cast<uint32_t>(getpid()));
  EXPECT_EQ(record.tid, static_cast<uint32_t>(gettid()));
  EXPECT_EQ(record.number, 127u);
  char login[256] = {};
  const std::string expected = getlogin_r(login, sizeof login) == 0 && login[0] ? login : "system";
  EXPECT_EQ(std::string(record.login), expected);
  for (size_t i = expected.size(); i < sizeof record.login; ++i) ASSERT_EQ(record.login[i], 0) << i;
  EXPECT_EQ(record.reserved1, 0);
}

TEST(VlRandom, DigestIsTheFoldedMd5OfTheRecord) {
  VlRandomRecord record;
  std::memset(&record, 0, sizeof record);
  record.type = 0;
  record.time = 1700000000;
  record.clock = 4242;
  record.pid = 1234;
  record.tid = 1235;
  record.number = 127;
  std::strcpy(record.login, "system");
  const uint32_t digest = vl_random32_digest(record);
  EXPECT_EQ(digest, md5sum_fold(record));
  record.type = 1;
  EXPECT_NE(vl_random32_digest(record), digest);
}

TEST(VlRandom, IdentifiersDifferAcrossCallsTypesAndThreads) {
  std::set<uint32_t> seen;
  for (int i = 0; i < 100; ++i) seen.insert(vl_random32(0));
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_NE(vl_random32(0), vl_random32(1));
  uint32_t other = 0;
  std::thread([&other] { other = vl_random32(0); }).join();
  EXPECT_EQ(seen.count(other), 0u);
}

}  // namespace
