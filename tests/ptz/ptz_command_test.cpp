#include "ptz/ptz_command.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ptz/preset_text.h"

namespace vantrel {
namespace {

using Build = std::function<void(CPTZCommandIf&)>;

struct FrameCase {
  const char* what;
  uint32_t protocol;
  uint16_t line;
  Build build;
  const char* text;  // the frame as sent, checksum included
};

void RunFrames(const std::vector<FrameCase>& cases) {
  for (const FrameCase& c : cases) {
    std::unique_ptr<CPTZCommandIf> builder = CreatePTZCommand(c.protocol, c.line);
    ASSERT_NE(builder, nullptr) << c.what;
    c.build(*builder);
    EXPECT_EQ(builder->GetText(), c.text) << c.what;
    // Reading the frame must not change it (the checksum is computed, not stored).
    EXPECT_EQ(builder->GetText(), c.text) << c.what << " (read twice)";
  }
}

TEST(PelcoDFrames, MatchTheProtocolTable) {
  // clang-format off
  RunFrames({
    {"right 0x20 line 0", 1, 0, [](auto& b) { b.Pan(true, 0x20); }, "FF010002200023"},
    {"left", 1, 0, [](auto& b) { b.Pan(false, 0x10); }, "FF010004100015"},
    {"up on line 2", 1, 2, [](auto& b) { b.Tilt(true, 0x3F); }, "FF030008003F4A"},
    {"down-left", 1, 0, [](auto& b) { b.Pan(false, 9); b.Tilt(false, 7); }, "FF010014090725"},
    {"direction flips clear the other bit", 1, 0, [](auto& b) { b.Pan(false, 1); b.Pan(true, 1); }, "FF010002010004"},
    {"zoom tele", 1, 0, [](auto& b) { b.Zoom(true, 3); }, "FF010020000021"},
    {"zoom wide", 1, 0, [](auto& b) { b.Zoom(false, 3); }, "FF010040000041"},
    {"focus far", 1, 0, [](auto& b) { b.Focus(true, 1); }, "FF010080000081"},
    {"focus near after far", 1, 0, [](auto& b) { b.Focus(true, 1); b.Focus(false, 1); }, "FF010100000002"},
    {"iris open", 1, 0, [](auto& b) { b.Iris(true, 1); }, "FF010200000003"},
    {"iris close", 1, 0, [](auto& b) { b.Iris(false, 1); }, "FF010400000005"},
    {"stop keeps data", 1, 0, [](auto& b) { b.Pan(true, 0x20); b.Stop(0); }, "FF010000200021"},
    {"store 1", 1, 0, [](auto& b) { b.StorePreset(1); }, "FF010003000105"},
    {"clear 5", 1, 0, [](auto& b) { b.ClearPreset(5); }, "FF01000500050B"},
    {"go to 32", 1, 0, [](auto& b) { b.GoToPreset(32); }, "FF010007002028"},
    {"go to 33 keeps frame", 1, 0, [](auto& b) { b.Pan(true, 0x20); b.GoToPreset(33); }, "FF010002200023"},
    {"go to 0 keeps frame", 1, 0, [](auto& b) { b.GoToPreset(0); }, "FF010000000001"},
    {"auto focus manual", 1, 0, [](auto& b) { b.SetAutoFocusMode(2); }, "FF01002B00022E"},
    {"auto iris auto", 1, 0, [](auto& b) { b.SetAutoIrisMode(1); }, "FF01002D00012F"},
    {"zoom speed", 1, 0, [](auto& b) { b.SetZoomSpeed(3); }, "FF010025000329"},
    {"focus speed", 1, 0, [](auto& b) { b.SetFocusSpeed(2); }, "FF01002700022A"},
    {"reset", 1, 0, [](auto& b) { b.Pan(true, 9); b.Reset(); }, "FF010000000001"},
    {"checksum wraps", 1, 254, [](auto& b) { b.Pan(true, 0x3F); b.Tilt(true, 0x3F); }, "FFFF000A3F3F87"},
  });
  // clang-format on
}

TEST(BiComFrames, MatchTheTemplates) {
  // clang-format off
  RunFrames({
    {"store 12", 3, 0, [](auto& b) { b.StorePreset(12); }, "80000201B08007040C"},
    {"go to 99", 3, 0, [](auto& b) { b.GoToPreset(99); }, "80000201B080070563"},
    {"pan right 15", 3, 0, [](auto& b) { b.Pan(true, 15); }, "8000060110858F0000"},
    {"up-left", 3, 0, [](auto& b) { b.Pan(false, 3); b.Tilt(true, 4); }, "800006011085" "03" "84" "00"},
    {"zoom wide 7", 3, 0, [](auto& b) { b.Zoom(false, 7); }, "800006011085000007"},
    {"speed cannot reach the direction bit", 3, 0, [](auto& b) { b.Pan(false, 0xFF); }, "8000060110857F0000"},
    {"lens frame replaced by movement", 3, 0, [](auto& b) { b.Focus(true, 1); b.Pan(true, 1); }, "800006011085810000"},
    {"focus far", 3, 0, [](auto& b) { b.Focus(true, 1); }, "80000401F0820001"},
    {"focus near", 3, 0, [](auto& b) { b.Focus(false, 1); }, "80000401F0820002"},
    {"iris open", 3, 0, [](auto& b) { b.Iris(true, 1); }, "80000401B0820002"},
    {"iris close", 3, 0, [](auto& b) { b.Iris(false, 1); }, "80000401B0820001"},
    {"auto focus manual", 3, 0, [](auto& b) { b.SetAutoFocusMode(2); }, "80000401F0020002"},
    {"auto focus auto", 3, 0, [](auto& b) { b.SetAutoFocusMode(1); }, "80000401F0020001"},
    {"auto iris manual", 3, 0, [](auto& b) { b.SetAutoIrisMode(2); }, "80000401B0020001"},
    {"auto iris auto", 3, 0, [](auto& b) { b.SetAutoIrisMode(1); }, "80000401B0020000"},
    {"stop movement", 3, 0, [](auto& b) { b.Pan(true, 5); b.Stop(0); }, "800006011085000000"},
    {"stop focus", 3, 0, [](auto& b) { b.Stop(1); }, "80000401F0820000"},
    {"stop iris", 3, 0, [](auto& b) { b.Stop(2); }, "80000401B0820000"},
    {"stop preset template", 3, 0, [](auto& b) { b.Stop(3); }, "80000201B080070000"},
    {"no clear, no speeds", 3, 0, [](auto& b) { b.ClearPreset(3); b.SetZoomSpeed(3); b.SetFocusSpeed(3); }, ""},
  });
  // clang-format on
}

TEST(OSRDFrames, MatchTheProtocolTable) {
  // clang-format off
  RunFrames({
    {"stop on line 1", 2, 1, [](auto& b) { b.Stop(0); }, "870001050000000D"},
    {"up-right 15 keeps pan speed", 2, 0, [](auto& b) { b.Pan(true, 15); b.Tilt(true, 15); },
     "870000050F78091C"},
    {"left 3", 2, 0, [](auto& b) { b.Pan(false, 3); }, "8700000500180226"},
    {"down 20 clamps to 15", 2, 0, [](auto& b) { b.Tilt(false, 20); }, "870000050F00041F"},
    {"zoom tele 9 clamps to 7", 2, 0, [](auto& b) { b.Zoom(true, 9); }, "870000057000201C"},
    {"zoom wide", 2, 0, [](auto& b) { b.Zoom(false, 2); }, "870000052000103C"},
    {"iris open", 2, 0, [](auto& b) { b.Iris(true, 1); }, "8700000510040020"},
    {"iris close", 2, 0, [](auto& b) { b.Iris(false, 1); }, "870000051002001E"},
    {"focus far", 2, 0, [](auto& b) { b.Focus(true, 1); }, "870000051001001D"},
    {"focus near", 2, 0, [](auto& b) { b.Focus(false, 1); }, "870000051000405C"},
    {"store 5", 2, 0, [](auto& b) { b.StorePreset(5); }, "86000007040516"},
    {"go to 200", 2, 0, [](auto& b) { b.GoToPreset(200); }, "8600000715486A"},
    {"preset limited to 1023", 2, 0, [](auto& b) { b.StorePreset(5000); }, "86000007747F00"},
    {"line above 127", 2, 300, [](auto& b) { b.Stop(0); }, "87022C050000003A"},
    {"preset frame becomes movement", 2, 0, [](auto& b) { b.StorePreset(1); b.Pan(true, 1); },
     "8700000500080115"},
    {"switches and speeds do nothing", 2, 0, [](auto& b) { b.SetAutoFocusMode(2); b.SetZoomSpeed(1); }, "00"},
  });
  // clang-format on
}

TEST(PTZCommandCapabilities, PerProtocol) {
  struct Row {
    uint32_t protocol;
    bool focusMode, irisMode, clear, zoomSpeed, focusSpeed;
    uint16_t first, last;
    PTZSpeedRanges ranges;
  };
  const Row rows[] = {
      {1, true, true, true, true, true, 1, 32, {3, 63, 0, 3}},
      {3, true, true, false, false, false, 1, 99, {1, 15, 1, 7}},
      {2, false, false, false, false, false, 1, 99, {1, 15, 1, 7}},
  };
  for (const Row& r : rows) {
    auto b = CreatePTZCommand(r.protocol, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->SupportsFocusMode(), r.focusMode) << r.protocol;
    EXPECT_EQ(b->SupportsIrisMode(), r.irisMode) << r.protocol;
    EXPECT_EQ(b->SupportsClearPreset(), r.clear) << r.protocol;
    EXPECT_EQ(b->SupportsZoomSpeed(), r.zoomSpeed) << r.protocol;
    EXPECT_EQ(b->SupportsFocusSpeed(), r.focusSpeed) << r.protocol;
    uint16_t first = 0, last = 0;
    b->GetPresetRange(first, last);
    EXPECT_EQ(first, r.first);
    EXPECT_EQ(last, r.last);
    const PTZSpeedRanges s = b->GetSpeedRanges();
    EXPECT_EQ(s.panTiltMin, r.ranges.panTiltMin);
    EXPECT_EQ(s.panTiltMax, r.ranges.panTiltMax);
    EXPECT_EQ(s.lensMin, r.ranges.lensMin);
    EXPECT_EQ(s.lensMax, r.ranges.lensMax);
  }
  EXPECT_EQ(CreatePTZCommand(0, 0), nullptr);
  EXPECT_EQ(CreatePTZCommand(4, 0), nullptr);
}

TEST(PresetText, NamesSlotsAndFileNames) {
  EXPECT_TRUE(IsValidPresetName(L"Door 1"));
  for (const wchar_t* bad : {L"", L"a&b", L"a!b", L"<x", L"x>", L"it's", L"\"q\""})
    EXPECT_FALSE(IsValidPresetName(bad)) << bad;

  struct SlotCase {
    const char* text;
    std::optional<uint32_t> slot;
  };
  const SlotCase slots[] = {{"0", 0u},
                            {" 12 ", 12u},
                            {"4294967295", 4294967295u},
                            {"4294967296", {}},
                            {"-1", {}},
                            {"+1", {}},
                            {"0x10", {}},
                            {"12abc", {}},
                            {"", {}},
                            {"  ", {}},
                            {"99999999999999999999", {}}};
  for (const SlotCase& c : slots) EXPECT_EQ(ParsePresetSlot(c.text), c.slot) << c.text;

  EXPECT_EQ(MakePresetFileName("Bosch", "cam 7"), "Bosch_cam7.preset");
  EXPECT_EQ(MakePresetFileName("Bosch", "00:1B:2C:03:04:05"), "Bosch_001B2C030405.preset");
  EXPECT_EQ(MakePresetFileName("Bosch", "..\\..\\x/y"), "Bosch_....xy.preset");
  EXPECT_EQ(MakePresetFileName("Bosch", " -:*"), "");
  EXPECT_EQ(PresetChannelElement(0), "PtzChannel01");
  EXPECT_EQ(PresetChannelElement(99), "PtzChannel100");
  EXPECT_EQ(PresetPositionElement(7), "Preposition007");
}

}  // namespace
}  // namespace vantrel
