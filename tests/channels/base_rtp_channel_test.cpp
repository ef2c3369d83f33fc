// CBaseRTPChannel: packet filters, frame times, the quiet port-pair search and the unicast
// receive loop against an in-process RTP sender playing the camera on 127.0.0.1.
#include "channels/base_rtp_channel.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "support/fake_driver.h"
#include "support/rtp_test_peer.h"
#include "support/test_camera_channel.h"
#include "support/winsock_test.h"

namespace vantrel {
namespace {

using testing::BusyUdpPort;
using testing::FakeDriver;
using testing::FirstFreeUdpPair;
using testing::MakeAddress;
using testing::MakeRtpPacket;
using testing::RtpStreamer;
using testing::TestFrameAllocator;
using testing::TestVideoCallback;
using testing::WaitUntil;

class TestRtpChannel : public CBaseRTPChannel {
 public:
  TestRtpChannel(IDriver* driver, ipcapture::IIPVideoCallback* callback)
      : CBaseRTPChannel(0, driver, callback) {}
  ~TestRtpChannel() override { Stop(); }

  void SetStreamOption(ipcapture::IIPZoneList*) override {}

  bool PrepareCamera() override {
    ++prepares;
    if (hangInPrepare) GetStopEvent().Wait(kWaitInfinite);
    return prepareResult.load();
  }
  bool OpenSession() override {
    bool ok = CBaseRTPChannel::OpenSession();
    if (ok) sessionPort = GetReception().GetRtpPort();
    return ok;
  }
  void Disconnect() override {
    sessionPort = 0;
    CBaseRTPChannel::Disconnect();
  }
  // Every marker packet completes a frame, as a one-packet-per-frame stream would.
  void ProcessRtpPacket(const CRTPPacket& packet) override {
    {
      std::lock_guard<std::mutex> guard(mutex);
      processed.push_back(packet.GetSequenceNumber());
    }
    if (!packet.GetMarker()) return;
    ipcapture::IIPFrameAllocator* allocator = GetDriver()->GetFrameAllocator();
    ipcapture::IIPFrame* frame = allocator->Allocate(0x34363248, 4, GetStreamName().c_str());
    SYSTEMTIME time;
    GetFrameTime(packet.GetTimestamp(), &time);
    frame->SetTime(&time);
    OnFrame(frame);
    allocator->Release(frame);
  }
  bool ApplySettingsChange(uint32_t changes) override {
    settingsChanges.push_back(changes);
    return true;
  }

  using CBaseRTPChannel::dataEvent_;
  using CBaseRTPChannel::GetPayloadFilter;
  using CBaseRTPChannel::GetReception;
  using CBaseRTPChannel::SetPayloadFilter;
  using CBaseRTPChannel::SetSourceAddress;
  using CBaseRTPChannel::SetTimeBase;
  bool BindPorts() { return CBaseRTPChannel::OpenSession(); }
  bool Join(const std::string& group, uint16_t port, uint32_t interfaceAddress) {
    return CBaseRTPChannel::JoinMulticast(group, port, interfaceAddress);
  }
  void DropPorts() { CBaseRTPChannel::Disconnect(); }
  std::vector<uint16_t> Processed() {
    std::lock_guard<std::mutex> guard(mutex);
    return processed;
  }

  std::atomic<bool> prepareResult{true};
  std::atomic<bool> hangInPrepare{false};
  std::atomic<int> prepares{0};
  std::atomic<uint16_t> sessionPort{0};
  std::vector<uint32_t> settingsChanges;  // worker thread only while running
  std::mutex mutex;
  std::vector<uint16_t> processed;
};

class BaseRtpChannelTest : public testing::WinsockTest {
 protected:
  void SetUp() override {
    driver.allocator = &allocator;
    driver.info.address = "127.0.0.1";
    driver.info.timeout = 1000;
    driver.info.signalTimeout = 2000;
    driver.hostDirectory = "C:\\nonexistent\\";
  }

