// The Motion JPEG channel's URL query and its 12-byte JPEG set-up.
#include "channels/mjpeg_channel_rtsp.h"

#include <gtest/gtest.h>

#include "channels/video_channel_test_support.h"

namespace vantrel::testing {
namespace {

constexpr char kPlainCamera[] = "127.0.0.12";
constexpr char kEncoder[] = "127.0.0.15";

using Log = std::vector<std::string>;

TEST(MjpegChannelRtsp, UrlQuery) {
  const struct {
    uint32_t channel, stream, streamingMode;
    const char* query;
  } cases[] = {
      {0, kRecStream, 0, "?h26x=0"},
      {0, kLiveStream, 0, "?h26x=0"},  // one JPEG encoder per line: never "&inst=2"
      {1, kLiveStream, 1, "?h26x=0&line=2&multicast=1"},
      {2, kRecStream, 2, "?h26x=0&line=3&multicast=1"},
  };
  for (const auto& c : cases) {
    FakeDriver driver;
    TestMjpegChannel channel(c.channel, &driver);
    channel.settings.streamIndex = c.stream;
    channel.SetStreamingMode(c.streamingMode);
    EXPECT_EQ(channel.Query(), c.query);
  }
}

class MjpegChannelCamera : public ::testing::Test {
 protected:
  void Use(const char* camera, uint32_t channel) {
    camsim_ = std::make_unique<CamsimControl>(camera);
    ASSERT_TRUE(camsim_->Reset()) << "camsim is not running";
    AimAt(driver_, camera);
    channel_ = std::make_unique<TestMjpegChannel>(channel, &driver_);
    channel_->settings = {0x7019, 640, 480, 60, kVideoFormatMJPEG, kRecStream};
    channel_->Adjust();
    camsim_->ClearLog();
  }

  FakeDriver driver_;
  std::unique_ptr<CamsimControl> camsim_;
  std::unique_ptr<TestMjpegChannel> channel_;
};

TEST_F(MjpegChannelCamera, HostResolutionMapWinsOverTheTable) {
  const struct {
    const char* map;
    const char* payload;  // code, 25000 mfps, quality 60
  } cases[] = {
      {"20:640x480", "0x00000014000061A80000003C"},
      {"", "0x00000007000061A80000003C"},
      {"20:640x480;0:640x480;21:640x480", "0x00000015000061A80000003C"},
  };
  for (const auto& c : cases) {
    driver_.parameters = {{5, "1"}, {10, c.map}};
    Use(kPlainCamera, 0);
    ASSERT_TRUE(channel_->JpegSetup()) << c.map;
    EXPECT_EQ(ShortLog(*camsim_), Log{std::string("W P_OCTET 0x0AD5/1=") + c.payload}) << c.map;
  }
}

TEST_F(MjpegChannelCamera, PrepareCameraOnAMultiInputEncoderSelectsTheCoder) {
  driver_.channelCount = 4;
  driver_.parameters = {{5, "1"}};
  Use(kEncoder, 1);
  ASSERT_TRUE(channel_->PrepareCamera());
  EXPECT_EQ(ShortLog(*camsim_), (Log{"R P_OCTET 0xFF11/2", "W T_DWORD 0x0600/1=3",
                                     "W P_OCTET 0x0AD5/2=0x00000007000061A80000003C"}));

  camsim_->ClearLog();
  EXPECT_TRUE(channel_->ApplySettingsChange(0));
  EXPECT_TRUE(ShortLog(*camsim_).empty());
  channel_->settings.frameRate = 0x700A;
  EXPECT_TRUE(channel_->ApplySettingsChange(CBaseCameraChannel::kFrameRateChanged));
  EXPECT_EQ(ShortLog(*camsim_), Log{"W P_OCTET 0x0AD5/2=0x00000007000027100000003C"});

  channel_->SetStopped();
  camsim_->ClearLog();
  EXPECT_FALSE(channel_->JpegSetup());
  EXPECT_TRUE(ShortLog(*camsim_).empty());
}

}  // namespace
}  // namespace vantrel::testing
