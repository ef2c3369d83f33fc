// Prints how long stopping an RTSP session takes (UDP and interleaved, while media flow and while
// a request goes unanswered) and how much memory a receiver holds when the host stalls in its
// frame callback. Figures, not pass/fail: run it under Wine inside the checkout's namespace,
//   ip netns exec <ns> wine build/win/rtsp_stop_and_queue_bench.exe
#include <windows.h>
// psapi.h needs the types windows.h defines.
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "streaming/base_rtsp_client.h"
#include "streaming/rtp_receiver.h"
#include "streaming/rtsp_client_fake_server.h"
#include "streaming/udp_test_socket.h"
#include "support/fake_driver.h"

using namespace vantrel;
using vantrel::testing::FakeReply;
using vantrel::testing::RequestMethod;
using vantrel::testing::RtspAnswer;
using vantrel::testing::RtspFakeServer;

namespace {

class NullUser : public IRTSPClientUser {
 public:
  bool SdpInfoReceived(const SdpInfo&) override { return true; }
  void OnInterleavedPacket(const CRTPPacket&) override { ++packets; }
  void OnSessionEnded() override {}
  std::atomic<int> packets{0};
};

std::string Frame(uint16_t sequence) {
  std::string rtp = {'\x80', '\x60', static_cast<char>(sequence >> 8), static_cast<char>(sequence)};
  rtp += std::string(8, '\0') + std::string(1200, 'x');
  return std::string("$\0", 2) + char(rtp.size() >> 8) + char(rtp.size() & 0xFF) + rtp;
}

// One stop: a session that streams (or hangs on its first request), then Disconnect, timed.
double StopMs(uint32_t mode, bool hang) {
  std::atomic<bool> playing{false};
  RtspFakeServer server([&](const std::string& r, size_t) {
    if (hang) return FakeReply{"", false, true};
    const std::string method = RequestMethod(r);
    if (method == "DESCRIBE")
      return FakeReply{RtspAnswer(r, "200 OK", "", "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:t\r\n")};
    if (method == "PLAY") playing = true;
    return FakeReply{
        RtspAnswer(r, "200 OK", "Session: 1;timeout=60\r\nTransport: RTP/AVP/TCP;interleaved=0-1\r\n")};
  });
  std::atomic<bool> done{false};
  std::thread camera([&] {
    for (uint16_t s = 0; !done; Sleep(5))
      if (playing && mode == kRtspTransportInterleaved) server.SendRaw(Frame(s++));
  });
  testing::FakeDriver driver;
  NullUser user;
  CBaseRTSPClient client(&driver);
  RTSPConnectionParams params;
  params.host = "127.0.0.1";
  params.serverPort = server.Port();
  params.clientRtpPort = 40000;
  params.clientRtcpPort = 40001;
  params.receiveTimeoutMs = 5000;
  client.Start(params, &user, mode);
  Sleep(hang ? 300 : 800);
  auto begin = std::chrono::steady_clock::now();
  client.Disconnect();
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
  done = true;
  camera.join();
  return ms;
}

class StalledHost : public IRTPReceiverUser {
 public:
  void OnRtpPacket(const sockaddr_in*, CRTPPacket*) override { Sleep(1000); }
  void ReceiveTimedOut(IRTPClient*) override {}
  void ClientClosed(IRTPClient*) override {}
};

size_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                       sizeof(counters));
  // Wine leaves PrivateUsage at 0; the working set tracks the heap there.
  return counters.PrivateUsage ? counters.PrivateUsage : counters.WorkingSetSize;
}

}  // namespace

int main() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  const struct {
    const char* name;
    uint32_t mode;
    bool hang;
  } cases[] = {{"UDP, playing", kRtspTransportUdp, false},
               {"UDP, request unanswered", kRtspTransportUdp, true},
               {"TCP interleaved, media flowing", kRtspTransportInterleaved, false},
               {"TCP interleaved, request unanswered", kRtspTransportInterleaved, true}};
  std::printf("RTSP session stop (Disconnect), receive time-out 5000 ms, 5 runs each:\n");
  for (const auto& c : cases) {
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) runs.push_back(StopMs(c.mode, c.hang));
    std::sort(runs.begin(), runs.end());
    std::printf("STOP_MS %-38s median %7.1f  max %7.1f\n", c.name, runs[2], runs[4]);
  }

  // 40 Mbit/s of 1400-byte datagrams for 10 s (50 MB) at a host that takes one packet a second, with the
  // queue's bound and (for comparison) without one.
  for (size_t limit : {static_cast<size_t>(CRTPReceiver::kMaxQueuedBytes), static_cast<size_t>(-1)}) {
    testing::FakeDriver driver;
    StalledHost host;
    CRTPReceiver receiver(&driver);
    receiver.SetUser(&host);
    receiver.SetQueueLimit(limit);
    receiver.Start(0);
    testing::UdpTestSocket camera;
    const size_t before = PrivateBytes();
    size_t peakQueued = 0, peakPrivate = before;
    const int perTick = 36;  // x 100 ticks/s x 1400 bytes ~ 40 Mbit/s
    for (int tick = 0; tick < 1000; ++tick) {
      for (int i = 0; i < perTick; ++i)
        camera.SendTo("127.0.0.1", receiver.GetPort(),
                      testing::RtpDatagram(static_cast<uint16_t>(tick * perTick + i), 1388));
      Sleep(10);
      peakQueued = std::max(peakQueued, receiver.GetQueuedBytes());
      peakPrivate = std::max(peakPrivate, PrivateBytes());
    }
    std::printf("QUEUE %s: peak queued %zu bytes, process memory growth %.1f MiB (50 MB sent)\n",
                limit == static_cast<size_t>(-1) ? "unbounded" : "bounded at 4 MiB", peakQueued,
                (peakPrivate - before) / 1048576.0);
    receiver.Stop();
  }
  WSACleanup();
  return 0;
}