  FakeDriver driver;
  TestFrameAllocator allocator;
  TestVideoCallback callback;
};

TEST_F(BaseRtpChannelTest, PacketsPassOnlyFromTheCameraAndWithTheExpectedPayloadType) {
  struct Case {
    const char* sender;
    uint8_t filter;
    uint8_t payloadType;
    bool dataSeen;
    bool processed;
  };
  const Case cases[] = {
      {"127.0.0.1", CBaseRTPChannel::kAnyPayload, 96, true, true},
      {"127.0.0.1", CBaseRTPChannel::kAnyPayload, 26, true, true},
      {"127.0.0.1", 96, 96, true, true},
      {"127.0.0.1", 96, 97, true, false},  // the camera is alive, the packet is not ours
      {"127.0.0.2", CBaseRTPChannel::kAnyPayload, 96, false, false},
      {"127.0.0.2", 96, 96, false, false},
  };
  TestRtpChannel channel(&driver, &callback);
  uint16_t sequence = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sender) + " filter " + std::to_string(c.filter) + " type " +
                 std::to_string(c.payloadType));
    channel.dataEvent_.Reset();
    channel.SetPayloadFilter(c.filter);
    size_t before = channel.Processed().size();
    sockaddr_in sender = MakeAddress(c.sender, 5000);
    CRTPPacket packet = MakeRtpPacket(c.payloadType, ++sequence, 1000, false);
    channel.OnRtpPacket(&sender, &packet);
    EXPECT_EQ(channel.dataEvent_.IsSet(), c.dataSeen);
    EXPECT_EQ(channel.Processed().size() - before, c.processed ? 1u : 0u);
  }
  channel.OnRtpPacket(nullptr, nullptr);  // defensive: nothing to do, nothing to crash
}

TEST_F(BaseRtpChannelTest, SwappedDatagramsReachTheDepacketizerInOrder) {
  TestRtpChannel channel(&driver, &callback);
  for (uint16_t sequence : {10, 12, 11, 13, 13, 15, 14}) {
    sockaddr_in sender = MakeAddress("127.0.0.1", 5000);
    CRTPPacket packet = MakeRtpPacket(96, sequence, 1000, false);
    channel.OnRtpPacket(&sender, &packet);
  }
  EXPECT_EQ(channel.Processed(), (std::vector<uint16_t>{10, 11, 12, 13, 14, 15}));
}

TEST_F(BaseRtpChannelTest, TheNamedSourceIsAcceptedAndForeignSendersAreLoggedOnce) {
  TestRtpChannel channel(&driver, &callback);
  channel.SetSourceAddress(MakeAddress("127.0.0.7", 0).sin_addr.s_addr);
  struct Case {
    const char* sender;
    bool processed;
  };
  const Case cases[] = {{"127.0.0.1", true}, {"127.0.0.7", true}, {"127.0.0.9", false}, {"127.0.0.8", false}};
  uint16_t sequence = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sender);
    size_t before = channel.Processed().size();
    sockaddr_in sender = MakeAddress(c.sender, 5000);
    CRTPPacket packet = MakeRtpPacket(96, ++sequence, 1000, false);
    channel.OnRtpPacket(&sender, &packet);
    EXPECT_EQ(channel.Processed().size() - before, c.processed ? 1u : 0u);
  }
  std::vector<std::string> warnings;
  for (const auto& line : driver.Lines())
    if (line.level == kLogWarning) warnings.push_back(line.text);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("RTP data from 127.0.0.9 dropped"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("the camera's address is 127.0.0.1"), std::string::npos) << warnings[0];
}

// 90 kHz extrapolation from a known base time.
TEST_F(BaseRtpChannelTest, FrameTimesFollowTheBaseTimeAt90kHz) {
  const uint64_t base = 132500000000000000ull;  // some day in 2020
  struct Step {
    uint32_t timestamp;
    uint64_t expected;  // 0: the current time
  };
  struct Case {
    const char* name;
    uint64_t base;
    std::vector<Step> steps;
  };
  const uint64_t second = 10000000;
  const Case cases[] = {
      {"first timestamp only anchors",
       base,
       {{90000, base}, {180000, base + second}, {270000, base + 2 * second}}},
      {"older or equal timestamps do not move time back",
       base,
       {{90000, base}, {180000, base + second}, {90000, base + second}, {180000, base + second}}},
      {"timestamp 0 is ignored", base, {{0, 0}, {90000, base}, {0, base}, {90090, base + 10000}}},
      {"32-bit wrap keeps advancing", base, {{0xFFFF5038u, base}, {0x0000AFC8u, base + second}}},
      {"no base time gives the current time", 0, {{90000, 0}, {180000, 0}}},
  };
  TestRtpChannel channel(&driver, &callback);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    channel.SetTimeBase(c.base);
    for (const Step& step : c.steps) {
      SYSTEMTIME time{};
      uint64_t before = GetCurrentFileTime();
      channel.GetFrameTime(step.timestamp, &time);
      uint64_t got = SystemTimeToFileTimeValue(time);
      if (step.expected != 0) {
        // SYSTEMTIME keeps milliseconds only.
        EXPECT_EQ(got / 10000, step.expected / 10000) << step.timestamp;
      } else {
        EXPECT_GE(got / 10000 + 1, before / 10000) << step.timestamp;
        EXPECT_LE(got, GetCurrentFileTime() + 10000) << step.timestamp;
      }
    }
  }
  channel.GetFrameTime(90000, nullptr);
}

