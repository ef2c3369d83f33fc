#include "channels/rcp_stream_receiver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/teardown_queue.h"
#include "support/fake_stream_camera.h"
#include "support/winsock_test.h"

namespace vantrel {
namespace {

using testing::FakeStreamCamera;

template <typename Camera>
DEVICE_INFO DeviceFor(const Camera& camera) {
  DEVICE_INFO device;
  device.address = "127.0.0.1";
  device.port = camera.Port();
  device.user = "service";
  device.password = "camsim";
  device.timeout = 2000;
  return device;
}

// Keeps what the streamer transmitted: one entry per TRANSMIT frame.
struct AudioSink {
  std::mutex lock;
  std::vector<std::vector<uint8_t>> pieces;

  FakeStreamCamera::Script Script(uint32_t error = 0) {
    return [this, error](FakeStreamCamera& cam) {
      uint32_t id;
      if (!cam.ReadRequest(id)) return;
      cam.Accept(id, error);
      rcpplus::Frame frame;
      while (cam.ReadFrame(frame) && frame.type == rcpplus::FrameType::kTransmit) {
        std::lock_guard<std::mutex> guard(lock);
        pieces.emplace_back(frame.payload.begin() + 1, frame.payload.end());
      }
    };
  }
  size_t Count() {
    std::lock_guard<std::mutex> guard(lock);
    return pieces.size();
  }
  std::vector<uint8_t> Bytes() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<uint8_t> all;
    for (const auto& p : pieces) all.insert(all.end(), p.begin(), p.end());
    return all;
  }
  bool WaitCount(size_t n) {
    for (int i = 0; i < 200 && Count() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Count() == n;
  }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i);
  return v;
}

class RcpStreamReceiverTest : public testing::WinsockTest {};

TEST_F(RcpStreamReceiverTest, AudioGoesOutIn640BytePiecesWithTheLeftoverCarriedOver) {
  AudioSink sink;
  FakeStreamCamera camera(sink.Script());
  CRcpStreamReceiver receiver(DeviceFor(camera));
  ASSERT_TRUE(receiver.ConnectAudioSend(false, nullptr));
  const auto a = Pattern(1000, 0), b = Pattern(1000, 100);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(receiver.Send(a.data(), a.size(), nullptr));
  EXPECT_TRUE(sink.WaitCount(1));
  EXPECT_EQ(receiver.GetLeftover(), 360u);
  ASSERT_TRUE(receiver.Send(b.data(), b.size(), nullptr));
  EXPECT_TRUE(sink.WaitCount(3));
  EXPECT_EQ(receiver.GetLeftover(), 80u);
  // Three pieces, each followed by its 80 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(235));
  std::vector<uint8_t> expected(a);
  expected.insert(expected.end(), b.begin(), b.begin() + 920);
  EXPECT_EQ(sink.Bytes(), expected);
  for (const auto& piece : sink.pieces) EXPECT_EQ(piece.size(), 640u);

  // Samples older than two seconds do not join new ones.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  const auto c = Pattern(600, 7);
  ASSERT_TRUE(receiver.Send(c.data(), c.size(), nullptr));
  EXPECT_EQ(receiver.GetLeftover(), 600u);
  const auto d = Pattern(40, 9);
  ASSERT_TRUE(receiver.Send(d.data(), d.size(), nullptr));
  EXPECT_TRUE(sink.WaitCount(4));
  std::vector<uint8_t> last(c);
  last.insert(last.end(), d.begin(), d.end());
  EXPECT_EQ(sink.pieces.back(), last);
  EXPECT_FALSE(receiver.Send(nullptr, 0, nullptr)) << "no bytes";
}

TEST_F(RcpStreamReceiverTest, RefusedAudioStreamFailsWithTheCamerasCode) {
  AudioSink sink;
  FakeStreamCamera camera(sink.Script(0x31));
  CRcpStreamReceiver receiver(DeviceFor(camera));
  EXPECT_FALSE(receiver.ConnectAudioSend(false, nullptr));
  EXPECT_EQ(receiver.GetConnectError(), 0x31u);
  const auto a = Pattern(640, 0);
  EXPECT_FALSE(receiver.Send(a.data(), a.size(), nullptr)) << "nothing to send through";
}

TEST_F(RcpStreamReceiverTest, StopEventCutsTheWaitForTheCameraShort) {
  FakeStreamCamera camera([](FakeStreamCamera& cam) { cam.Stall(); });
  CRcpStreamReceiver receiver(DeviceFor(camera));
  CManualEvent stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.Set();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(receiver.ConnectAudioSend(false, &stop));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  stopper.join();
}

struct PayloadUser : IRcpStreamReceiverUser {
  std::mutex lock;
  std::vector<uint16_t> sequences;
  std::vector<uint32_t> lengths;
  std::vector<bool> markers;
  void OnRtpPayload(const uint8_t*, uint32_t length, uint16_t sequenceNumber, uint32_t timestamp,
                    bool marker) override {
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(timestamp, 0x1000u);
    sequences.push_back(sequenceNumber);
    lengths.push_back(length);
    markers.push_back(marker);
  }
  size_t Count() {
    std::lock_guard<std::mutex> guard(lock);
    return sequences.size();
  }
};

TEST_F(RcpStreamReceiverTest, VideoHandsOnMpeg4PayloadsOnly) {
  std::atomic<bool> more{false};
  FakeStreamCamera camera([&](FakeStreamCamera& cam) {
    uint32_t id;
    if (!cam.ReadRequest(id)) return;
    cam.Accept(id);
    cam.SendRtp(1, false, 100);
    cam.SendRtp(2, false, 50, 96);  // not MPEG-4: dropped
    cam.SendRtp(3, true, 10);
    while (!more.load() && !cam.Stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (uint16_t i = 4; i < 50; ++i) cam.SendRtp(i, true, 10);
    cam.Stall();
  });
  PayloadUser user;
  CRcpStreamReceiver receiver(DeviceFor(camera));
  ASSERT_TRUE(receiver.ConnectVideo(&user, 1, 0, 0));
  for (int i = 0; i < 200 && user.Count() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  {
    std::lock_guard<std::mutex> guard(user.lock);
    EXPECT_EQ(user.sequences, std::vector<uint16_t>({1, 3}));
    EXPECT_EQ(user.lengths, std::vector<uint32_t>({100, 10}));
    EXPECT_EQ(user.markers, std::vector<bool>({false, true}));
  }
  EXPECT_EQ(camera.Request()[3], 10) << "unicast MPEG-4 asks for coding 10";
  receiver.Disconnect();
  more.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(user.Count(), 2u) << "nothing after the disconnect";
}

// A pause from inside the frame callback disconnects on the streamer's own thread: the call
// returns at once, nothing more reaches the user, and the streamer (still on that thread's
// stack) is ended and freed by the tear-down queue, not under its own feet.
TEST_F(RcpStreamReceiverTest, DisconnectFromInsideThePayloadCallbackDefersTheStreamer) {
  FakeStreamCamera camera([](FakeStreamCamera& cam) {
    uint32_t id;
    if (!cam.ReadRequest(id)) return;
    cam.Accept(id);
    for (uint16_t i = 0; !cam.Stopping(); ++i) {
      cam.SendRtp(i, true, 100);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  struct PausingUser final : IRcpStreamReceiverUser {
    CRcpStreamReceiver* receiver = nullptr;
    std::atomic<int> calls{0};
    std::atomic<long long> disconnectMs{-1};
    void OnRtpPayload(const uint8_t*, uint32_t, uint16_t, uint32_t, bool) override {
      if (calls++ != 0) return;
      const auto start = std::chrono::steady_clock::now();
      receiver->Disconnect();
      disconnectMs =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
              .count();
    }
  } user;
  CRcpStreamReceiver receiver(DeviceFor(camera));
  user.receiver = &receiver;
  ASSERT_TRUE(receiver.ConnectVideo(&user, 1, 0, 0));
  for (int i = 0; i < 500 && user.disconnectMs.load() < 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(user.disconnectMs.load(), 0);
  EXPECT_LT(user.disconnectMs.load(), 1000);
  EXPECT_FALSE(receiver.IsConnected());
  ASSERT_TRUE(CTeardownQueue::Drain(10000)) << "the streamer's end was left on the queue";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(user.calls.load(), 1) << "nothing after the disconnect";
  receiver.Disconnect();
}

// The MPEG-4 channel's stop aborts the receiver: a connect to a vanished camera ends at once,
// and no connect or send is made until the owner resets the abort.
TEST_F(RcpStreamReceiverTest, AbortEndsAConnectAndRefusesTheNextUntilReset) {
  testing::VanishedCamera camera;
  DEVICE_INFO device = DeviceFor(camera);
  device.timeout = 10000;
  CRcpStreamReceiver receiver(device);
  PayloadUser user;
  std::atomic<bool> done{false};
  std::atomic<bool> connected{true};
  const auto start = std::chrono::steady_clock::now();
  std::thread connecting([&] {
    connected = receiver.ConnectVideo(&user, 1, 0, 0);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  if (done.load()) {
    connecting.join();
    GTEST_SKIP() << "this platform answers a connect to a full backlog";
  }
  receiver.Abort();
  connecting.join();
  EXPECT_FALSE(connected.load());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  const auto again = std::chrono::steady_clock::now();
  EXPECT_FALSE(receiver.ConnectVideo(&user, 1, 0, 0));
  EXPECT_FALSE(receiver.ConnectAudioSend(false, nullptr));
  EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(500));
  receiver.ResetAbort();
  receiver.Disconnect();
}

}  // namespace
}  // namespace vantrel
