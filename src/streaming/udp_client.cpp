#include "streaming/udp_client.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>

#include "core/driver_services.h"
#include "foundation/hand_over_clock.h"

namespace vantrel {

namespace {

// Pause after a receive error that is neither an empty socket nor fatal, so a socket stuck in an
// error state that keeps reporting itself readable cannot spin the thread.
constexpr uint32_t kErrorRetryMs = 50;
constexpr int kDrainDatagrams = 100;
constexpr int kDrainDatagramSize = 1500;
constexpr uint32_t kMinJoinMs = 5000;
constexpr uint32_t kJoinMarginMs = 1000;

bool SetIntOption(SOCKET s, int level, int name, DWORD value) {
  return setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof(value)) == 0;
}

bool ParseDottedIPv4(const char* text, uint32_t& out) {
  if (!text) return false;
  in_addr addr{};
  if (InetPtonA(AF_INET, text, &addr) != 1) return false;
  out = addr.s_addr;
  return true;
}

}  // namespace

CUDPClient::CUDPClient(IDriver* driver) : CBaseThread(driver) {}

CUDPClient::~CUDPClient() { Close(); }

bool CUDPClient::Open(IRTPClientUser* user, uint16_t port) {
  UdpSocketParams params;
  params.port = port;
  params.receiveBufferSize = kStreamSocketBuffer;
  params.receiveTimeoutMs = kOpenReceiveTimeoutMs;
  params.sendTimeoutMs = kOpenSendTimeoutMs;
  return OpenSocket(user, params);
}

bool CUDPClient::OpenMulticast(IRTPClientUser* user, const char* group, uint16_t port,
                               uint32_t interfaceAddress) {
  UdpSocketParams params;
  if (!ParseDottedIPv4(group, params.multicastGroup)) {
    if (!IsOpen()) Close();
    return false;
  }
  params.interfaceAddress = interfaceAddress;
  params.port = port;
  params.receiveBufferSize = kStreamSocketBuffer;
  params.receiveTimeoutMs = kOpenReceiveTimeoutMs;
  params.sendTimeoutMs = kOpenSendTimeoutMs;
  return OpenSocket(user, params);
}

bool CUDPClient::OpenSocket(IRTPClientUser* user, const UdpSocketParams& params) {
  // A second open must not tear down the socket that is already streaming.
  if (IsOpen()) return false;
  if (!user) {
    Close();
    return false;
  }
  const bool multicast = params.multicastGroup != INADDR_NONE;
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    Close();
    return false;
  }
  auto fail = [&]() {
    closesocket(s);
    Close();
    return false;
  };
  if (multicast && !SetIntOption(s, SOL_SOCKET, SO_REUSEADDR, 1)) return fail();
  const DWORD buffer = params.receiveBufferSize ? params.receiveBufferSize : kDefaultSocketBuffer;
  // A system that refuses the large buffer still gets a working socket with the usual one.
  if (!SetIntOption(s, SOL_SOCKET, SO_RCVBUF, buffer) &&
      (buffer == kDefaultSocketBuffer || !SetIntOption(s, SOL_SOCKET, SO_RCVBUF, kDefaultSocketBuffer)))
    return fail();
  if (params.receiveTimeoutMs > 0 && !SetIntOption(s, SOL_SOCKET, SO_RCVTIMEO, params.receiveTimeoutMs))
    return fail();
  if (params.sendTimeoutMs != 0 && !SetIntOption(s, SOL_SOCKET, SO_SNDTIMEO, params.sendTimeoutMs))
    return fail();

  // A multicast socket listens on all addresses and picks its interface through the membership:
  // a socket bound to an interface address is not given datagrams sent to the group on every
  // stack (Wine on Linux drops them), while this way works on all of them.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = multicast ? INADDR_ANY : params.interfaceAddress;
  local.sin_port = htons(params.port);
  if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) return fail();
  // The receive thread reads until the socket is empty after each wake-up; a blocking read would
  // then wait out the receive time-out instead of returning to the wait and its stop checks.
  u_long nonBlockingMode = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlockingMode) != 0) return fail();
  // The thread waits on this event together with its stop event: one wait per burst that a stop
  // also ends, where a select would cost several calls into the Wine server per burst and would
  // need a datagram to wake it.
  WSAEVENT readable = WSACreateEvent();
  if (readable == WSA_INVALID_EVENT) return fail();
  if (WSAEventSelect(s, readable, FD_READ) != 0) {
    WSACloseEvent(readable);
    return fail();
  }
  auto failWithEvent = [&]() {
    WSACloseEvent(readable);
    return fail();
  };

  if (multicast) {
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = params.multicastGroup;
    membership.imr_interface.s_addr = params.interfaceAddress;
    if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&membership),
                   sizeof(membership)) != 0)
      return failWithEvent();
  }

  // Port 0 asks the system for a free port; callers need to know which one it gave.
  sockaddr_in bound{};
  int boundLength = sizeof(bound);
  if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) return failWithEvent();
  const uint16_t boundPort = ntohs(bound.sin_port);

  {
    CScopedLock guard(lock_);
    socket_ = s;
    threadSocket_ = s;
    readableEvent_ = readable;
    port_ = boundPort;
    user_ = user;
    joinedGroup_ = multicast ? params.multicastGroup : INADDR_NONE;
    socketTimeoutMs_ = std::max(params.receiveTimeoutMs, params.sendTimeoutMs);
  }
  char name[64];
  std::snprintf(name, sizeof(name), "UDP client thread, port %u", static_cast<unsigned>(boundPort));
  stopping_.store(false);
  if (!StartThread(name)) {
    Close();
    return false;
  }
  return true;
}

