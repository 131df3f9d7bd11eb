#include "vl/vl_receiver_info.h"

#include "vltest/log_capture.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint32_t> reporters(const VlReceiverInfo* list) {
  std::vector<uint32_t> result;
  for (; list; list = list->next) result.push_back(list->reporter_ssrc);
  return result;
}

// A block whose words are base, base + 1, ... base + 5.
struct Block {
  explicit Block(uint32_t base) {
    for (int i = 0; i < vl_report_block_words; ++i) words[i] = base + static_cast<uint32_t>(i);
  }
  uint32_t words[vl_report_block_words];
};

VlReceiverInfoPtr list_of(const std::vector<uint32_t>& reporters_last_first) {
  VlReceiverInfo* list = nullptr;
  for (uint32_t reporter : reporters_last_first) list = vl_receiver_info_update(list, reporter, Block(reporter).words);
  return VlReceiverInfoPtr(list);
}

std::string compact(const json_t* json) {
  std::unique_ptr<char, decltype(&std::free)> text(json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER), &std::free);
  return text ? text.get() : "";
}

TEST(VlReceiverInfoUpdate, OneEntryPerReporterNewestFirst) {
  VlReceiverInfoPtr list(vl_receiver_info_update(nullptr, 7, Block(100).words));
  ASSERT_TRUE(list);
  EXPECT_EQ(list->reporter_ssrc, 7u);
  EXPECT_EQ(list->ssrc, 100u);
  EXPECT_EQ(list->dlsr, 105u);
  EXPECT_EQ(list->updated, 1);

  // A second report of the same receiver overwrites its entry.
  VlReceiverInfo* head = vl_receiver_info_update(list.get(), 7, Block(200).words);
  EXPECT_EQ(head, list.get());
  EXPECT_EQ(reporters(head), (std::vector<uint32_t>{7}));
  EXPECT_EQ(head->ssrc, 200u);
  EXPECT_EQ(head->lost, 201u);
  EXPECT_EQ(head->last_seq, 202u);
  EXPECT_EQ(head->jitter, 203u);
  EXPECT_EQ(head->lsr, 204u);
  EXPECT_EQ(head->dlsr, 205u);

  list.release();
  list.reset(vl_receiver_info_update(head, 8, Block(300).words));
  EXPECT_EQ(reporters(list.get()), (std::vector<uint32_t>{8, 7}));
}

TEST(VlReceiverInfoSweep, ReceiversThatStopReportingDisappear) {
  VlReceiverInfo* list = vl_receiver_info_update(nullptr, 7, Block(1).words);
  list = vl_receiver_info_update(list, 7, Block(2).words);
  // The sweep closing the interval with the reports keeps the entry.
  list = vl_receiver_info_remove_outdated(list);
  ASSERT_EQ(reporters(list), (std::vector<uint32_t>{7}));
  EXPECT_EQ(list->updated, 0);
  // No report in the next interval.
  list = vl_receiver_info_remove_outdated(list);
  EXPECT_EQ(list, nullptr);
}

TEST(VlReceiverInfoSweep, UpdatedEntriesSurviveInTheirOrder) {
  VlReceiverInfoPtr list = list_of({5, 4, 3, 2, 1});  // 1 2 3 4 5
  VlReceiverInfo* head = vl_receiver_info_remove_outdated(list.release());
  for (uint32_t reporter : {1u, 3u, 5u}) head = vl_receiver_info_update(head, reporter, Block(9).words);
  list.reset(vl_receiver_info_remove_outdated(head));
  EXPECT_EQ(reporters(list.get()), (std::vector<uint32_t>{1, 3, 5}));
  EXPECT_EQ(vl_receiver_info_remove_outdated(nullptr), nullptr);
}

