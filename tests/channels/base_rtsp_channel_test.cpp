// CBaseRTSPChannel: parser choice from the session description, the multicast checks, and whole
// sessions against the camera simulator's RTSP server on 127.0.0.230 (fixture rtsp_server),
// over UDP and interleaved, including signal loss and recovery.
#include "channels/base_rtsp_channel.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "streaming/h264_rtp_media_parser.h"
#include "streaming/jpeg_rtp_media_parser.h"
#include "streaming/mpeg4_rtp_media_parser.h"
#include "streaming/rtsp_client_fake_server.h"
#include "support/fake_driver.h"
#include "support/rtp_test_peer.h"
#include "support/test_camera_channel.h"
#include "support/winsock_test.h"

namespace vantrel {
namespace {

using testing::FakeDriver;
using testing::FakeFrame;
using testing::TestFrameAllocator;
using testing::WaitUntil;

// Records what reaches the host, with the fourcc of each frame.
class RecordingCallback final : public ipcapture::IIPVideoCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  bool OnFrame(ipcapture::IIPFrame* frame) override {
    std::lock_guard<std::mutex> guard(mutex);
    fourccs.insert(static_cast<FakeFrame*>(frame)->fourcc);
    ++frames;
    return true;
  }
  void OnMotionDataStopped(uint32_t) override {}
  void OnSignalLost() override { ++signalLost; }

  std::mutex mutex;
  std::set<uint32_t> fourccs;
  std::atomic<int> frames{0};
  std::atomic<int> signalLost{0};
};

class TestRtspChannel : public CBaseRTSPChannel {
 public:
  TestRtspChannel(IDriver* driver, ipcapture::IIPVideoCallback* callback, std::string query = "?h26x=4",
                  uint32_t rtpMode = 0)
      : CBaseRTSPChannel(0, driver, callback), query_(std::move(query)), forcedRtpMode_(rtpMode) {}
  ~TestRtspChannel() override { Stop(); }

  void SetStreamOption(ipcapture::IIPZoneList*) override {}
  bool PrepareCamera() override {
    ++prepares;
    return true;
  }
  bool ApplySettingsChange(uint32_t) override { return true; }
  void AdjustConfiguration(uint32_t&, DeviceConfig&, ChannelConfig& channel) override {
    channel.rtpMode = forcedRtpMode_;
  }
  void BuildUrlQuery(RTSPConnectionParams& params) override {
    CBaseRTSPChannel::BuildUrlQuery(params);
    params.urlPath = query_;
  }

  void SetStreamingMode(uint32_t mode) { streamingMode_ = mode; }
  using CBaseCameraChannel::GetFrameTimer;
  using CBaseCameraChannel::SetState;
  using CBaseRTPChannel::GetPayloadFilter;
  using CBaseRTPChannel::GetReception;
  using CBaseRTSPChannel::IsStreamAlive;
  using CBaseRTSPChannel::rtspClient_;
  using CBaseRTSPChannel::sessionEndEvent_;

  std::atomic<int> prepares{0};

 private:
  const std::string query_;
  const uint32_t forcedRtpMode_;
};

// An H.264 description that names a multicast group and port.
SdpInfo MulticastH264(const char* group, uint16_t port) {
  SdpInfo info;
  info.video.encoding = "H264/90000";
  info.video.payloadType = 96;
  info.video.connectionAddress = group;
  info.video.port = port;
  return info;
}

class BaseRtspChannelTest : public testing::WinsockTest {
 protected:
  void SetUp() override {
    driver.allocator = &allocator;
    driver.info.address = "127.0.0.230";
    driver.info.timeout = 2000;
    driver.info.signalTimeout = 4000;
    driver.hostDirectory = "C:\\nonexistent\\";
  }

  FakeDriver driver;
  TestFrameAllocator allocator;
  RecordingCallback callback;
};

// Sends one fault command to the simulated camera's control port; true when it answered "ok".
bool SendFault(const char* address, const std::string& command) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in to = testing::MakeAddress(address, 8554);
  std::string reply;
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) {
    std::string line = command + "\n";
    send(s, line.data(), static_cast<int>(line.size()), 0);
    char buffer[256];
    int got = recv(s, buffer, sizeof(buffer), 0);
    if (got > 0) reply.assign(buffer, static_cast<size_t>(got));
  }
  closesocket(s);
  return reply.rfind("ok", 0) == 0;
}

