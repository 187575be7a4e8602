// Preferences as the defaults system reads them, including values of the
// wrong type that an older version or the user may have stored.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "sim_process.h"
#include "sim_world.h"

namespace qm::sim {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

class PreferencesTest : public ::testing::Test {
 protected:
  Preferences& defaults() { return process.platform().preferences; }

  World world{"/nonexistent/home"};
  Process process{world};
};

TEST_F(PreferencesTest, IntegerReadsConvertEveryStoredType) {
  EXPECT_EQ(defaults().integerForKey("absent"), 0);
  world.setBoolPreference("k", true);
  EXPECT_EQ(defaults().integerForKey("k"), 1);
  world.setDoublePreference("k", -7.9);
  EXPECT_EQ(defaults().integerForKey("k"), -7);
  world.setDoublePreference("k", 1e30);
  EXPECT_EQ(defaults().integerForKey("k"), kMax);
  world.setDoublePreference("k", std::nan(""));
  EXPECT_EQ(defaults().integerForKey("k"), 0);

  const std::pair<const char*, std::int64_t> strings[] = {
      {"12abc", 12},
      {"abc", 0},
      {"  \t-42", -42},
      {"+7", 7},
      {"3.9", 3},
      {"- 5", 0},
      {"", 0},
      {"9223372036854775807", kMax},
      {"99999999999999999999", kMax},
      {"-9223372036854775808", kMin},
      {"-99999999999999999999", kMin},
  };
  for (const auto& [text, expected] : strings) {
    world.setStringPreference("k", text);
    EXPECT_EQ(defaults().integerForKey("k"), expected) << '"' << text << '"';
  }
}

TEST_F(PreferencesTest, BoolReadsConvertEveryStoredType) {
  EXPECT_FALSE(defaults().boolForKey("absent"));
  world.setIntegerPreference("k", 2);
  EXPECT_TRUE(defaults().boolForKey("k"));
  world.setIntegerPreference("k", 0);
  EXPECT_FALSE(defaults().boolForKey("k"));
  world.setDoublePreference("k", 0.5);
  EXPECT_TRUE(defaults().boolForKey("k"));

  for (const char* yes : {"YES", "yes", "true", "T", "1", "  +007", "-1", "9 lives"}) {
    world.setStringPreference("k", yes);
    EXPECT_TRUE(defaults().boolForKey("k")) << '"' << yes << '"';
  }
  for (const char* no : {"NO", "no", "false", "0", "000", "", " ", "off", "0.9"}) {
    world.setStringPreference("k", no);
    EXPECT_FALSE(defaults().boolForKey("k")) << '"' << no << '"';
  }
}

TEST_F(PreferencesTest, WritesAreTypedAndOutliveTheProcess) {
  defaults().setInteger(600, "interval");
  defaults().setBool(false, "enabled");
  EXPECT_TRUE(defaults().hasObjectForKey("enabled"));
  EXPECT_EQ(world.integerPreference("interval"), 600);
  EXPECT_EQ(world.boolPreference("interval"), std::nullopt);
  EXPECT_EQ(world.boolPreference("enabled"), false);

  Process next{world};
  Preferences& later = next.platform().preferences;
  EXPECT_EQ(later.integerForKey("interval"), 600);
  later.removeObjectForKey("interval");
  EXPECT_FALSE(defaults().hasObjectForKey("interval"));
  EXPECT_EQ(world.preference("interval"), nullptr);
}

}  // namespace
}  // namespace qm::sim