void CUDPClient::Close() {
  stopping_.store(true);
  GetStopEvent().Set();
  SOCKET s = INVALID_SOCKET;
  IRTPClientUser* user = nullptr;
  uint32_t joinMs = kMinJoinMs;
  {
    CScopedLock guard(lock_);
    if (joinedGroup_ != INADDR_NONE && socket_ != INVALID_SOCKET) {
      ip_mreq membership{};
      membership.imr_multiaddr.s_addr = joinedGroup_;
      membership.imr_interface.s_addr = INADDR_ANY;
      setsockopt(socket_, IPPROTO_IP, IP_DROP_MEMBERSHIP, reinterpret_cast<const char*>(&membership),
                 sizeof(membership));
    }
    joinedGroup_ = INADDR_NONE;
    // The stop event ends the thread's wait; the empty datagram to the socket's own port also
    // wakes a thread that is between its stop checks and the wait.
    if (socket_ != INVALID_SOCKET && port_ != 0) {
      sockaddr_in self{};
      self.sin_family = AF_INET;
      self.sin_port = htons(port_);
      self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      sendto(socket_, "", 0, 0, reinterpret_cast<const sockaddr*>(&self), sizeof(self));
    }
    if (socket_ != INVALID_SOCKET) shutdown(socket_, SD_BOTH);
    s = socket_;
    socket_ = INVALID_SOCKET;
    port_ = 0;
    user = user_;
    joinMs = std::max(std::max(selectTimeoutMs_, socketTimeoutMs_) + kJoinMarginMs, kMinJoinMs);
  }
  JoinThread(joinMs);
  if (s == INVALID_SOCKET) return;

  // Never block here: the socket has a receive time-out of seconds.
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  char scratch[kDrainDatagramSize];
  for (int i = 0; i < kDrainDatagrams; ++i) {
    if (recv(s, scratch, sizeof(scratch), 0) <= 0) break;
  }
  closesocket(s);
  void* readable = nullptr;
  {
    CScopedLock guard(lock_);
    if (threadSocket_ == s) threadSocket_ = INVALID_SOCKET;
    readable = readableEvent_;
    readableEvent_ = nullptr;
  }
  if (readable) WSACloseEvent(static_cast<WSAEVENT>(readable));
  NotifyClosed(user);
}

void CUDPClient::SetReceiveSize(uint32_t bytes) { receiveSize_.store(bytes); }

uint32_t CUDPClient::GetReceiveSize() { return receiveSize_.load(); }

void CUDPClient::SetSelectTimeout(uint32_t ms) {
  CScopedLock guard(lock_);
  selectTimeoutMs_ = ms;
}

uint16_t CUDPClient::GetPort() {
  CScopedLock guard(lock_);
  return port_;
}

bool CUDPClient::IsOpen() {
  CScopedLock guard(lock_);
  return socket_ != INVALID_SOCKET;
}