TEST_F(BaseRtspChannelTest, SessionDescriptionChoosesTheParserAndThePayloadFilter) {
  enum Kind { kRefused, kH264, kMpeg4, kJpeg };
  struct Case {
    const char* encoding;
    uint8_t payloadType;
    Kind kind;
    uint8_t filter;
  };
  const Case cases[] = {
      {"H264/90000", 96, kH264, 96},
      {"h264/90000", 97, kH264, 97},
      {"MP4V-ES/90000", 98, kMpeg4, 98},
      {"mpeg4-generic/90000", 99, kMpeg4, 99},
      {"JPEG/90000", 26, kJpeg, 26},
      // No rtpmap: a static payload type the description did not name; any type passes.
      {"", 0, kJpeg, CBaseRTPChannel::kAnyPayload},
      {"x-h264/90000", 96, kRefused, CBaseRTPChannel::kAnyPayload},
      {"H265/90000", 96, kRefused, CBaseRTPChannel::kAnyPayload},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    TestRtspChannel channel(&driver, &callback);
    SdpInfo info;
    info.video.encoding = c.encoding;
    info.video.payloadType = c.payloadType;
    bool accepted = channel.SdpInfoReceived(info);
    EXPECT_EQ(accepted, c.kind != kRefused);
    EXPECT_EQ(channel.GetPayloadFilter(), c.filter);
    CRTPMediaParser* parser = channel.GetParser().Get();
    switch (c.kind) {
      case kRefused: {
        EXPECT_EQ(parser, nullptr);
        std::string name = std::string(c.encoding).substr(0, std::string(c.encoding).find('/'));
        EXPECT_TRUE(
            driver.HasLine(kLogError,
                           "vantrel::CBaseRTSPChannel::SdpInfoReceived: Unable to handle RTP video data "
                           "from device 127.0.0.230:80 - unexpected payload type \"" +
                               name + "\""));
        break;
      }
      case kH264:
        EXPECT_NE(dynamic_cast<CH264RTPMediaParser*>(parser), nullptr);
        break;
      case kMpeg4:
        EXPECT_NE(dynamic_cast<CMpeg4RTPMediaParser*>(parser), nullptr);
        break;
      case kJpeg:
        EXPECT_NE(dynamic_cast<CJpegRTPMediaParser*>(parser), nullptr);
        break;
    }
  }
}

TEST_F(BaseRtspChannelTest, MulticastDescriptionsNeedAGroupAndAPort) {
  const std::string prefix = "vantrel::CBaseRTSPChannel::SdpInfoReceived: RTSP response doesn't contain ";
  struct Case {
    const char* group;
    uint16_t port;
    std::string message;
  };
  const Case cases[] = {
      {"", 5000,
       prefix + "connection data section. RTP multicast stream cannot be started for device 127.0.0.230:80"},
      {"239.255.60.1", 0,
       prefix + "correct streaming port in media section. RTP multicast stream cannot be started for device "
                "127.0.0.230:80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TestRtspChannel channel(&driver, &callback);
    channel.SetStreamingMode(CConfiguration::kStreamingMulticast);
    EXPECT_FALSE(channel.SdpInfoReceived(MulticastH264(c.group, c.port)));
    EXPECT_TRUE(driver.HasLine(kLogError, c.message));
    EXPECT_EQ(channel.GetParser().Get(), nullptr);
  }
  // In unicast the same description is fine: the camera sends to our ports.
  TestRtspChannel unicast(&driver, &callback);
  SdpInfo info;
  info.video.encoding = "H264/90000";
  EXPECT_TRUE(unicast.SdpInfoReceived(info));
}

TEST_F(BaseRtspChannelTest, AFailedGroupJoinIsLogged) {
  struct Case {
    const char* group;
    uint16_t port;
  };
  // A group that is no address, and a port with no RTCP port above it.
  const Case cases[] = {{"camera.invalid", 5000}, {"239.255.60.1", 65535}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.group);
    TestRtspChannel channel(&driver, &callback);
    channel.SetStreamingMode(CConfiguration::kStreamingMulticast);
    EXPECT_FALSE(channel.SdpInfoReceived(MulticastH264(c.group, c.port)));
    const std::string expected =
        "vantrel::CBaseRTSPChannel::SdpInfoReceived: Unable to join multicast group " + std::string(c.group) +
        ":" + std::to_string(c.port) + " for 127.0.0.230:80";
    EXPECT_TRUE(driver.HasLine(kLogError, expected));
  }
}

