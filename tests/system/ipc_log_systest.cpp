// Commands 18 and 19 against a real streamerd: its log categories and their
// priorities.
#include "ipc_control.h"

#include <string>

namespace {

using ipc_control::refused;

class LogCommands : public ipc_control::OneDaemon {
 protected:
  // The own priority "log_categories" lists for `name`; -1 when it is not listed.
  json_int_t listed_priority(const char* name) {
    const VlJsonRef list = a_.result(19, "{}");
    const json_t* priority = json_object_get(json_object_get(list.get(), "log_category_list"), name);
    return priority ? json_integer_value(priority) : -1;
  }
};

TEST_F(LogCommands, CategoriesListEveryCategoryWithItsOwnPriority) {
  for (const char* parameter : {"{}", "null", "[7]"})
    EXPECT_TRUE(answer(19, parameter).starts_with(R"({"command": 19, "parameter": {"log_category_list": {)"))
        << parameter;
  EXPECT_GE(listed_priority("root"), 0);
  EXPECT_EQ(listed_priority("velanto"), 900);  // its own: not set, so it logs at root's
}

TEST_F(LogCommands, PrioritySetAnswersNullAndCreatesACategoryThatIsNew) {
  ASSERT_EQ(listed_priority("velanto.lab.new"), -1);
  EXPECT_EQ(answer(18, R"({"log_category": "velanto.lab.new", "log_priority": 700})"),
            R"({"command": 18, "parameter": null})");
  EXPECT_EQ(listed_priority("velanto.lab.new"), 700);
}

TEST_F(LogCommands, PrioritySetTakesTheLow16BitsAndRefusesWhatLog4cCannotName) {
  const struct {
    json_int_t priority;
    json_int_t set;  // -1: refused, the priority stays
  } cases[] = {{0, 0}, {900, 900}, {65536 + 700, 700}, {901, -1}, {1000, -1}, {-1, -1}, {65535, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.priority);
    const std::string parameter = R"({"log_category": "velanto", "log_priority": )" + std::to_string(c.priority) + "}";
    const json_int_t before = listed_priority("velanto");
    if (c.set >= 0) {
      EXPECT_EQ(answer(18, parameter), R"({"command": 18, "parameter": null})");
      EXPECT_EQ(listed_priority("velanto"), c.set);
    } else {
      EXPECT_TRUE(refused(answer(18, parameter), 18, 22, "Invalid priority " + std::to_string(c.priority & 0xffff) + "."));
      EXPECT_EQ(listed_priority("velanto"), before);
    }
  }
  // A refused priority creates no category.
  EXPECT_TRUE(refused(answer(18, R"({"log_category": "velanto.lab.refused", "log_priority": 1000})"), 18, 22,
                      "Invalid priority 1000."));
  EXPECT_EQ(listed_priority("velanto.lab.refused"), -1);
}

TEST_F(LogCommands, PrioritySetRefusesBadParameters) {
  for (const char* parameter : {"{}", R"({"log_category": "velanto"})", R"({"log_priority": 700})",
                                R"({"log_category": 1, "log_priority": 700})",
                                R"({"log_category": "velanto", "log_priority": "700"})", "null"})
    EXPECT_TRUE(refused(answer(18, parameter), 18, 22, "Invalid parameter list for set log priority request!"))
        << parameter;
}

}  // namespace
