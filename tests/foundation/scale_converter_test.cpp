#include "foundation/scale_converter.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

struct ConvertCase {
  uint32_t sourceMin, sourceMax, targetA, targetB, value, expected;
};

class ScaleConverterTest : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ScaleConverterTest, Converts) {
  const ConvertCase& c = GetParam();
  CScaleConverter converter;
  converter.SetSourceRange(c.sourceMin, c.sourceMax);
  converter.SetTargetRange(c.targetA, c.targetB);
  EXPECT_EQ(converter.Convert(c.value), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScaleConverterTest,
    ::testing::Values(
        // The host's 1..16 speeds onto a byte range.
        ConvertCase{1, 16, 0, 255, 1, 0}, ConvertCase{1, 16, 0, 255, 16, 255},
        ConvertCase{1, 16, 0, 255, 8, 119},
        ConvertCase{1, 16, 0, 255, 20, 255},  // clamped to the source maximum
        ConvertCase{1, 16, 0, 255, 0, 0},     // clamped to the source minimum
        ConvertCase{1, 16, 255, 0, 8, 119},   // target bounds in either order
        ConvertCase{1, 16, 0, 100, 5, 27},    // 26.67 rounds up
        ConvertCase{1, 16, 1, 63, 16, 63},
        // Degenerate ranges give the target midpoint.
        ConvertCase{1, 16, 0, 0, 8, 0}, ConvertCase{1, 16, 10, 10, 3, 10}, ConvertCase{5, 5, 0, 255, 9, 127},
        ConvertCase{1, 16, 0xFFFFFFF0u, 0xFFFFFFF0u, 1, 0xFFFFFFF0u},  // no wrap in the midpoint
        ConvertCase{0, 0xFFFFFFFFu, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},
        // A minimum above the maximum turns clamping off; the result stays inside the target.
        ConvertCase{16, 1, 0, 255, 20, 0}, ConvertCase{16, 1, 0, 255, 3, 255}));

}  // namespace
}  // namespace vantrel