bool CUDPClient::Send(const sockaddr_in& address, const uint8_t* data, uint32_t length) {
  // Held across sendto so that Close cannot close the handle underneath; a UDP send does not
  // wait for the peer, and the send time-out bounds it anyway.
  CScopedLock guard(lock_);
  if (socket_ == INVALID_SOCKET || (!data && length > 0)) return false;
  uint32_t sent = 0;
  while (sent < length) {
    const int n = sendto(socket_, reinterpret_cast<const char*>(data) + sent, static_cast<int>(length - sent),
                         0, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    if (n == SOCKET_ERROR || n <= 0) return false;
    sent += static_cast<uint32_t>(n);
  }
  return true;
}

void CUDPClient::ThreadProc() {
  SOCKET s = INVALID_SOCKET;
  void* readable = nullptr;
  {
    CScopedLock guard(lock_);
    s = threadSocket_;
    readable = readableEvent_;
  }
  std::vector<char> buffer;
  while (WaitReadable(s, readable) && ReceivePending(s, buffer)) {
  }
}

bool CUDPClient::ReceivePending(SOCKET s, std::vector<char>& buffer) {
  IRTPClientUser* user;
  {
    CScopedLock guard(lock_);
    user = user_;
  }
  // One wait per burst rather than per datagram: under Wine every socket call is a round trip
  // to its single-threaded server, and a 1080p stream brings hundreds of datagrams a second.
  bool delivered = false;
  for (;;) {
    if (stopping_.load(std::memory_order_relaxed)) return false;
    const uint32_t size = std::min(receiveSize_.load(std::memory_order_relaxed), kMaxReceiveSize);
    if (buffer.size() < size) buffer.resize(size);
    sockaddr_in from{};
    int fromLength = sizeof(from);
    const int n = recvfrom(s, buffer.data(), static_cast<int>(size), 0, reinterpret_cast<sockaddr*>(&from),
                           &fromLength);
    CountUdpCall(UdpCall::kRead);
    if (n > 0) {
      CountUdpCall(UdpCall::kDatagram);
      if (stopping_.load(std::memory_order_relaxed)) return false;
      if (!user) continue;
      delivered = true;
      try {
        user->DatagramReceived(this, &from, reinterpret_cast<const uint8_t*>(buffer.data()),
                               static_cast<uint32_t>(n));
      } catch (...) {
      }
      continue;
    }
    if (n == 0) continue;  // an empty datagram carries nothing, but the next one may be queued
    const int error = WSAGetLastError();
    if (error == WSAEMSGSIZE) {
      // The datagram is lost; make room for the next one of that size.
      const uint32_t current = receiveSize_.load();
      receiveSize_.store(std::min(current, kMaxReceiveSize) + kReceiveSizeStep);
      continue;
    }
    // Windows reports an ICMP "port unreachable" for an earlier send as a failed receive; the
    // datagrams behind it are still good.
    if (error == WSAECONNRESET) continue;
    // Empty (WSAEWOULDBLOCK) or anything else: the burst is over.
    if (error == WSAEWOULDBLOCK) CountUdpCall(UdpCall::kEmptyRead);
    if (delivered) {
      try {
        user->BurstReceived(this);
      } catch (...) {
      }
    }
    if (error == WSAEWOULDBLOCK) return true;
    if (error == WSAENOTSOCK || error == WSAENETDOWN || error == WSANOTINITIALISED) {
      NotifyClosed(user);
      return false;
    }
    return !GetStopEvent().Wait(kErrorRetryMs);
  }
}

bool CUDPClient::WaitReadable(SOCKET s, void* readable) {
  HANDLE handles[] = {static_cast<HANDLE>(GetStopEvent().GetHandle()), static_cast<HANDLE>(readable)};
  for (;;) {
    if (stopping_.load()) return false;
    uint32_t ms;
    {
      CScopedLock guard(lock_);
      ms = selectTimeoutMs_;
    }
    const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, ms);
    CountUdpCall(UdpCall::kWait);
    if (woke == WAIT_OBJECT_0) return false;
    if (woke == WAIT_OBJECT_0 + 1) {
      // Resets the event and the socket's record of what it reported in one call; the reads that
      // follow go on until the socket is empty, and a datagram after the last read sets it again.
      WSANETWORKEVENTS events;
      CountUdpCall(UdpCall::kEventQuery);
      if (WSAEnumNetworkEvents(s, static_cast<WSAEVENT>(readable), &events) != 0) {
        const int error = WSAGetLastError();
        if (error == WSAENOTSOCK || error == WSAENETDOWN || error == WSANOTINITIALISED) {
          NotifyClosed(CurrentUser());
          return false;
        }
      }
      return !stopping_.load();
    }
    if (woke == WAIT_TIMEOUT) {
      NotifyTimedOut();
      // Read anyway: a readiness report lost between the socket and its event must not leave
      // datagrams waiting for ever; an empty socket just answers WSAEWOULDBLOCK.
      return !stopping_.load();
    }
    // The handles themselves are gone: nothing can wake this thread any more.
    NotifyClosed(CurrentUser());
    return false;
  }
}

IRTPClientUser* CUDPClient::CurrentUser() {
  CScopedLock guard(lock_);
  return user_;
}

void CUDPClient::NotifyTimedOut() {
  IRTPClientUser* user = CurrentUser();
  if (!user) return;
  try {
    user->ReceiveTimedOut(this);
  } catch (...) {
  }
}

void CUDPClient::NotifyClosed(IRTPClientUser* user) {
  if (!user) return;
  try {
    user->ClientClosed(this);
  } catch (...) {
  }
}

}  // namespace vantrel
