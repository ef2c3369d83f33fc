// Camera-side helpers for channel tests: a UDP socket that plays the camera's RTP sender from a
// chosen loopback address, RTP packet builders and a bounded wait on a condition.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "streaming/rtp_packet.h"

namespace vantrel::testing {

// Polls `condition` every 10 ms until it holds or `timeoutMs` passes.
inline bool WaitUntil(const std::function<bool()>& condition, uint32_t timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline CRTPPacket MakeRtpPacket(uint8_t payloadType, uint16_t sequence, uint32_t timestamp, bool marker,
                                std::vector<uint8_t> payload = {0x01, 0x02, 0x03, 0x04}) {
  CRTPPacket packet;
  packet.SetPayloadType(payloadType);
  packet.SetSequenceNumber(sequence);
  packet.SetTimestamp(timestamp);
  packet.SetMarker(marker);
  packet.SetSsrc(0x11223344);
  packet.SetPayload(payload.data(), payload.size());
  return packet;
}

inline sockaddr_in MakeAddress(const char* address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr(address);
  return a;
}

// A UDP socket bound to `address` (any port) that sends RTP packets.
class UdpPeer {
 public:
  explicit UdpPeer(const char* address = "127.0.0.1") {
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = MakeAddress(address, 0);
    bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof(local));
  }
  ~UdpPeer() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  bool Send(uint16_t port, const CRTPPacket& packet, const char* to = "127.0.0.1") {
    std::vector<uint8_t> bytes = packet.Serialize();
    sockaddr_in target = MakeAddress(to, port);
    return sendto(socket_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                  reinterpret_cast<const sockaddr*>(&target),
                  sizeof(target)) == static_cast<int>(bytes.size());
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

// Occupies a UDP port on every interface, as another program would.
class BusyUdpPort {
 public:
  explicit BusyUdpPort(uint16_t port) {
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = MakeAddress("0.0.0.0", port);
    bound_ = bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
  }
  ~BusyUdpPort() { closesocket(socket_); }
  BusyUdpPort(const BusyUdpPort&) = delete;
  BusyUdpPort& operator=(const BusyUdpPort&) = delete;
  bool IsBound() const { return bound_; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  bool bound_ = false;
};

// The first even port from `from` (below `limit`) whose pair both bind now, 0 when none does.
// Other programs (the drivers of tests running in parallel among them) may hold any port of the
// range, so a test looks for what is free instead of assuming where the range starts.
inline uint16_t FirstFreeUdpPair(uint16_t from, uint16_t limit) {
  for (uint32_t port = from + (from & 1u); port + 1 < limit; port += 2) {
    BusyUdpPort rtp(static_cast<uint16_t>(port));
    if (!rtp.IsBound()) continue;
    BusyUdpPort rtcp(static_cast<uint16_t>(port + 1));
    if (rtcp.IsBound()) return static_cast<uint16_t>(port);
  }
  return 0;
}

// Sends one marker packet every `intervalMs` to whatever port `port()` names (0: nothing), so
// the stream follows the channel from one port pair to the next as a camera would.
class RtpStreamer {
 public:
  RtpStreamer(std::function<uint16_t()> port, uint8_t payloadType, uint32_t intervalMs = 20,
              uint16_t firstSequence = 1)
      : port_(std::move(port)),
        payloadType_(payloadType),
        intervalMs_(intervalMs),
        firstSequence_(firstSequence) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~RtpStreamer() {
    done_ = true;
    thread_.join();
  }
  RtpStreamer(const RtpStreamer&) = delete;
  RtpStreamer& operator=(const RtpStreamer&) = delete;

  void SetSending(bool sending) { sending_ = sending; }

 private:
  void Loop() {
    UdpPeer peer;
    uint16_t sequence = firstSequence_;
    uint32_t timestamp = 90000;
    while (!done_) {
      uint16_t port = port_();
      if (sending_ && port != 0) peer.Send(port, MakeRtpPacket(payloadType_, sequence++, timestamp, true));
      timestamp += 3600;
      std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs_));
    }
  }

  std::function<uint16_t()> port_;
  const uint8_t payloadType_;
  const uint32_t intervalMs_;
  const uint16_t firstSequence_;
  std::atomic<bool> sending_{true};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace vantrel::testing