TEST_F(BaseRtspChannelTest, EndOfSessionReopensThePayloadFilter) {
  TestRtspChannel channel(&driver, &callback);
  SdpInfo info;
  info.video.encoding = "H264/90000";
  info.video.payloadType = 96;
  ASSERT_TRUE(channel.SdpInfoReceived(info));
  ASSERT_EQ(channel.GetPayloadFilter(), 96);
  channel.OnSessionEnded();
  EXPECT_EQ(channel.GetPayloadFilter(), CBaseRTPChannel::kAnyPayload);
  EXPECT_TRUE(channel.sessionEndEvent_.IsSet());
}

TEST_F(BaseRtspChannelTest, ALongPauseIsNoSignalLossOnResume) {
  using testing::RequestMethod;
  driver.info.signalTimeout = 400;
  testing::RtspFakeServer server([](const std::string& r, size_t) {
    const std::string session = "Session: 5;timeout=60\r\n";
    if (RequestMethod(r) == "DESCRIBE")
      return testing::FakeReply{
          testing::RtspAnswer(r, "200 OK", "", "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n")};
    if (RequestMethod(r) == "SETUP")
      return testing::FakeReply{
          testing::RtspAnswer(r, "200 OK", session + "Transport: RTP/AVP;unicast;client_port=4000-4001\r\n")};
    return testing::FakeReply{testing::RtspAnswer(r, "200 OK", session)};
  });
  auto count = [&](const char* method) {
    int n = 0;
    for (const std::string& r : server.Requests()) n += RequestMethod(r) == method;
    return n;
  };
  TestRtspChannel channel(&driver, &callback);
  RTSPConnectionParams params;
  params.host = "127.0.0.1";
  params.serverPort = server.Port();
  ASSERT_TRUE(channel.rtspClient_.Start(params, &channel, kRtspTransportUdp));
  ASSERT_TRUE(
      WaitUntil([&] { return count("PLAY") == 1 && channel.rtspClient_.LastRequestAnswered(); }, 10000));

  // The channel was receiving when the host paused it.
  channel.SetState(kCameraReceiving);
  ASSERT_EQ(channel.GetState(), kCameraReceiving);
  channel.GetFrameTimer().Restart();
  ASSERT_TRUE(channel.IsStreamAlive());
  ASSERT_TRUE(channel.Pause());
  ASSERT_TRUE(WaitUntil([&] { return count("PAUSE") == 1; }, 10000));
  ASSERT_TRUE(
      WaitUntil([&] { return channel.GetFrameTimer().ElapsedMs() > driver.info.signalTimeout; }, 5000));
  EXPECT_TRUE(channel.IsStreamAlive()) << "a paused session lives while it answers";

  ASSERT_TRUE(channel.Resume());
  EXPECT_TRUE(channel.IsStreamAlive()) << "the time spent paused counted as silence";
  ASSERT_TRUE(WaitUntil([&] { return count("PLAY") == 2; }, 10000));
  channel.rtspClient_.Disconnect();
  std::vector<std::string> plays;
  for (const std::string& r : server.Requests())
    if (RequestMethod(r) == "PLAY") plays.push_back(r);
  ASSERT_EQ(plays.size(), 2u);
  EXPECT_NE(plays[0].find("Range: npt=0.000-\r\n"), std::string::npos);
  EXPECT_EQ(plays[1].find("Range:"), std::string::npos) << "a resume asks a live camera to seek";
}

