#include "table.h"
#include "views.h"

#include "vltest/device_description.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

namespace {

TEST(Table, ColumnsAlignOnTheWidestCell) {
  Table table({"NAME", "N"});
  table.add({"GeneratorRamp", "1"});
  table.add({"A"});
  EXPECT_EQ(table.render(), "NAME           N\nGeneratorRamp  1\nA\n");
}

TEST(Views, StatusShowsTheDescriptionsParts) {
  const VlJsonRef device(json_loads(vltest::device_description().c_str(), 0, nullptr));
  const std::string status = view_status(device.get());
  for (const char* part : {"Device: V D, serial S, version 1.3-", "veth0  198.18.0.1  255.255.255.0  02:00:00:00:00:01",
                           "AnalyzerRamp", "239.1.1.1  5004  veth0      GeneratorRamp L24/48000/2  -"})
    EXPECT_NE(status.find(part), std::string::npos) << part << " in\n" << status;
}

TEST(Views, LogPrioritiesByNameAndNumber) {
  EXPECT_EQ(log_priority_from_text("debug"), 700);
  EXPECT_EQ(log_priority_from_text("650"), 650);
  EXPECT_EQ(log_priority_from_text("loud"), -1);
  EXPECT_EQ(log_priority_name(300), "error");
  EXPECT_EQ(log_priority_name(650), "650");
}

}  // namespace
