#include "vl/vl_net.h"

#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>
#include <memory>
#include <string>

namespace {

using List = std::unique_ptr<VlNetworkInterface>;

std::string dumped(const json_t* json) {
  char* text = json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER);
  std::string result = text ? text : "";
  free(text);
  return result;
}

VlJsonRef parsed(const std::string& text) { return VlJsonRef(json_loads(text.c_str(), 0, nullptr)); }

// 192.168.1.10 and 255.255.255.0 as stored: network byte order read as a
// host integer.
const std::string eth0 =
    R"({"network_interface_name":"eth0","network_interface_mac":[0,27,33,58,79,16],)"
    R"("network_interface_addr":167880896,"network_interface_mask":16777215,"network_interface_type":1})";
const std::string eth1 =
    R"({"network_interface_name":"eth1","network_interface_mac":[0,0,0,0,0,2],)"
    R"("network_interface_addr":167880897,"network_interface_mask":16777215,"network_interface_type":2})";

TEST(NetworkInterfaceJson, EncodesAsStoredAndDecodesInReverseOrder) {
  const List list(vl_network_interface_decode(parsed("[" + eth0 + "," + eth1 + "]").get()));
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list->entry.name, "eth1");
  ASSERT_NE(list->next, nullptr);
  EXPECT_EQ(list->next->entry.addr, inet_addr("192.168.1.10"));
  EXPECT_EQ(list->next->entry.mac[1], 27);
  EXPECT_EQ(list->next->send_manager, nullptr);
  EXPECT_EQ(dumped(VlJsonRef(vl_network_interface_encode(list.get())).get()), "[" + eth1 + "," + eth0 + "]");
  EXPECT_EQ(dumped(VlJsonRef(vl_network_interface_encode(nullptr)).get()), "[]");
}

TEST(NetworkInterfaceJson, SkipsEntriesThatCannotStream) {
  const std::string cases[] = {
      R"({"network_interface_addr":1,"network_interface_mask":1,"network_interface_type":1})",
      R"({"network_interface_name":"e","network_interface_mask":1,"network_interface_type":1})",
      R"({"network_interface_name":"e","network_interface_addr":1,"network_interface_type":1})",
      R"({"network_interface_name":"e","network_interface_addr":1,"network_interface_mask":1})",
      // 16 characters: longer than any interface name can be.
      R"({"network_interface_name":"abcdefghijklmnop","network_interface_addr":1,"network_interface_mask":1,)"
      R"("network_interface_type":1})",
  };
  for (const std::string& entry : cases) {
    errno = 0;
    EXPECT_EQ(List(vl_network_interface_decode(parsed("[" + entry + "]").get())), nullptr) << entry;
    EXPECT_EQ(errno, EINVAL);
  }
  const List longest(vl_network_interface_decode(
      parsed(R"([{"network_interface_name":"abcdefghijklmno","network_interface_addr":1,)"
             R"("network_interface_mask":1,"network_interface_type":1}])")
          .get()));
  ASSERT_NE(longest, nullptr);
  EXPECT_EQ(vl_network_interface_find(longest.get(), "abcdefghijklmno"), longest.get());
}

TEST(NetworkInterfaceJson, DecodeWantsAnArray) {
  errno = 0;
  EXPECT_EQ(vl_network_interface_decode(parsed(eth0).get()), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

TEST(NetworkInterface, FindsByWholeName) {
  const List list(vl_network_interface_decode(parsed("[" + eth0 + "," + eth1 + "]").get()));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(vl_network_interface_find(list.get(), "eth0"), list->next.get());
  EXPECT_EQ(vl_network_interface_find(list.get(), "eth"), nullptr);
  EXPECT_EQ(vl_network_interface_find(list.get(), "eth00"), nullptr);
  EXPECT_EQ(vl_network_interface_find(list.get(), nullptr), nullptr);
  EXPECT_EQ(vl_network_interface_find(nullptr, "eth0"), nullptr);
}

TEST(NetworkInterface, StreamingTypesHaveBitZeroOrOne) {
  VlNetworkInterface node;
  const bool expected[] = {false, true, true, true};
  for (uint8_t type = 0; type < 4; ++type) {
    node.type = type;
    EXPECT_EQ(vl_network_interface_is_streaming_ifc(&node), expected[type]);
  }
  EXPECT_FALSE(vl_network_interface_is_streaming_ifc(nullptr));
}

TEST(NetworkInterface, MacDecodeZeroesWhatIsNotSixIntegers) {
  uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
  vl_network_interface_mac_decode(mac, parsed("[1,2,3,4,5]").get());
  EXPECT_EQ(dumped(VlJsonRef(vl_network_interface_mac_encode(mac)).get()), "[0,0,0,0,0,0]");
  vl_network_interface_mac_decode(mac, parsed("[10,11,12,13,14,15,16]").get());
  EXPECT_EQ(dumped(VlJsonRef(vl_network_interface_mac_encode(mac)).get()), "[10,11,12,13,14,15]");
  EXPECT_EQ(dumped(VlJsonRef(vl_network_interface_mac_encode(nullptr)).get()), "[]");
}

}  // namespace