TEST_F(BaseRtspChannelTest, UdpSessionDeliversH264FramesLosesSignalAndRecovers) {
  TestRtspChannel channel(&driver, &callback);
  const std::string online = "vantrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.230 is online (Rec)";
  const std::string lost =
      "vantrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.230 (Rec)";

  ASSERT_TRUE(channel.Start(VideoSettings{}));
  ASSERT_TRUE(WaitUntil([&] { return channel.GetState() == kCameraReceiving; }, 20000));
  // The worker announces the state first and logs the line after it.
  EXPECT_TRUE(WaitUntil([&] { return driver.HasLine(kLogInfo, online); }, 5000));
  EXPECT_NE(channel.GetReception().GetRtpPort(), 0);
  EXPECT_EQ(channel.GetPayloadFilter(), 96);
  ASSERT_TRUE(WaitUntil([&] { return callback.frames.load() >= 10; }, 10000));
  {
    std::lock_guard<std::mutex> guard(callback.mutex);
    for (uint32_t fourcc : callback.fourccs)
      EXPECT_TRUE(fourcc == MakeFourCC("H264") || fourcc == MakeFourCC("I264")) << std::hex << fourcc;
  }

  ASSERT_TRUE(SendFault("127.0.0.230", "stop_sending"));
  bool lostSeen = WaitUntil([&] { return callback.signalLost.load() > 0; }, 20000);
  ASSERT_TRUE(SendFault("127.0.0.230", "resume_sending"));
  ASSERT_TRUE(lostSeen);
  // The host hears of the loss first; the log line follows.
  EXPECT_TRUE(WaitUntil([&] { return driver.HasLine(kLogError, lost); }, 5000));

  int framesBefore = callback.frames.load();
  ASSERT_TRUE(WaitUntil([&] { return channel.GetState() == kCameraReceiving; }, 30000));
  ASSERT_TRUE(WaitUntil([&] { return callback.frames.load() > framesBefore; }, 10000));
  EXPECT_EQ(callback.signalLost.load(), 1);

  channel.Stop();
  EXPECT_EQ(channel.GetState(), kCameraStopped);
  EXPECT_TRUE(driver.HasLine(kLogInfo,
                             "vantrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.230 is "
                             "offline. Channel was stopped (Rec)"));
  EXPECT_EQ(allocator.outstanding.load(), 0);
}

TEST_F(BaseRtspChannelTest, InterleavedSessionBindsNoUdpPort) {
  TestRtspChannel channel(&driver, &callback, "?h26x=0", ChannelConfig::kRtpModeOverRtsp);
  ASSERT_TRUE(channel.Start(VideoSettings{}));
  ASSERT_TRUE(WaitUntil([&] { return callback.frames.load() >= 5; }, 20000));
  EXPECT_EQ(channel.GetState(), kCameraReceiving);
  EXPECT_EQ(channel.GetReception().GetRtpPort(), 0);
  {
    std::lock_guard<std::mutex> guard(callback.mutex);
    EXPECT_EQ(callback.fourccs, std::set<uint32_t>{MakeFourCC("JPEG")});
  }
  channel.Stop();
  EXPECT_EQ(allocator.outstanding.load(), 0);
}

// A camera that accepts the RTSP connection and never answers.
class SilentRtspServer {
 public:
  explicit SilentRtspServer(const char* address) {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local = testing::MakeAddress(address, 554);
    listening_ =
        bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0 && listen(listener_, 4) == 0;
    thread_ = std::thread([this] {
      SOCKET client = accept(listener_, nullptr, nullptr);
      if (client != INVALID_SOCKET) {
        accepted_ = true;
        while (!done_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        closesocket(client);
      }
    });
  }
  ~SilentRtspServer() {
    done_ = true;
    closesocket(listener_);
    thread_.join();
  }
  bool IsListening() const { return listening_; }
  bool Accepted() const { return accepted_; }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  bool listening_ = false;
  std::atomic<bool> accepted_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST_F(BaseRtspChannelTest, StopWhileTheCameraHangsReturnsWithinTwiceTheTimeout) {
  driver.info.address = "127.0.0.238";
  SilentRtspServer server("127.0.0.238");
  ASSERT_TRUE(server.IsListening());
  TestRtspChannel channel(&driver, &callback, "?h26x=4", ChannelConfig::kRtpModeOverRtsp);
  ASSERT_TRUE(channel.Start(VideoSettings{}));
  ASSERT_TRUE(WaitUntil([&] { return server.Accepted(); }, 10000));
  auto started = std::chrono::steady_clock::now();
  channel.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2 * driver.info.timeout));
  EXPECT_EQ(callback.frames.load(), 0);
  EXPECT_EQ(channel.GetState(), kCameraStopped);
}

}  // namespace
}  // namespace vantrel
