// The encoder set-up steps against the camera simulator: the exact RCP+ writes each step sends,
// read back from the simulator's request log.
#include "channels/common_channel.h"

#include <gtest/gtest.h>

#include "channels/video_channel_test_support.h"

namespace vantrel::testing {
namespace {

constexpr char kPlainCamera[] = "127.0.0.12";    // accepts the quantizer set-up
constexpr char kEncoder[] = "127.0.0.15";        // 4 lines, refuses 0x0A82, profile list
constexpr char kFisheyeCamera[] = "127.0.0.17";  // de-warp mode 1

using Log = std::vector<std::string>;

class CommonChannelTest : public ::testing::Test {
 protected:
  void Use(const char* camera, uint32_t channel = 0) {
    camsim_ = std::make_unique<CamsimControl>(camera);
    ASSERT_TRUE(camsim_->Reset()) << "camsim is not running";
    AimAt(driver_, camera);
    channel_ = std::make_unique<TestH264Channel>(channel, &driver_);
    channel_->settings = {0x7019, 1280, 720, 50, kVideoFormatH264, kRecStream};
  }
  void Adjust() {
    channel_->Adjust();
    camsim_->ClearLog();
  }
  Log Requests() { return ShortLog(*camsim_); }

  FakeDriver driver_;
  std::unique_ptr<CamsimControl> camsim_;
  std::unique_ptr<TestH264Channel> channel_;
};

TEST_F(CommonChannelTest, CodersAndDescription) {
  const struct {
    uint32_t channel, stream, coder, streamCoder;
    const char* description;
  } cases[] = {
      {0, kRecStream, 1, 1, "device 127.0.0.12:80 (channel 0, stream Recording)"},
      {0, kLiveStream, 1, 2, "device 127.0.0.12:80 (channel 0, stream Live)"},
      {3, kRecStream, 7, 7, "device 127.0.0.12:80 (channel 3, stream Recording)"},
      {5, kRecStream, 3, 3, "device 127.0.0.12:80 (channel 5, stream Recording)"},
      {5, kRemoteStream, 3, 4, "device 127.0.0.12:80 (channel 5, stream Live)"},
  };
  AimAt(driver_, kPlainCamera);
  for (const auto& c : cases) {
    TestH264Channel channel(c.channel, &driver_);
    channel.settings.streamIndex = c.stream;
    channel.Adjust();
    channel.Adjust();  // a second thread start must not wrap the coder again
    EXPECT_EQ(channel.GetCoder(), c.coder) << c.channel;
    EXPECT_EQ(channel.GetStreamCoder(), c.streamCoder) << c.channel;
    EXPECT_EQ(channel.GetDescription(), c.description);
    EXPECT_EQ(channel.GetLine(), c.channel + 1);
  }
}

TEST_F(CommonChannelTest, UpdateProfileStopsAtAcceptedQuantizerSetup) {
  driver_.parameters[6] = "30";
  Use(kPlainCamera);
  Adjust();
  ASSERT_TRUE(channel_->UpdateProfile());
  // HD class: 512 + (5000 - 512) * 50 / 100 = 2756, maximum 2756 * 1.1 = 3031.
  EXPECT_EQ(Requests(), (Log{"W T_DWORD 0x0606/1=1", "W T_DWORD 0x0604/1=25", "W T_OCTET 0x0A94/1=0x00",
                             "W T_DWORD 0x0607/1=2756", "W T_DWORD 0x0612/1=3031", "W T_DWORD 0x0A82/1=0"}));
}

TEST_F(CommonChannelTest, QuantizersGoOutWhenTheCameraRefusesTheSetup) {
  driver_.parameters[6] = "30";
  Use(kEncoder);
  Adjust();
  const struct {
    uint32_t quality;
    const char* quantizer;
  } cases[] = {{0, "31"}, {50, "16"}, {100, "4"}};
  for (const auto& c : cases) {
    camsim_->ClearLog();
    channel_->settings.quality = c.quality;
    channel_->settings.width = 640;
    channel_->settings.height = 480;
    ASSERT_TRUE(channel_->UpdateProfile()) << c.quality;
    const Log log = Requests();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[5], "W T_DWORD 0x0A82/1=0");
    EXPECT_EQ(log[6], std::string("W T_DWORD 0x060A/1=") + c.quantizer);
    EXPECT_EQ(log[7], std::string("W T_DWORD 0x060B/1=") + c.quantizer);
  }
}

TEST_F(CommonChannelTest, FrameRateWrites) {
  const struct {
    const char* maxRate;  // null: parameter 6 missing
    uint32_t code;
    const char* skip;
    const char* intra;
  } cases[] = {
      {"30", 0x700A, "3", "10"},
      {"30", 40, "1", "25"},
      {"25", 0, "25", "1"},
      // More frames asked than the camera makes: every frame, never a ratio of 0. An unknown
      // maximum must not become a garbage ratio.
      {"12", 0x7019, "1", "25"},
      {"1", 0x700A, "1", "10"},
      {nullptr, 0x7019, "1", "25"},
  };
  for (const auto& c : cases) {
    driver_.parameters.erase(6);
    if (c.maxRate) driver_.parameters[6] = c.maxRate;
    Use(kPlainCamera, 1);
    Adjust();
    channel_->settings.frameRate = c.code;
    ASSERT_TRUE(channel_->UpdateFrameRate());
    EXPECT_EQ(Requests(), (Log{std::string("W T_DWORD 0x0606/3=") + c.skip,
                               std::string("W T_DWORD 0x0604/3=") + c.intra}))
        << (c.maxRate ? c.maxRate : "-") << " " << c.code;
  }
}

TEST_F(CommonChannelTest, ResolutionCodes) {
  Use(kPlainCamera);
  Adjust();
  const struct {
    uint32_t w, h, format;
    bool ok;
    const char* write;
  } cases[] = {
      {1920, 1080, kVideoFormatH264, true, "W T_DWORD 0x0608/1=14"},
      {704, 480, kVideoFormatMPEG4, true, "W T_DWORD 0x0608/1=1"},
      {704, 480, kVideoFormatH264, true, "W T_DWORD 0x0608/1=3"},
      {2592, 1944, kVideoFormatH264, true, "W T_DWORD 0x0608/1=15"},
      {2592, 1000, kVideoFormatH264, false, nullptr},
  };
  for (const auto& c : cases) {
    camsim_->ClearLog();
    channel_->settings.width = c.w;
    channel_->settings.height = c.h;
    channel_->settings.format = c.format;
    EXPECT_EQ(channel_->UpdateResolution(), c.ok) << c.w << "x" << c.h;
    EXPECT_EQ(Requests(), c.write ? Log{c.write} : Log{}) << c.w << "x" << c.h;
  }
  EXPECT_TRUE(
      driver_.HasLine(kLogError,
                      "vantrel::CCommonChannel::UpdateResolution: Unable to get resolution from device "
                      "127.0.0.12:80 (channel 0, stream Recording)"));

  // A camera that refuses the size keeps streaming at its own; the step does not fail.
  camsim_->Set("rcp_error=0x0608&code=10");
  camsim_->ClearLog();
  channel_->settings.width = 1280;
  channel_->settings.height = 720;
  EXPECT_TRUE(channel_->UpdateResolution());
}

TEST_F(CommonChannelTest, EncoderInstanceByStream) {
  for (uint32_t stream : {0u, 1u}) {
    Use(kEncoder, 1);
    channel_->settings.streamIndex = stream;
    Adjust();
    ASSERT_TRUE(channel_->ReadEncoderInstance());
    EXPECT_EQ(channel_->GetEncoderInstance(), stream + 1);  // the camera lists instances 1, 2, 3
    ASSERT_TRUE(channel_->ReadEncoderInstance());
    EXPECT_EQ(Requests(), Log{"R P_OCTET 0xFF11/2"}) << "read once, then kept";
  }
}

TEST_F(CommonChannelTest, SelectStreamProfileWithoutGroupSelectsTheCoding) {
  driver_.parameters = {{1, "0"}, {2, "x"}, {3, "x"}, {4, "x"}, {5, "0"}};
  Use(kPlainCamera);
  Adjust();
  ASSERT_TRUE(channel_->ReadEncoderInstance());
  camsim_->ClearLog();
  ASSERT_TRUE(channel_->SelectStreamProfile());
  EXPECT_EQ(Requests(), (Log{"W T_DWORD 0x0A9C/1=2", "W T_DWORD 0x0608/1=12"}));
}

TEST_F(CommonChannelTest, SelectStreamProfileFromTheProfileList) {
  driver_.parameters = {{5, "1"}, {7, "4,3:6,3:6,4"}};
  const struct {
    uint32_t stream, w, h;
    Log writes;
    ProfilePair after;
  } cases[] = {
      // The camera runs (6,3); 1280x720 prefers code 4 and (4,3) is listed.
      {kRecStream, 1280, 720, {"W P_OCTET 0x0AD3/1=0x0000000400000003"}, {4, 3}},
      // (6,3) already serves 704x576 on the live stream; code 3 needs its resolution.
      {kLiveStream, 704, 576, {"W T_DWORD 0x0608/2=3"}, {6, 3}},
      // Nothing listed fits: the current pair stays and code 6 needs no resolution.
      {kRecStream, 640, 480, {}, {6, 3}},
  };
  for (const auto& c : cases) {
    Use(kEncoder);
    channel_->settings.streamIndex = c.stream;
    channel_->settings.width = c.w;
    channel_->settings.height = c.h;
    Adjust();
    ASSERT_TRUE(channel_->ReadEncoderMode());
    ASSERT_EQ(channel_->GetEncoderMode(), ProfilePair(6, 3));
    camsim_->ClearLog();
    EXPECT_TRUE(channel_->SelectStreamProfile()) << c.w << "x" << c.h;
    EXPECT_EQ(Requests(), c.writes) << c.w << "x" << c.h;
    EXPECT_EQ(channel_->GetEncoderMode(), c.after);
  }
}

TEST_F(CommonChannelTest, StreamSetupFallsBackToCoderSelection) {
  Use(kPlainCamera);
  Adjust();
  ASSERT_TRUE(channel_->ReadEncoderInstance());
  camsim_->ClearLog();
  ASSERT_TRUE(channel_->StreamSetup());
  EXPECT_EQ(Requests(), Log{"W P_OCTET 0x0AD2/1=0x000000000000000100000002"});

  ASSERT_TRUE(camsim_->Set("rcp_error=0x0AD2&code=10"));
  camsim_->ClearLog();
  ASSERT_TRUE(channel_->StreamSetup());
  EXPECT_EQ(Requests(), (Log{"W P_OCTET 0x0AD2/1=0x000000000000000100000002", "W T_DWORD 0x0600/1=1"}));
}

TEST_F(CommonChannelTest, DewarpingModeIsWrittenOnlyWhenItDiffers) {
  for (const char* mode : {"2", "1"}) {
    driver_.parameters = {{9, mode}};
    Use(kFisheyeCamera);
    Adjust();
    EXPECT_TRUE(channel_->UpdateDewarpingMode());
    if (std::string(mode) == "2")
      EXPECT_EQ(Requests(), (Log{"R P_OCTET 0x0BF6/1", "W P_OCTET 0x0BF6/1=0x0102"}));
    else
      EXPECT_EQ(Requests(), Log{"R P_OCTET 0x0BF6/1"});
  }
}

TEST_F(CommonChannelTest, NothingIsWrittenOnceStopping) {
  driver_.parameters = {{5, "0"}, {6, "30"}, {7, "4,3:6,3"}};
  Use(kPlainCamera);
  Adjust();
  ASSERT_TRUE(channel_->ReadEncoderInstance());
  channel_->SetStopped();
  camsim_->ClearLog();
  EXPECT_FALSE(channel_->UpdateFrameRate());
  EXPECT_FALSE(channel_->UpdateResolution());
  EXPECT_FALSE(channel_->UpdateProfile());
  EXPECT_FALSE(channel_->SelectStreamProfile());
  EXPECT_FALSE(channel_->StreamSetup());
  for (const std::string& line : Requests()) EXPECT_NE(line[0], 'W') << line;
}

// A stop aborts the channel's camera requests for good: a set-up step that runs after it (the
// worker was between two requests) sends nothing, not even the encoder-instance read.
TEST_F(CommonChannelTest, NoRequestGoesOutAfterAStop) {
  driver_.parameters = {{5, "0"}, {6, "30"}, {7, "4,3:6,3"}};
  Use(kPlainCamera);
  Adjust();
  channel_->Stop();
  camsim_->ClearLog();
  EXPECT_FALSE(channel_->ReadEncoderInstance());
  EXPECT_FALSE(channel_->UpdateDewarpingMode() && channel_->UpdateResolution());
  EXPECT_EQ(Requests(), Log{});
}

}  // namespace
}  // namespace vantrel::testing