TEST(VlReceiverInfoRemove, RemovesOnlyTheFirstEntryOfTheReporter) {
  VlReceiverInfoPtr list = list_of({3, 2, 1});  // 1 2 3
  list.reset(vl_receiver_info_remove_by_ssrc(list.release(), 2));
  EXPECT_EQ(reporters(list.get()), (std::vector<uint32_t>{1, 3}));
  list.reset(vl_receiver_info_remove_by_ssrc(list.release(), 1));
  EXPECT_EQ(reporters(list.get()), (std::vector<uint32_t>{3}));
  list.reset(vl_receiver_info_remove_by_ssrc(list.release(), 42));
  EXPECT_EQ(reporters(list.get()), (std::vector<uint32_t>{3}));
  list.reset(vl_receiver_info_remove_by_ssrc(list.release(), 3));
  EXPECT_FALSE(list);
  EXPECT_EQ(vl_receiver_info_remove_by_ssrc(nullptr, 3), nullptr);
}

TEST(VlReceiverInfoCname, StoresAtMost126CharactersOnTheReportersEntry) {
  VlReceiverInfoPtr list = list_of({2, 1});
  vl_receiver_info_update_cname(list.get(), 2, "user@host");
  EXPECT_STREQ(list->next->cname, "user@host");
  EXPECT_STREQ(list->cname, "");

  const std::string long_cname(200, 'c');
  vl_receiver_info_update_cname(list.get(), 1, long_cname.c_str());
  EXPECT_EQ(std::string(list->cname), std::string(126, 'c'));
  vl_receiver_info_update_cname(list.get(), 1, "short");
  EXPECT_STREQ(list->cname, "short");

  vl_receiver_info_update_cname(list.get(), 99, "nobody");
  vl_receiver_info_update_cname(list.get(), 1, nullptr);
  EXPECT_STREQ(list->cname, "short");
}

TEST(VlReceiverInfoCopy, DeepCopyInReverseOrder) {
  VlReceiverInfoPtr list = list_of({3, 2, 1});  // 1 2 3
  vl_receiver_info_update_cname(list.get(), 2, "two");
  VlReceiverInfoPtr copy(vl_receiver_info_copy(list.get()));
  EXPECT_EQ(reporters(copy.get()), (std::vector<uint32_t>{3, 2, 1}));
  EXPECT_STREQ(copy->next->cname, "two");
  EXPECT_EQ(copy->ssrc, 3u);
  list->next->ssrc = 0;
  EXPECT_EQ(copy->next->ssrc, 2u);
  EXPECT_EQ(vl_receiver_info_copy(nullptr), nullptr);
}

TEST(VlReceiverInfoJson, EncodesNineMembersInOrderAndDecodesInArrayOrder) {
  VlReceiverInfoPtr list = list_of({2, 1});
  list->report_count = 4;
  list->ssrc = 4294967295u;
  vl_receiver_info_update_cname(list.get(), 1, "one");
  VlJsonRef json(vl_receiver_info_encode(list.get()));
  EXPECT_EQ(compact(json.get()),
            "[{\"rtcp_seqno\":4,\"rtcp_cname\":\"one\",\"rtcp_ssrc\":4294967295,\"rtcp_lost\":2,"
            "\"rtcp_last_seq\":3,\"rtcp_jitter\":4,\"rtcp_lsr\":5,\"rtcp_dlsr\":6,\"rtcp_reporter_ssrc\":1},"
            "{\"rtcp_seqno\":0,\"rtcp_cname\":\"\",\"rtcp_ssrc\":2,\"rtcp_lost\":3,"
            "\"rtcp_last_seq\":4,\"rtcp_jitter\":5,\"rtcp_lsr\":6,\"rtcp_dlsr\":7,\"rtcp_reporter_ssrc\":2}]");

  VlReceiverInfoPtr back(vl_receiver_info_decode(json.get()));
  ASSERT_TRUE(back);
  ASSERT_TRUE(back->next);
  EXPECT_EQ(back->next->next, nullptr);
  EXPECT_EQ(back->ssrc, 4294967295u);
  EXPECT_EQ(back->report_count, 4u);
  EXPECT_STREQ(back->cname, "one");
  EXPECT_EQ(back->dlsr, 6u);
  EXPECT_EQ(back->next->ssrc, 2u);
  // The reporter (the list's key) travels, the flag does not.
  EXPECT_EQ(back->reporter_ssrc, 1u);
  EXPECT_EQ(back->updated, 0);

  VlJsonRef empty(vl_receiver_info_encode(nullptr));
  EXPECT_EQ(compact(empty.get()), "[]");
}

