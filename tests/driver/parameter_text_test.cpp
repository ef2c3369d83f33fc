#include "driver/parameter_text.h"

#include <gtest/gtest.h>

#include "core/driver_services.h"

namespace vantrel {
namespace {

TEST(ParameterText, NoneMeansEmptyButOnlyExactly) {
  EXPECT_EQ(ParameterText(std::nullopt), "");
  EXPECT_EQ(ParameterText("(none)"), "");
  EXPECT_EQ(ParameterText("(none)x"), "(none)x");
  EXPECT_EQ(ParameterText("(NONE)"), "(NONE)");
  EXPECT_EQ(ParameterText(""), "");
  EXPECT_EQ(ParameterText("7.10"), "7.10");
}

TEST(ParameterInt, DecimalOnlyElseMissing) {
  struct Case {
    std::optional<std::string_view> text;
    int32_t value;
  };
  const Case cases[] = {
      {std::nullopt, kParameterMissing},
      {"0", 0},
      {"3", 3},
      {" 25 ", 25},
      {"+7", 7},
      {"-1", -1},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", kParameterMissing},  // the sentinel itself cannot be told apart
      {"2147483648", kParameterMissing},
      {"99999999999999999999", kParameterMissing},
      {"", kParameterMissing},
      {" ", kParameterMissing},
      {"-", kParameterMissing},
      {"(none)", kParameterMissing},
      {"3 fps", kParameterMissing},
      {"0x10", kParameterMissing},
      {"1.5", kParameterMissing},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParameterInt(c.text), c.value) << (c.text ? std::string(*c.text) : "<absent>");
  }
}

TEST(AudioCapability, BothNumbersRequired) {
  struct Case {
    const char* text;
    bool parses;
    uint32_t count;
    bool stereo;
  };
  const Case cases[] = {
      {"Count=1; IsStereo=0", true, 1, false},
      {"Count=2; IsStereo=1", true, 2, true},
      {"Count=2;IsStereo=1", true, 2, true},
      {"Count=0; IsStereo=0", true, 0, false},
      {"Count=1; IsStereo=2", true, 1, false},  // only 1 means stereo
      {"Count=4294967295; IsStereo=0", true, 4294967295u, false},
      {"Count=4294967296; IsStereo=0", false, 0, false},
      {"Count=-1; IsStereo=0", false, 0, false},  // no silent wrap to a huge channel count
      {"Count=1", false, 0, false},
      {"Count=1; IsStereo=", false, 0, false},
      {"count=1; IsStereo=0", false, 0, false},
      {"", false, 0, false},
  };
  for (const Case& c : cases) {
    auto cap = ParseAudioCapability(c.text);
    ASSERT_EQ(cap.has_value(), c.parses) << c.text;
    if (!cap) continue;
    EXPECT_EQ(cap->count, c.count) << c.text;
    EXPECT_EQ(cap->stereo, c.stereo) << c.text;
  }
}

TEST(AudioStep, RulesOfOpen) {
  struct Case {
    const char* in;
    const char* out;
    uint32_t captureCount, senderCount;
    // Whether the step succeeds: with nothing created, and with every planned object created.
    bool okWithNothing, okWithPlanned;
  };
  const Case cases[] = {
      {nullptr, nullptr, 0, 0, true, true},
      {"Count=0; IsStereo=0", nullptr, 0, 0, false, false},  // asked, but nothing to make: fails
      {nullptr, "Count=0; IsStereo=0", 0, 0, false, false},
      {"garbage", nullptr, 0, 0, false, false},
      {"Count=1; IsStereo=0", nullptr, 1, 0, false, true},
      {nullptr, "Count=2; IsStereo=1", 0, 2, false, true},
      {"Count=1; IsStereo=0", "Count=0; IsStereo=0", 1, 0, false, true},
      {"Count=1; IsStereo=0", "Count=1; IsStereo=0", 1, 1, false, true},
  };
  for (const Case& c : cases) {
    const AudioStepPlan plan = PlanAudioStep(c.in, c.out);
    const std::string label = std::string(c.in ? c.in : "-") + " / " + (c.out ? c.out : "-");
    EXPECT_EQ(plan.captureCount, c.captureCount) << label;
    EXPECT_EQ(plan.senderCount, c.senderCount) << label;
    EXPECT_EQ(AudioStepSucceeded(plan, false, false), c.okWithNothing) << label;
    EXPECT_EQ(AudioStepSucceeded(plan, plan.captureCount != 0, plan.senderCount != 0), c.okWithPlanned)
        << label;
  }
}

}  // namespace
}  // namespace vantrel
