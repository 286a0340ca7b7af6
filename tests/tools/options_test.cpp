#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/reader-sim/options.h"

namespace readersim {
namespace {

ParseResult Parse(std::vector<std::string> args) {
  return ParseOptions(args);
}

TEST(ReaderSimOptions, DefaultsServeCom1WithTagsThatAllBeginE0) {
  const ParseResult result = Parse({});
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.options.port, 1);
  EXPECT_EQ(result.options.interval_ms, 500);
  EXPECT_EQ(result.options.scenario, Scenario::kNormal);
  EXPECT_FALSE(result.options.help);
  ASSERT_GE(result.options.tags.size(), 2u);
  for (const TagId& tag : result.options.tags) {
    EXPECT_EQ(tag[0], 0xE0) << TagText(tag);
  }
  EXPECT_NE(result.options.tags[0], result.options.tags[1]);
}

TEST(ReaderSimOptions, ReadsEveryOptionInBothSpellings) {
  const ParseResult spaced =
      Parse({"--port", "7", "--tags", "e004015012345678,E0040150AABBCCDD", "--interval", "250",
             "--scenario", "hangup", "--hangup-after", "30", "--return-after", "1500"});
  ASSERT_TRUE(spaced.ok) << spaced.error;
  EXPECT_EQ(spaced.options.port, 7);
  ASSERT_EQ(spaced.options.tags.size(), 2u);
  EXPECT_EQ(TagText(spaced.options.tags[0]), "E004015012345678");
  EXPECT_EQ(TagText(spaced.options.tags[1]), "E0040150AABBCCDD");
  EXPECT_EQ(spaced.options.interval_ms, 250);
  EXPECT_EQ(spaced.options.scenario, Scenario::kHangup);
  EXPECT_EQ(spaced.options.hangup_after, 30);
  EXPECT_EQ(spaced.options.return_after_ms, 1500);

  const ParseResult joined = Parse({"--port=0", "--tags=E0FFFFFFFFFFFFFF", "--scenario=noise"});
  ASSERT_TRUE(joined.ok) << joined.error;
  EXPECT_EQ(joined.options.port, 0);
  ASSERT_EQ(joined.options.tags.size(), 1u);
  EXPECT_EQ(TagText(joined.options.tags[0]), "E0FFFFFFFFFFFFFF");
  EXPECT_EQ(joined.options.scenario, Scenario::kNoise);

  for (const char* name : {"normal", "silent", "short", "long", "noise", "hangup", "chatty"}) {
    const ParseResult scenario = Parse({"--scenario", name});
    ASSERT_TRUE(scenario.ok) << name;
    EXPECT_STREQ(ScenarioName(scenario.options.scenario), name);
  }
  EXPECT_TRUE(Parse({"--help"}).options.help);
  EXPECT_TRUE(Parse({"-h"}).options.help);
}

TEST(ReaderSimOptions, MalformedTagsAreRefusedWithTheTagNamed) {
  const std::vector<std::string> bad_lists = {
      "E00401501234567",                    // 15 digits
      "E0040150123456789",                  // 17 digits
      "E00401501234567G",                   // not hex
      "E0 4015012345678",                   // a space
      "D004015012345678",                   // does not begin with E0
      "0E04015012345678",                   // E0 only across a digit boundary
      "E004015012345678,E00401501234",      // second one short
      "E004015012345678,,E0040150AABBCCDD"  // empty item
  };
  for (const std::string& list : bad_lists) {
    const ParseResult result = Parse({"--tags", list});
    EXPECT_FALSE(result.ok) << list;
    EXPECT_NE(result.error.find("tag"), std::string::npos) << result.error;
  }
  for (const std::string& list : {std::string(), std::string("E004015012345678,")}) {
    const ParseResult result = Parse({"--tags", list});
    EXPECT_FALSE(result.ok) << "'" << list << "'";
    EXPECT_FALSE(result.error.empty());
  }
  const ParseResult named = Parse({"--tags", "E004015012345678,F0040150AABBCCDD"});
  EXPECT_NE(named.error.find("F0040150AABBCCDD"), std::string::npos) << named.error;
}

TEST(ReaderSimOptions, BadOptionsAndValuesAreRefused) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},
      {"COM1"},
      {"--port"},
      {"--port", "256"},
      {"--port", "-1"},
      {"--port", "1x"},
      {"--port", ""},
      {"--interval", "0"},
      {"--interval", "fast"},
      {"--scenario", "loud"},
      {"--scenario", "Normal"},
      {"--hangup-after", "0"},
      {"--return-after", "0"},
      {"--hangup-after", "99999999999999"},
      {"--help=yes"},
      {"--tags"},
  };
  for (const auto& args : bad) {
    const ParseResult result = Parse(args);
    EXPECT_FALSE(result.ok) << args[0];
    EXPECT_FALSE(result.error.empty()) << args[0];
  }
  EXPECT_NE(Parse({"--bogus"}).error.find("--bogus"), std::string::npos);
  EXPECT_NE(Parse({"--scenario", "loud"}).error.find("loud"), std::string::npos);
}

}  // namespace
}  // namespace readersim
