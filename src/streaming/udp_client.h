// A UDP socket with its own receive thread, unicast or joined to a multicast group. The thread
// only waits and reads; whatever arrives is handed to the user on that thread, so users keep
// their work short (the RTP receiver parses and queues, the RTCP handler records and signals).
//
// IPv4 addresses are u32 values in network byte order (as in in_addr::s_addr) throughout.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "foundation/base_thread.h"
#include "foundation/recursive_lock.h"

namespace vantrel {

class IDriver;

class IRTPClient;

// Called on the client's receive thread, except ClientClosed from Close, which runs on the
// thread that closes the client.
class IRTPClientUser {
 public:
  virtual ~IRTPClientUser() = default;
  // `sender` is the 16-byte IPv4 socket address the datagram came from.
  virtual void DatagramReceived(IRTPClient* client, const sockaddr_in* sender, const uint8_t* data,
                                uint32_t length) = 0;
  virtual void ReceiveTimedOut(IRTPClient* client) = 0;
  virtual void ClientClosed(IRTPClient* client) = 0;
  // After the datagrams of one wake-up were delivered and the socket is empty again: a user
  // that hands datagrams to another thread signals it once here rather than per datagram.
  virtual void BurstReceived(IRTPClient* client) { (void)client; }
};

class IRTPClient {
 public:
  virtual ~IRTPClient() = default;
  // `group` must be dotted IPv4 text; `interfaceAddress` 0 means any interface.
  virtual bool OpenMulticast(IRTPClientUser* user, const char* group, uint16_t port,
                             uint32_t interfaceAddress) = 0;
  // Unicast on all interfaces; port 0 lets the system choose (GetPort tells which).
  virtual bool Open(IRTPClientUser* user, uint16_t port) = 0;
  virtual void Close() = 0;
  // Bytes asked for per receive call.
  virtual void SetReceiveSize(uint32_t bytes) = 0;
  virtual void SetSelectTimeout(uint32_t ms) = 0;
  // The bound port, 0 when closed.
  virtual uint16_t GetPort() = 0;
};

struct UdpSocketParams {
  uint32_t multicastGroup = INADDR_NONE;  // INADDR_NONE for unicast
  uint32_t interfaceAddress = 0;          // 0 for any
  uint16_t port = 0;
  uint32_t receiveBufferSize = 0;  // 0 means 65535
  uint32_t receiveTimeoutMs = 0;
  uint32_t sendTimeoutMs = 0;
};

class CUDPClient : public CBaseThread, public IRTPClient {
 public:
  static constexpr uint32_t kInitialReceiveSize = 8192;
  static constexpr uint32_t kMaxReceiveSize = 65535;
  // Added to the receive size after a datagram did not fit.
  static constexpr uint32_t kReceiveSizeStep = 1024;
  static constexpr uint32_t kDefaultSocketBuffer = 65535;
  // What Open and OpenMulticast ask for: a 1080p key frame arrives as a burst of a few hundred
  // KiB, and 64 KiB overflows at every one of them whenever the receive thread is a moment late.
  static constexpr uint32_t kStreamSocketBuffer = 2 * 1024 * 1024;
  static constexpr uint32_t kOpenReceiveTimeoutMs = 5000;
  static constexpr uint32_t kOpenSendTimeoutMs = 1000;

  // `driver` receives the thread messages; it must outlive this object.
  explicit CUDPClient(IDriver* driver);
  ~CUDPClient() override;

  bool OpenMulticast(IRTPClientUser* user, const char* group, uint16_t port,
                     uint32_t interfaceAddress) override;
  bool Open(IRTPClientUser* user, uint16_t port) override;
  void Close() override;
  void SetReceiveSize(uint32_t bytes) override;
  void SetSelectTimeout(uint32_t ms) override;
  uint16_t GetPort() override;

  // Sends all of `data` to `address`; false on a failed send or a closed socket.
  bool Send(const sockaddr_in& address, const uint8_t* data, uint32_t length);
  bool IsOpen();
  uint32_t GetReceiveSize();

 protected:
  void ThreadProc() override;

 private:
  bool OpenSocket(IRTPClientUser* user, const UdpSocketParams& params);
  // Waits until the socket is readable (its network event) or the stop event. False when the
  // thread is to end.
  bool WaitReadable(SOCKET socket, void* readable);
  IRTPClientUser* CurrentUser();
  // Reads and delivers every datagram already queued on the socket. False when the thread is to end.
  bool ReceivePending(SOCKET socket, std::vector<char>& buffer);
  void NotifyTimedOut();
  void NotifyClosed(IRTPClientUser* user);

  // Guards every field below except those marked otherwise.
  CRecursiveLock lock_;
  IRTPClientUser* user_ = nullptr;  // borrowed; the user outlives the open socket
  SOCKET socket_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  uint32_t selectTimeoutMs_ = 2000;
  uint32_t joinedGroup_ = INADDR_NONE;
  uint32_t socketTimeoutMs_ = 0;  // the larger of the send and receive time-outs
  std::atomic<uint32_t> receiveSize_{kInitialReceiveSize};
  // Mirrors the stop event for the per-datagram checks: a wait on the event costs a round trip
  // to the Wine server, which at thousands of datagrams a second becomes the bottleneck.
  std::atomic<bool> stopping_{false};
  // The socket the receive thread reads; it stays valid until Close has joined the thread.
  SOCKET threadSocket_ = INVALID_SOCKET;
  // The socket's FD_READ event (a WSAEVENT), closed by Close after the thread ended.
  void* readableEvent_ = nullptr;
};

}  // namespace vantrel
