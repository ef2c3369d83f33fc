// The PTZ queue and the control's bookkeeping, without a camera: nothing here reaches the
// network because the queue thread is never started or the protocol sends nothing.
#include "ptz/ptz_comm.h"

#include <gtest/gtest.h>

#include "ptz/ptz_control.h"
#include "support/fake_driver.h"

namespace vantrel {
namespace {

TEST(PTZComm, WaitingCommandsAreCappedAndAMovementStopDropsThem) {
  testing::FakeDriver driver;
  CBoschPTZComm comm(&driver, 0, kPTZProtocolPelcoD);
  for (uint32_t i = 0; i < 9; ++i) EXPECT_TRUE(comm.PostMove(nullptr, kPTZLeft, i + 1));
  EXPECT_EQ(comm.GetQueuedCount(), 8u) << "the ninth pushes out the oldest";
  EXPECT_TRUE(comm.PostStop(nullptr, kPTZStopFocus));
  EXPECT_EQ(comm.GetQueuedCount(), 8u);
  EXPECT_TRUE(comm.PostStop(nullptr, kPTZStopMovement));
  EXPECT_EQ(comm.GetQueuedCount(), 1u) << "a movement stop goes first";
  comm.Close();
  EXPECT_FALSE(comm.PostMove(nullptr, kPTZRight, 3));
  EXPECT_TRUE(driver.HasLine(1, "vantrel::CBasePTZComm::PostMove: cannot send message (1) to thread"));
}

TEST(PTZComm, PresetCapacityFollowsTheProtocol) {
  testing::FakeDriver driver;
  const struct {
    uint32_t protocol;
    uint32_t capacity;
  } cases[] = {{0, 0}, {1, 32}, {2, 99}, {3, 99}, {9, 0}};
  for (const auto& c : cases) {
    CBoschPTZComm comm(&driver, 0, c.protocol);
    EXPECT_EQ(comm.GetPresetCapacity(), c.capacity) << c.protocol;
  }
}

TEST(PTZControl, ClosedControlsRefuseAndInfoFollowsTheDewarpParameter) {
  testing::FakeDriver driver;
  CBoschPTZControl control(&driver, 0, false);
  EXPECT_EQ(control.IsPTZConfigured(), kPTZNotOpen);
  EXPECT_EQ(control.StartMove(kPTZLeft, 5), kPTZNotOpen);
  EXPECT_EQ(control.Stop(), kPTZNotOpen);
  EXPECT_EQ(control.FocusFar(5), kPTZNotOpen);
  EXPECT_EQ(control.GetPTZInfo(nullptr), kPTZBadArgument);
  EXPECT_EQ(control.GetCurrentPreposition(nullptr, 4), kPTZBadArgument);

  // Without a protocol parameter the control opens, sends nothing and has no presets.
  ASSERT_TRUE(control.Open());
  EXPECT_EQ(control.IsPTZConfigured(), 0);
  driver.parameters[9] = "1";
  PTZInfo info;
  ASSERT_EQ(control.GetPTZInfo(&info), kPTZSuccess);
  const uint8_t features[8] = {1, 1, 1, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(info.features[i], features[i]) << i;
  EXPECT_EQ(info.presetCapacity, 0u);
  EXPECT_EQ(control.AddPreposition(L"Door"), kPTZNoFreePreset);
  EXPECT_FALSE(control.OpenWithPresets(TSmartPtr<CXMLPrepositionReader>())) << "presets need a store";
}

TEST(PTZControl, OnlyProtocolsWithFramesCountAsConfigured) {
  testing::FakeDriver driver;
  const struct {
    const char* parameter;
    int32_t configured;
  } cases[] = {{"1", 1}, {"2", 1}, {"3", 1}, {"0", 0}, {"4", 0}, {"99", 0}, {"-1", 0}, {"x", 0}};
  for (const auto& c : cases) {
    driver.parameters[4] = c.parameter;
    CBoschPTZControl control(&driver, 0, false);
    ASSERT_TRUE(control.Open()) << c.parameter;
    EXPECT_EQ(control.IsPTZConfigured(), c.configured) << c.parameter;
  }
}

TEST(PTZComm, PresetsOutsideTheProtocolAreRefusedWithALogLine) {
  testing::FakeDriver driver;
  driver.info.address = "127.0.0.79";  // nothing listens there: a frame that was sent would fail late
  const struct {
    uint32_t protocol;
    uint32_t slot;
    const char* line;
  } cases[] = {
      {kPTZProtocolPelcoD, 32,
       "vantrel::CBoschPTZComm::GoToPreset: Preset 33 is outside the presets 1 to 32"},
      {kPTZProtocolBiCom, 300,
       "vantrel::CBoschPTZComm::GoToPreset: Preset 301 is outside the presets 1 to 99"},
      {kPTZProtocolOSRD, 99, "vantrel::CBoschPTZComm::GoToPreset: Preset 100 is outside the presets 1 to 99"},
  };
  for (const auto& c : cases) {
    CBoschPTZComm comm(&driver, 0, c.protocol);
    EXPECT_FALSE(comm.GoToPreset(c.slot, 0)) << c.protocol;
    EXPECT_FALSE(comm.StorePreset(c.slot)) << c.protocol;
    bool logged = false;
    for (const auto& line : driver.Lines()) logged |= line.level == 1 && line.text.rfind(c.line, 0) == 0;
    EXPECT_TRUE(logged) << c.line;
  }
}

}  // namespace
}  // namespace vantrel
