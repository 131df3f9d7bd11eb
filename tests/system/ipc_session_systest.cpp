// Commands 6 to 8 of a running daemon: sessions are created, deleted and
// listed with their statistics.
#include "ipc_control.h"

#include <string>

namespace {

using namespace ipc_control;

constexpr int session_new = 6, session_del = 7, session_info = 8;

class SessionCommands : public OneDaemon {
 protected:
  size_t session_count() { return json_array_size(json_object_get(a_.describe().get(), "session_list")); }
};

std::string new_session(const std::string& address, const std::string& port, const std::string& interface) {
  return R"({"session_addr": )" + address + R"(, "session_port": )" + port + R"(, "network_interface_name": )" +
         interface + "}";
}

TEST_F(SessionCommands, NewAnswersTheSessionAndReusesAnEqualOne) {
  const std::string described =
      R"({"command": 6, "parameter": {"session_id": )" + session_id() +
      R"(, "network_interface_name": "veth0", "session_sender": {}, "session_receiver": {}}})";
  const std::string parameter = new_session(R"("239.77.8.1")", "5004", R"("veth0")");
  EXPECT_EQ(answer(session_new, parameter), described);
  EXPECT_EQ(answer(session_new, parameter), described);
  EXPECT_EQ(session_count(), 1u);
}

// An identity that cannot be kept whole is refused, not cut to fit.
TEST_F(SessionCommands, NewRefusesBadParametersAndIdentities) {
  const std::string bad_parameter = "Invalid parameter for add session command!";
  const std::string not_created = "Could not create new session!";
  const struct {
    std::string parameter;
    int type;
    const std::string& text;
  } cases[] = {
      {"{}", 22, bad_parameter},
      {R"("239.77.8.1")", 22, bad_parameter},
      {R"({"session_addr": "239.77.8.1", "session_port": 5004})", 22, bad_parameter},
      {new_session(R"("239.77.8.1")", R"("5004")", R"("veth0")"), 22, bad_parameter},
      {new_session(R"("239.77.8.1")", "70000", R"("veth0")"), 5, not_created},
      {new_session(R"("239.77.8.1")", "0", R"("veth0")"), 5, not_created},
      {new_session(R"("239.77.8.100.200")", "5004", R"("veth0")"), 5, not_created},
      {new_session(R"("239.77.8.1")", "5004", R"("nope0")"), 5, not_created},
  };
  for (const auto& c : cases) EXPECT_TRUE(refused(answer(session_new, c.parameter), session_new, c.type, c.text));
  EXPECT_EQ(session_count(), 0u);
}

TEST_F(SessionCommands, DelAnswersTheIdentityOfTheDeletedSession) {
  add_session();
  EXPECT_EQ(answer(session_del, R"({"session_id": )" + session_id() + "}"),
            R"({"command": 7, "parameter": {"session_id": )" + session_id() + "}}");
  EXPECT_EQ(session_count(), 0u);
}

TEST_F(SessionCommands, DelRefusesBadParametersAndUnknownSessions) {
  add_session();
  const std::string bad_parameter = "Invalid parameter for delete session command!";
  const std::string not_found = "Could not find session.";
  const struct {
    std::string parameter;
    const std::string& text;
  } cases[] = {
      {"{}", bad_parameter},
      {R"({"session_id": "239.77.8.1"})", bad_parameter},
      {R"({"session_id": )" + session_id("239.77.8.2") + "}", not_found},
      {R"({"session_id": )" + session_id(group, 0) + "}", not_found},
      {R"({"session_id": {}})", not_found},
  };
  for (const auto& c : cases) EXPECT_TRUE(refused(answer(session_del, c.parameter), session_del, 22, c.text));
  EXPECT_EQ(session_count(), 1u);
}

TEST_F(SessionCommands, InfoListsEverySessionNewestFirst) {
  EXPECT_EQ(answer(session_info, "null"), R"({"command": 8, "parameter": {"session_info_list": []}})");
  add_session();
  add_session("239.77.8.2", 5006);
  const std::string no_streams = R"(, "session_sender_info": {}, "session_receiver_info": {}})";
  EXPECT_EQ(answer(session_info, "{}"), R"({"command": 8, "parameter": {"session_info_list": [{"session_id": )" +
                                            session_id("239.77.8.2", 5006) + no_streams + R"(, {"session_id": )" +
                                            session_id() + no_streams + "]}}");
}

}  // namespace