TEST_F(BaseRtpChannelTest, ConverterFrameTimesStayNearTheWallClock) {
  TestRtpChannel channel(&driver, &callback);
  channel.SetTimeBase(0);  // back to the smoothing converter
  for (uint32_t ts = 0; ts < 10; ++ts) {
    SYSTEMTIME time{};
    channel.GetFrameTime(1000 + ts * 3600, &time);
    uint64_t got = SystemTimeToFileTimeValue(time);
    uint64_t now = GetCurrentFileTime();
    ASSERT_NE(got, 0u);
    EXPECT_LT(got > now ? got - now : now - got, 20000000ull);  // within 2 s
  }
}

TEST_F(BaseRtpChannelTest, PortSearchSkipsOccupiedAndAlreadyStreamedPairs) {
  TestRtpChannel channel(&driver, &callback);
  // Other programs may hold any pair of the range: the test takes the first two it finds free.
  const uint16_t occupiedPort = FirstFreeUdpPair(CRtpReception::kFirstPort, CRtpReception::kPortLimit);
  ASSERT_NE(occupiedPort, 0);
  BusyUdpPort occupied(occupiedPort);
  ASSERT_TRUE(occupied.IsBound());
  // The camera still streams to the next free pair (a leftover session): that pair is not quiet.
  const uint16_t streamedPort = FirstFreeUdpPair(occupiedPort + 2, CRtpReception::kPortLimit);
  ASSERT_NE(streamedPort, 0);
  RtpStreamer leftover([&] { return streamedPort; }, 96);

  ASSERT_TRUE(channel.BindPorts());
  const uint16_t bound = channel.GetReception().GetRtpPort();
  EXPECT_NE(bound, occupiedPort);
  EXPECT_NE(bound, streamedPort);
  EXPECT_EQ(bound % 2, 0);
  EXPECT_GE(bound, CRtpReception::kFirstPort);
  EXPECT_LT(bound, CRtpReception::kPortLimit);
  EXPECT_EQ(channel.GetReception().GetRtcpPort(), bound + 1);
  channel.DropPorts();
  EXPECT_EQ(channel.GetReception().GetRtpPort(), 0);
}

TEST_F(BaseRtpChannelTest, ANewStreamIsNotJudgedByTheSequenceNumbersOfTheLastOne) {
  // A stream that starts 500 numbers behind the last one seen would read as late duplicates.
  const uint16_t staleSequence = 3000, newSequence = 2500;
  auto receivedNewStream = [newSequence](TestRtpChannel& channel) {
    return WaitUntil(
        [&] {
          auto processed = channel.Processed();
          return std::find(processed.begin(), processed.end(), newSequence) != processed.end();
        },
        3000);
  };
  {
    SCOPED_TRACE("a pair skipped for stale data");
    TestRtpChannel channel(&driver, &callback);
    const uint16_t stalePort = FirstFreeUdpPair(CRtpReception::kFirstPort, CRtpReception::kPortLimit);
    ASSERT_NE(stalePort, 0);
    RtpStreamer leftover([&] { return stalePort; }, 96, 20, staleSequence);
    ASSERT_TRUE(channel.BindPorts());
    const uint16_t bound = channel.GetReception().GetRtpPort();
    ASSERT_NE(bound, stalePort);
    auto processed = channel.Processed();
    ASSERT_FALSE(processed.empty());  // the stale stream was seen before its pair was given up
    EXPECT_GE(processed.front(), staleSequence);
    testing::UdpPeer camera;
    for (uint16_t sequence = newSequence; sequence < newSequence + 3; ++sequence)
      camera.Send(bound, MakeRtpPacket(96, sequence, 9000u * sequence, true));
    EXPECT_TRUE(receivedNewStream(channel));
    channel.DropPorts();
  }
  {
    SCOPED_TRACE("a group joined again");
    TestRtpChannel channel(&driver, &callback);
    for (uint16_t sequence = staleSequence; sequence < staleSequence + 3; ++sequence) {
      sockaddr_in sender = MakeAddress("127.0.0.1", 5000);
      CRTPPacket packet = MakeRtpPacket(96, sequence, 1000, true);
      channel.OnRtpPacket(&sender, &packet);
    }
    // Whether the join itself works here does not matter: the old stream is over either way.
    channel.Join("239.255.77.1", 17000, 0);
    channel.DropPorts();
    sockaddr_in sender = MakeAddress("127.0.0.1", 5000);
    CRTPPacket packet = MakeRtpPacket(96, newSequence, 2000, true);
    channel.OnRtpPacket(&sender, &packet);
    EXPECT_TRUE(receivedNewStream(channel));
  }
}

