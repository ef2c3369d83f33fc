#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "events/io_states.h"
#include "events/motion_state.h"

namespace vantrel {
namespace {

TEST(MotionState, IsBitSevenOfTheFirstByte) {
  const struct {
    std::vector<uint8_t> reply;
    int state;  // -1: no answer
  } cases[] = {
      {{}, -1}, {{0x80}, 1}, {{0x00, 0x80}, 0}, {{0x7F, 0xFF}, 0}, {{0xFF}, 1}, {{0x81, 0, 0, 0}, 1},
  };
  for (const auto& c : cases) {
    const auto state = ReadMotionState(c.reply);
    EXPECT_EQ(state ? *state : -1, c.state) << c.reply.size();
  }
}

TEST(MotionState, FrameCarriesVersionAndAStateTheHostKnows) {
  for (const auto& [state, expected] : {std::pair<uint8_t, uint8_t>{0, 0}, {1, 1}, {0x80, 1}}) {
    std::array<uint8_t, kMotionFrameDataSize> data{};
    FillMotionFrameData(state, data);
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(data[1], expected);
  }
}

TEST(IOStates, CameraAnswersAndHostRequests) {
  EXPECT_EQ(InputStateFromFlag(false, 1), kIOStateUnknown);
  EXPECT_EQ(InputStateFromFlag(true, 0), kIOStateOff);
  EXPECT_EQ(InputStateFromFlag(true, 3), kIOStateOn);
  EXPECT_EQ(InputStateFromFlag(true, 0xFFFFFFFF), kIOStateOn);
  EXPECT_EQ(OutputFlagForState(kIOStateOn), 1u);
  for (uint32_t s : {0u, 1u, 3u, 0xFFFFFFFFu}) EXPECT_EQ(OutputFlagForState(s), 0u) << s;
  EXPECT_TRUE(IsSettableOutputState(kIOStateOff));
  EXPECT_TRUE(IsSettableOutputState(kIOStateOn));
  EXPECT_FALSE(IsSettableOutputState(kIOStateUnknown));
  EXPECT_FALSE(IsSettableOutputState(3));
}

}  // namespace
}  // namespace vantrel
