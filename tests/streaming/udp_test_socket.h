// A plain Winsock UDP socket for the reception tests: plays the camera's side, or a stranger.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::testing {

// Winsock for the whole test program, as a channel would start it.
class WinsockScope {
 public:
  WinsockScope() {
    WSADATA data;
    ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockScope() {
    if (ok_) WSACleanup();
  }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

inline uint32_t Ipv4(const char* text) {
  in_addr addr{};
  InetPtonA(AF_INET, text, &addr);
  return addr.s_addr;
}

inline sockaddr_in Endpoint(const char* ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = Ipv4(ip);
  a.sin_port = htons(port);
  return a;
}

class UdpTestSocket {
 public:
  explicit UdpTestSocket(const char* ip = "127.0.0.1", uint16_t port = 0) {
    s_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = Endpoint(ip, port);
    bind(s_, reinterpret_cast<sockaddr*>(&local), sizeof(local));
    DWORD timeout = 3000;
    setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  }
  ~UdpTestSocket() { closesocket(s_); }
  UdpTestSocket(const UdpTestSocket&) = delete;
  UdpTestSocket& operator=(const UdpTestSocket&) = delete;

  uint16_t Port() const {
    sockaddr_in a{};
    int n = sizeof(a);
    getsockname(s_, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
  }
  bool SendTo(const char* ip, uint16_t port, const std::vector<uint8_t>& data) {
    sockaddr_in to = Endpoint(ip, port);
    return sendto(s_, reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0,
                  reinterpret_cast<sockaddr*>(&to), sizeof(to)) == static_cast<int>(data.size());
  }
  // Empty on time-out.
  std::vector<uint8_t> Receive(uint32_t timeoutMs = 3000) {
    DWORD timeout = timeoutMs;
    setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    std::vector<uint8_t> buffer(65536);
    int n = recv(s_, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
    if (n <= 0) return {};
    buffer.resize(static_cast<size_t>(n));
    return buffer;
  }

 private:
  SOCKET s_ = INVALID_SOCKET;
};

// An RTP datagram: version 2, payload type 96, the given sequence number, `payload` bytes.
inline std::vector<uint8_t> RtpDatagram(uint16_t seq, size_t payload = 100, uint32_t timestamp = 0) {
  std::vector<uint8_t> d = {0x80,
                            96,
                            static_cast<uint8_t>(seq >> 8),
                            static_cast<uint8_t>(seq),
                            static_cast<uint8_t>(timestamp >> 24),
                            static_cast<uint8_t>(timestamp >> 16),
                            static_cast<uint8_t>(timestamp >> 8),
                            static_cast<uint8_t>(timestamp),
                            0x12,
                            0x34,
                            0x56,
                            0x78};
  d.resize(12 + payload, 0xAB);
  return d;
}

}  // namespace vantrel::testing
