// CAudioCaptureChannel and its RTSP base: the session's URL query, the format taken from the
// session description, the multicast checks, frame delivery (status gate, edge monitor, signal
// messages) and the worker's status path when the camera cannot be reached.
#include "audio/audio_capture_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_audio_objects.h"
#include "support/fake_driver.h"
#include "support/rtp_test_peer.h"
#include "support/winsock_test.h"

namespace vantrel {
namespace {

using testing::FakeAudioCallback;
using testing::FakeAudioFrame;
using testing::FakeDriver;
using testing::WaitUntil;

class TestAudioChannel : public CAudioCaptureChannel {
 public:
  TestAudioChannel(IDriver* driver, ipcapture::IIPAudioCallback* callback, uint32_t channel = 0)
      : CAudioCaptureChannel(driver, 9, channel, callback, 0) {}
  using CBaseAudioRTSPChannel::Bit;
  using CBaseAudioRTSPChannel::SetStatus;
  void SetStreamingMode(uint32_t mode) { streamingMode_ = mode; }
};

class Monitor final : public IEdgeStorageCallback {
 public:
  void OnFrameSeen(uint32_t, uint64_t, uint64_t) override {}
  void OnSignalLost(uint32_t) override {}
  void OnNewestFrameTime(uint32_t channel, uint64_t time) override {
    lastChannel = channel;
    lastTime = time;
    ++times;
  }
  void OnDataSignalLost(uint32_t channel) override {
    lastChannel = channel;
    ++losses;
  }
  std::atomic<uint32_t> lastChannel{0};
  std::atomic<uint64_t> lastTime{0};
  std::atomic<int> times{0};
  std::atomic<int> losses{0};
};

class AudioChannelTest : public testing::WinsockTest {
 protected:
  void SetUp() override {
    driver.info.address = "127.0.0.1";
    driver.info.port = 9;  // nothing listens: every RCP+ request fails at once
    driver.info.timeout = 2000;
    driver.hostDirectory = "C:\\nonexistent\\";
  }
  FakeDriver driver;
  FakeAudioCallback callback;
};

TEST_F(AudioChannelTest, UrlQueryPerTransportMode) {
  const struct {
    uint32_t mode;
    const char* query;
  } cases[] = {{0, "?enableaudio=1"}, {1, "?enableaudio=1&multicast=1"}, {2, "?enableaudio=1&multicast=1"}};
  for (const auto& c : cases) EXPECT_EQ(CBaseAudioRTSPChannel::BuildUrlQuery(c.mode), c.query) << c.mode;
}

TEST_F(AudioChannelTest, FormatFromTheSessionDescription) {
  struct Case {
    const char* encoding;
    uint32_t rate;
    uint8_t channels;
    uint32_t tag;
    uint32_t expectedRate;
    uint8_t expectedChannels;
  };
  const Case cases[] = {
      {"PCMU/8000", 8000, 1, kAudioTagG711MuLaw, 8000, 1},
      {"", 0, 1, kAudioTagG711MuLaw, 8000, 1},
      {"MPEG4-GENERIC/16000/1", 16000, 1, kAudioTagAac, 16000, 1},
      {"mpeg4-generic/44100/2", 44100, 2, kAudioTagAac, 44100, 2},
      // No clock rate: nothing to build a configuration from; the camera's default stays.
      {"mpeg4-generic", 0, 1, kAudioTagG711MuLaw, 8000, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    MediaDescription media;
    media.encoding = c.encoding;
    SdpAudioCodec codec;
    codec.sampleRate = c.rate;
    codec.channels = c.channels;
    const AudioFormatBlock f = CAudioCaptureChannel::FormatForDescription(media, codec);
    EXPECT_EQ(f.tag, c.tag);
    EXPECT_EQ(f.sampleRate, c.expectedRate);
    EXPECT_EQ(f.channels, c.expectedChannels);
    EXPECT_EQ(f.bitsPerSample, 16u);
  }
}

TEST_F(AudioChannelTest, ALawIsRecognisedFromTheDescription) {
  struct Case {
    const char* encoding;
    uint8_t payloadType;
    uint32_t tag;
    bool aLaw;
  };
  const Case cases[] = {
      {"PCMA/8000", 8, MakeAudioTag("711A"), true}, {"pcma/8000", 97, MakeAudioTag("711A"), true},
      {"", 8, SdpAudioCodec::kNone, true},  // the static payload type without an rtpmap
      {"PCMU/8000", 0, kAudioTagG711MuLaw, false},  {"", 0, SdpAudioCodec::kNone, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    MediaDescription media;
    media.encoding = c.encoding;
    media.payloadType = c.payloadType;
    SdpAudioCodec codec;
    codec.tag = c.tag;
    EXPECT_EQ(CAudioCaptureChannel::IsALawDescription(media, codec), c.aLaw);
    EXPECT_EQ(CAudioCaptureChannel::FormatForDescription(media, codec).tag, kAudioTagG711MuLaw)
        << "the host gets mu-law";
  }
}

TEST_F(AudioChannelTest, MulticastDescriptionsWithoutGroupOrPortAreRefused) {
  const std::string prefix =
      "vantrel::CBaseAudioRTSPChannel::SdpInfoReceived: RTSP response doesn't contain ";
  struct Case {
    const char* group;
    uint16_t port;
    std::string message;
  };
  const Case cases[] = {
      {"", 5000,
       prefix + "connection data section. RTP multicast stream cannot be started for device 127.0.0.1"},
      {"239.1.2.3", 0,
       prefix + "correct streaming port in media section. RTP multicast stream cannot be started for device "
                "127.0.0.1"},
  };
  TestAudioChannel channel(&driver, &callback);
  channel.SetStreamingMode(1);
  for (const Case& c : cases) {
    SdpInfo info;
    info.audio.connectionAddress = c.group;
    info.audio.port = c.port;
    EXPECT_FALSE(channel.SdpInfoReceived(info));
    EXPECT_TRUE(driver.HasLine(kLogError, c.message)) << c.message;
  }
  // Unicast takes the same description as it is.
  channel.SetStreamingMode(0);
  EXPECT_TRUE(channel.SdpInfoReceived(SdpInfo{}));
}

TEST_F(AudioChannelTest, FramesReachTheHostOnlyWhileRunning) {
  const std::string ok = "vantrel::CBaseAudioRTSPChannel::SetDeviceState: Audio signal from ";
  struct Case {
    uint32_t channelCount;
    std::string device;
  };
  const Case cases[] = {{1, "camera 127.0.0.1"}, {4, "video-server 127.0.0.1 (channel 2)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    driver.channelCount = c.channelCount;
    FakeAudioCallback host;
    Monitor monitor;
    TestAudioChannel channel(&driver, &host, 2);
    FakeAudioFrame frame(kAudioTagG711MuLaw, 4000);
    frame.time = SYSTEMTIME{2024, 5, 3, 17, 12, 30, 15, 250};
    // The monitor hears of every frame, even one the host does not get.
    channel.SetEdgeMonitor(&monitor);
    EXPECT_FALSE(channel.DeliverFrame(&frame));
    EXPECT_EQ(monitor.times.load(), 1);
    EXPECT_EQ(monitor.lastChannel.load(), 2u);
    EXPECT_EQ(monitor.lastTime.load(), SystemTimeToFileTimeValue(frame.time));
    EXPECT_EQ(host.FrameCount(), 0u);

    ASSERT_TRUE(channel.SetStatus(kAudioConnecting, TestAudioChannel::Bit(kAudioStopped)));
    ASSERT_TRUE(channel.SetStatus(kAudioRunning, TestAudioChannel::Bit(kAudioConnecting)));
    EXPECT_TRUE(channel.DeliverFrame(&frame));
    EXPECT_TRUE(channel.DeliverFrame(&frame));
    EXPECT_EQ(host.FrameCount(), 2u);
    EXPECT_EQ(host.lastIndex, 9u);
    EXPECT_EQ(host.Statuses(), (std::vector<uint32_t>{1, 2}));
    int messages = 0;
    for (const auto& l : driver.Lines())
      messages += l.level == kLogInfo && l.text == ok + c.device + " is OK";
    EXPECT_EQ(messages, 1);
    // A status change the state table does not allow is no change.
    EXPECT_FALSE(channel.SetStatus(kAudioConnecting, TestAudioChannel::Bit(kAudioStopped)));

    host.accept = false;
    EXPECT_FALSE(channel.DeliverFrame(&frame));
    channel.SetEdgeMonitor(nullptr);
  }
}

TEST_F(AudioChannelTest, UnreachableCameraFailsEachConnectAndStopsCleanly) {
  TestAudioChannel channel(&driver, &callback);
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(WaitUntil([&] { return channel.GetStatus() == kAudioSignalLost; }, 5000));
  EXPECT_TRUE(channel.Stop());
  EXPECT_EQ(channel.GetStatus(), kAudioStopped);
  const auto statuses = callback.Statuses();
  ASSERT_GE(statuses.size(), 4u);
  EXPECT_EQ(statuses[0], kAudioConnecting);
  EXPECT_EQ(statuses[1], kAudioSignalLost);
  EXPECT_EQ(statuses[statuses.size() - 2], kAudioStopping);
  EXPECT_EQ(statuses.back(), kAudioStopped);
  // One line for the integrator however often the connect fails, and nothing else.
  const std::string lost =
      "vantrel::CBaseAudioRTSPChannel::SetDeviceState: Audio signal was lost for camera 127.0.0.1";
  int lines = 0;
  for (const auto& l : driver.Lines()) {
    EXPECT_TRUE(l.level == kLogError && l.text == lost) << l.text;
    ++lines;
  }
  EXPECT_EQ(lines, 1);
  // Start again after a stop.
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(WaitUntil([&] { return channel.GetStatus() == kAudioSignalLost; }, 5000));
  EXPECT_TRUE(channel.Stop());
  EXPECT_EQ(channel.GetStatus(), kAudioStopped);
}

// A host callback that stops the channel from inside (the recorder's CloseChannel from its
// OnAudioFrame or status callback), or that blocks for seconds.
class HostileCallback final : public ipcapture::IIPAudioCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  bool OnAudioFrame(ipcapture::IIPAudioFrame*) override {
    ++frames;
    if (stopped) ++late;
    if (blockMs) {
      entered = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(blockMs));
      left = true;
    }
    if (channel) stopResult = channel->Stop() ? 1 : 0;
    return true;
  }
  void OnChannelStatus(uint32_t, uint32_t) override {
    if (stopped) ++late;
  }
  IAudioInputChannel* channel = nullptr;
  int blockMs = 0;
  std::atomic<int> frames{0}, late{0}, stopResult{-1};
  std::atomic<bool> entered{false}, left{false}, stopped{false};
};

TEST_F(AudioChannelTest, StopFromInsideTheFrameCallbackReturnsAtOnce) {
  HostileCallback host;
  auto* channel = new TestAudioChannel(&driver, &host);
  host.channel = channel;
  ASSERT_TRUE(channel->SetStatus(kAudioConnecting, TestAudioChannel::Bit(kAudioStopped)));
  ASSERT_TRUE(channel->SetStatus(kAudioRunning, TestAudioChannel::Bit(kAudioConnecting)));
  FakeAudioFrame frame(kAudioTagG711MuLaw, 4000);
  // On a thread of its own, as the packet thread delivers.
  std::thread packets([&] { channel->DeliverFrame(&frame); });
  packets.join();
  EXPECT_EQ(host.stopResult.load(), 0) << "inside its own callback the stop cannot wait: it says so";
  host.stopped = true;
  host.channel = nullptr;
  EXPECT_FALSE(channel->DeliverFrame(&frame)) << "no callback after the stop";
  EXPECT_EQ(host.frames.load(), 1);
  std::thread teardown([&] { delete channel; });  // as the tear-down queue does
  teardown.join();
  EXPECT_EQ(host.late.load(), 0);
}

TEST_F(AudioChannelTest, StopWaitsOutACallbackThatBlocks) {
  HostileCallback host;
  host.blockMs = 3000;
  TestAudioChannel channel(&driver, &host);
  ASSERT_TRUE(channel.SetStatus(kAudioConnecting, TestAudioChannel::Bit(kAudioStopped)));
  ASSERT_TRUE(channel.SetStatus(kAudioRunning, TestAudioChannel::Bit(kAudioConnecting)));
  FakeAudioFrame frame(kAudioTagG711MuLaw, 4000);
  std::thread packets([&] { channel.DeliverFrame(&frame); });
  ASSERT_TRUE(WaitUntil([&] { return host.entered.load(); }, 5000));
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_TRUE(channel.Stop());
  host.stopped = true;
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count();
  std::printf("stop behind a 3 s frame callback: %lld ms\n", static_cast<long long>(ms));
  EXPECT_TRUE(host.left.load()) << "the stop returned while the host's callback ran";
  packets.join();
  EXPECT_FALSE(channel.DeliverFrame(&frame));
  EXPECT_EQ(host.late.load(), 0);
}

}  // namespace
}  // namespace vantrel