TEST_F(BaseRtpChannelTest, PortSearchGivesUpAtOnceWhenStopped) {
  TestRtpChannel channel(&driver, &callback);
  ASSERT_TRUE(channel.Start(VideoSettings{}));
  channel.Stop();
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(channel.BindPorts());  // the stop event is still set
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
}

TEST_F(BaseRtpChannelTest, UnicastLoopGoesOnlineLosesSignalAndRecovers) {
  TestRtpChannel channel(&driver, &callback);
  RtpStreamer camera([&] { return channel.sessionPort.load(); }, 96);
  const std::string online = "vantrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online (Rec)";
  const std::string lost =
      "vantrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1 (Rec)";

  ASSERT_TRUE(channel.Start(VideoSettings{}));
  ASSERT_TRUE(WaitUntil([&] { return channel.GetState() == kCameraReceiving; }, 10000));
  // The worker announces the state first and logs the line after it.
  EXPECT_TRUE(WaitUntil([&] { return driver.HasLine(kLogInfo, online); }, 5000));
  EXPECT_GT(callback.frames.load(), 0);

  camera.SetSending(false);
  ASSERT_TRUE(WaitUntil([&] { return callback.signalLost.load() > 0; }, 10000));
  EXPECT_EQ(channel.GetState(), kCameraSignalLost);
  EXPECT_TRUE(WaitUntil([&] { return driver.HasLine(kLogError, lost); }, 5000));
  // Failed reconnect rounds go on, but the host hears of the outage once.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(callback.signalLost.load(), 1);
  EXPECT_GE(channel.prepares.load(), 2);

  camera.SetSending(true);
  ASSERT_TRUE(WaitUntil([&] { return channel.GetState() == kCameraReceiving; }, 15000));
  auto onlineLines = [&] {
    int count = 0;
    for (const auto& line : driver.Lines()) count += line.text == online;
    return count;
  };
  EXPECT_TRUE(WaitUntil([&] { return onlineLines() >= 2; }, 5000));
  EXPECT_EQ(onlineLines(), 2);

  channel.Stop();
  EXPECT_EQ(channel.GetState(), kCameraStopped);
  EXPECT_EQ(channel.GetReception().GetRtpPort(), 0);
  EXPECT_EQ(allocator.outstanding.load(), 0);
}

TEST_F(BaseRtpChannelTest, SettingsChangesReachTheCameraFromTheWorker) {
  TestRtpChannel channel(&driver, &callback);
  channel.prepareResult = false;  // no session needed for the mailbox
  ASSERT_TRUE(channel.Start(VideoSettings{0, 640, 480, 50, 3, 0}));
  ASSERT_TRUE(channel.UpdateSettings(0, 1280, 720));
  ASSERT_TRUE(WaitUntil([&] { return channel.prepares.load() >= 2; }, 5000));
  channel.Stop();
  ASSERT_EQ(channel.settingsChanges.size(), 1u);
  EXPECT_EQ(channel.settingsChanges[0], CBaseCameraChannel::kSizeChanged);
}

TEST_F(BaseRtpChannelTest, StopWhileTheCameraHangsReturnsWithinTwiceTheTimeout) {
  // Tearing the receivers down takes up to their select time-outs (2 s RTP, 1 s RTCP); a shorter
  // request time-out would get a healthy worker terminated mid-teardown.
  driver.info.timeout = 3000;
  for (bool hang : {true, false}) {
    SCOPED_TRACE(hang ? "camera hangs in set-up" : "searching a port pair");
    TestRtpChannel channel(&driver, &callback);
    channel.hangInPrepare = hang;
    ASSERT_TRUE(channel.Start(VideoSettings{}));
    ASSERT_TRUE(WaitUntil([&] { return channel.prepares.load() > 0; }, 5000));
    auto started = std::chrono::steady_clock::now();
    channel.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2 * driver.info.timeout));
    EXPECT_EQ(channel.GetState(), kCameraStopped);
  }
}

TEST_F(BaseRtpChannelTest, StreamNameFollowsTheStreamIndex) {
  const char* expected[] = {"LumivarIPCapture::RecStream", "LumivarIPCapture::LiveStream",
                            "LumivarIPCapture::RemoteStream", "LumivarIPCapture"};
  for (uint32_t index = 0; index < 4; ++index) {
    TestRtpChannel channel(&driver, &callback);
    channel.prepareResult = false;
    ASSERT_TRUE(channel.Start(VideoSettings{0, 352, 288, 0, 3, index}));
    EXPECT_EQ(channel.GetStreamName(), expected[index]);
    uint32_t width = 0, height = 0;
    channel.GetRequestedSize(width, height);
    EXPECT_EQ(width, 352u);
    EXPECT_EQ(height, 288u);
    channel.Stop();
  }
}

}  // namespace
}  // namespace vantrel