TEST(VlReceiverInfoJson, DecodeSkipsElementsOfTheWrongSize) {
  vltest::LogCapture capture;
  VlJsonRef json(json_loads(
      "[{\"rtcp_seqno\":1,\"rtcp_cname\":\"a\",\"rtcp_ssrc\":11,\"rtcp_lost\":0,\"rtcp_last_seq\":0,"
      "\"rtcp_jitter\":0,\"rtcp_lsr\":0,\"rtcp_dlsr\":0},"
      "{\"rtcp_seqno\":2,\"rtcp_cname\":\"b\",\"rtcp_ssrc\":22,\"rtcp_lost\":0,\"rtcp_last_seq\":0,"
      "\"rtcp_jitter\":0,\"rtcp_lsr\":0}]",
      0, nullptr));
  VlReceiverInfoPtr list(vl_receiver_info_decode(json.get()));
  ASSERT_TRUE(list);
  EXPECT_EQ(list->next, nullptr);
  EXPECT_EQ(list->ssrc, 11u);
  EXPECT_EQ(capture.count("Invalid size for VlReceiverInfo json object!"), 1);
  EXPECT_EQ(capture.count("Invalid size for VlReceiverInfo json object! Should be 9, but is 7!"), 1);

  VlJsonRef not_objects(json_loads("[1, \"x\"]", 0, nullptr));
  EXPECT_EQ(vl_receiver_info_decode(not_objects.get()), nullptr);
  EXPECT_EQ(capture.count("Should be 9, but is 0!"), 2);

  VlJsonRef empty(json_array());
  EXPECT_EQ(vl_receiver_info_decode(empty.get()), nullptr);
  EXPECT_EQ(vl_receiver_info_decode(nullptr), nullptr);
}

TEST(VlReceiverInfoJson, DecodeCutsLongCnamesAndPassesOverForeignKeys) {
  vltest::LogCapture capture;
  const std::string long_cname(300, 'n');
  VlJsonRef element(json_pack("{s:i, s:s, s:i, s:i, s:i, s:i, s:i, s:I}", "rtcp_seqno", 1, "rtcp_cname",
                              long_cname.c_str(), "rtcp_ssrc", 3, "rtcp_lost", 4, "rtcp_last_seq", 5, "rtcp_jitter",
                              6, "rtcp_lsr", 7, "rtcp_reporter", static_cast<json_int_t>(8)));
  VlJsonRef array(json_pack("[O]", element.get()));
  VlReceiverInfoPtr list(vl_receiver_info_decode(array.get()));
  ASSERT_TRUE(list);
  EXPECT_EQ(std::string(list->cname), std::string(126, 'n'));
  EXPECT_EQ(list->lsr, 7u);
  EXPECT_EQ(list->dlsr, 0u);
  EXPECT_EQ(list->reporter_ssrc, 0u);
  EXPECT_EQ(capture.count("VlReceiverInfo: Unknown key rtcp_reporter inside json object!"), 1);
}

TEST(VlReceiverInfoJson, CnameBytesThatAreNotUtf8StillEncode) {
  VlReceiverInfoPtr list = list_of({1});
  vl_receiver_info_update_cname(list.get(), 1, "h\xff\xfe" "st");
  VlJsonRef json(vl_receiver_info_encode(list.get()));
  ASSERT_TRUE(json);
  const json_t* element = json_array_get(json.get(), 0);
  EXPECT_EQ(json_object_size(element), 9u);
  EXPECT_STREQ(json_string_value(json_object_get(element, "rtcp_cname")), "h??st");
  // The stored bytes stay as received.
  EXPECT_STREQ(list->cname, "h\xff\xfe" "st");
}

}  // namespace
