// The H.264 channel's stream choice (URL query) and its camera set-up sequences.
#include "channels/h264_channel_rtsp.h"

#include <gtest/gtest.h>

#include "channels/video_channel_test_support.h"
#include "vantrel/ipcapture/privacy_zones.h"

namespace vantrel::testing {
namespace {

constexpr char kPlainCamera[] = "127.0.0.12";

class TestZone final : public ipcapture::IIPZone {
 public:
  TestZone(float x, float y, float w, float h) : x_(x), y_(y), w_(w), h_(h) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  void Reserved2() override {}
  void Reserved3() override {}
  float GetX() override { return x_; }
  float GetY() override { return y_; }
  float GetWidth() override { return w_; }
  float GetHeight() override { return h_; }

 private:
  float x_, y_, w_, h_;
};

class TestZoneList final : public ipcapture::IIPZoneList {
 public:
  explicit TestZoneList(TestZone zone) : zone_(zone) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  ipcapture::IIPZone* GetZone(uint32_t index) override { return index == 0 ? &zone_ : nullptr; }

 private:
  TestZone zone_;
};

using Log = std::vector<std::string>;

TEST(H264ChannelRtsp, UrlQuery) {
  const struct {
    uint32_t channel, lineOverride, stream, streamingMode;
    const char* query;
  } cases[] = {
      {0, 0, kRecStream, 0, "?h26x=4"},
      {1, 0, kLiveStream, 1, "?h26x=4&line=2&inst=2&multicast=1"},
      {1, 0, kRecStream, 2, "?h26x=4&line=2&multicast=1"},
      {0, 0, kLiveStream, 0, "?h26x=4&inst=2"},
      {0, 0, kRemoteStream, 0, "?h26x=4&inst=2"},  // the encoder its set-up configured
      {0, 3, kRecStream, 0, "?h26x=4&line=3"},     // the configured line wins over the channel
  };
  for (const auto& c : cases) {
    FakeDriver driver;
    driver.lineOverride = c.lineOverride;
    TestH264Channel channel(c.channel, &driver);
    channel.settings.streamIndex = c.stream;
    channel.SetStreamingMode(c.streamingMode);
    EXPECT_EQ(channel.Query(), c.query);
  }
}

class H264ChannelCamera : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(camsim_.Reset()) << "camsim is not running";
    AimAt(driver_, kPlainCamera);
    driver_.parameters = {{5, "1"}, {6, "30"}};
    // The channel copies the connection record when it is made.
    channel_ = std::make_unique<TestH264Channel>(0, &driver_);
    channel_->settings = {0x7019, 640, 480, 100, kVideoFormatH264, kRecStream};
    channel_->Adjust();
    camsim_.ClearLog();
  }

  CamsimControl camsim_{kPlainCamera};
  FakeDriver driver_;
  std::unique_ptr<TestH264Channel> channel_;
};

TEST_F(H264ChannelCamera, PrepareCameraSendsTheWholeSetUp) {
  ASSERT_TRUE(channel_->PrepareCamera());
  EXPECT_EQ(
      ShortLog(camsim_),
      (Log{"R P_OCTET 0xFF11/1", "W T_DWORD 0x0608/1=7", "W T_DWORD 0x0606/1=1", "W T_DWORD 0x0604/1=25",
           "W T_OCTET 0x0A94/1=0x00", "W T_DWORD 0x0607/1=4000", "W T_DWORD 0x0612/1=4400",
           "W T_DWORD 0x0A82/1=0", "W P_OCTET 0x0AD2/1=0x000000000000000100000002"}));
}

// The host's zones reach the camera with the stream set-up, before the encoder is touched.
TEST_F(H264ChannelCamera, PrepareCameraAppliesHandedZones) {
  TestZoneList zones(TestZone(0, 0, 50, 50));
  channel_->SetStreamOption(&zones);
  ASSERT_TRUE(channel_->PrepareCamera());
  const Log log = ShortLog(camsim_);
  ASSERT_EQ(log.size(), 20u + 5u + 9u) << "zone read-back, one zone written, then the encoder set-up";
  for (size_t i = 0; i < 25; ++i) EXPECT_EQ(log[i].rfind("W P_OCTET 0x09A5/2=0x81000403", 0), 0u) << log[i];
  EXPECT_EQ(log[25], "R P_OCTET 0xFF11/1");
}

TEST_F(H264ChannelCamera, ForeignMulticastLeavesTheCameraAlone) {
  channel_->SetStreamingMode(CConfiguration::kStreamingMulticast);
  EXPECT_TRUE(channel_->PrepareCamera());
  EXPECT_TRUE(ShortLog(camsim_).empty());
}

TEST_F(H264ChannelCamera, PrepareCameraFailsWithoutEncoderInstance) {
  ASSERT_TRUE(camsim_.Set("rcp_error=0xFF11&code=10"));
  EXPECT_FALSE(channel_->PrepareCamera());
  EXPECT_EQ(ShortLog(camsim_), Log{"R P_OCTET 0xFF11/1"});
}

TEST_F(H264ChannelCamera, SettingsChanges) {
  ASSERT_TRUE(channel_->ReadEncoderInstance());
  const struct {
    uint32_t changes;
    Log requests;
  } cases[] = {
      {0, {}},
      {CBaseCameraChannel::kFrameRateChanged,
       {"W T_DWORD 0x0606/1=1", "W T_DWORD 0x0604/1=25", "W P_OCTET 0x0AD2/1=0x000000000000000100000002"}},
      {CBaseCameraChannel::kSizeChanged,
       {"W T_DWORD 0x0608/1=7", "W P_OCTET 0x0AD2/1=0x000000000000000100000002"}},
  };
  for (const auto& c : cases) {
    camsim_.ClearLog();
    EXPECT_TRUE(channel_->ApplySettingsChange(c.changes)) << c.changes;
    EXPECT_EQ(ShortLog(camsim_), c.requests) << c.changes;
  }

  // Both steps failing: no stream set-up is attempted.
  channel_->settings.width = 2592;
  channel_->settings.height = 1000;
  ASSERT_TRUE(camsim_.Set("rcp_error=0x0606&code=10"));
  camsim_.ClearLog();
  EXPECT_FALSE(channel_->ApplySettingsChange(CBaseCameraChannel::kFrameRateChanged |
                                             CBaseCameraChannel::kSizeChanged));
  EXPECT_EQ(ShortLog(camsim_), Log{"W T_DWORD 0x0606/1=1"});
}

}  // namespace
}  // namespace vantrel::testing
