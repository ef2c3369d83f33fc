// The snapshot request and the pace and loss rules of the Motion JPEG over HTTP channel.
#include "channels/mjpeg_channel_http.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(MJPEGChannelHTTP, SnapshotPathBySizeClassAndQuality) {
  struct Case {
    uint32_t width, height, quality, camera;
    const char* path;
  } cases[] = {
      {256, 192, 30, 1, "/snap.jpg?JpegSize=S&JpegCam=1&JpegQuality=70"},
      {257, 192, 30, 1, "/snap.jpg?JpegSize=M&JpegCam=1&JpegQuality=70"},
      {512, 288, 0, 2, "/snap.jpg?JpegSize=M&JpegCam=2&JpegQuality=100"},
      {640, 240, 50, 1, "/snap.jpg?JpegSize=L&JpegCam=1&JpegQuality=50"},
      {720, 288, 50, 1, "/snap.jpg?JpegSize=L&JpegCam=1&JpegQuality=50"},
      {704, 576, 99, 1, "/snap.jpg?JpegSize=XL&JpegCam=1&JpegQuality=1"},
      {721, 100, 100, 3, "/snap.jpg?JpegSize=XL&JpegCam=3&JpegQuality=1"},
      {640, 480, 250, 1, "/snap.jpg?JpegSize=XL&JpegCam=1&JpegQuality=1"},  // never wraps below 1
  };
  for (const Case& c : cases)
    EXPECT_EQ(CMJPEGChannelHTTP::SnapshotPath(c.width, c.height, c.quality, c.camera), c.path);
}

TEST(MJPEGChannelHTTP, PaceAndLossFromTheFrameRateCode) {
  struct Case {
    uint32_t code, interval, loss;
  } cases[] = {
      {40, 40, 10000},  {2000, 2000, 2000},  {1000, 1000, 10000},   {1001, 1001, 1001},
      {0, 1000, 10000}, {0x7019, 40, 10000}, {0x7000, 1000, 10000}, {0x7FFF, 0, 10000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CBaseHttpChannel::FrameIntervalMs(c.code), c.interval) << c.code;
    EXPECT_EQ(CBaseHttpChannel::SignalLossMs(c.code, 10000), c.loss) << c.code;
  }
}

}  // namespace
}  // namespace vantrel
