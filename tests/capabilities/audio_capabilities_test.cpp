#include "capabilities/audio_capabilities.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(AudioCapabilities, ParsesOnlyCompleteTexts) {
  struct Case {
    const char* text;
    bool parsed;
    uint32_t count;
    bool stereo;
  };
  // Starting from count 7, stereo: a text that is refused must leave both untouched.
  const Case cases[] = {
      {"Count=2; IsStereo=1", true, 2, true},
      {"Count=2; IsStereo=2", true, 2, false},
      {"Count=0;IsStereo=0", true, 0, false},
      {"Count=4294967295; IsStereo=1", true, 4294967295u, true},
      {"Count=2", false, 7, true},
      {"", false, 7, true},
      {"Count=-1; IsStereo=0", false, 7, true},
      {"Count=4294967296; IsStereo=0", false, 7, true},
      {"count=2; IsStereo=1", false, 7, true},
      {"Count=2; IsStereo=", false, 7, true},
  };
  for (const Case& c : cases) {
    CAudioCapabilities caps(7, true);
    EXPECT_EQ(caps.FromText(c.text), c.parsed) << c.text;
    EXPECT_EQ(caps.count, c.count) << c.text;
    EXPECT_EQ(caps.stereo, c.stereo) << c.text;
  }
}

TEST(AudioCapabilities, TextRoundTrips) {
  EXPECT_EQ(CAudioCapabilities(1, false).ToText(), "Count=1; IsStereo=0");
  EXPECT_EQ(CAudioCapabilities(2, true).ToText(), "Count=2; IsStereo=1");
  CAudioCapabilities back;
  ASSERT_TRUE(back.FromText(CAudioCapabilities(3, true).ToText()));
  EXPECT_EQ(back.count, 3u);
  EXPECT_TRUE(back.stereo);
}

}  // namespace
}  // namespace vantrel
