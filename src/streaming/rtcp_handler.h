// The receiving side of RTCP for one RTP stream: it answers each sender report of the camera
// with a receiver report (so the camera keeps streaming and can see us), says BYE when we stop,
// and tells its user when the camera says BYE. Loss and jitter are not measured; the report
// carries the extended highest sequence number, LSR and DLSR.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/base_thread.h"
#include "foundation/event.h"
#include "foundation/recursive_lock.h"
#include "streaming/rtcp_packet.h"
#include "streaming/udp_client.h"

namespace vantrel {

class IDriver;

class IRTCPHandlerUser {
 public:
  virtual ~IRTCPHandlerUser() = default;
  // Called on the RTCP socket's receive thread.
  virtual void RTCPByeReceived() = 0;
  // A sender report: `ntp` (the sender's wall clock) is the instant of `rtpTimestamp`.
  virtual void RTCPSenderReportReceived(uint64_t ntp, uint32_t rtpTimestamp) {
    (void)ntp, (void)rtpTimestamp;
  }
};

class CRTCPHandler : public CBaseThread, public IRTPClientUser {
 public:
  static constexpr uint32_t kReceiveSize = 1536;
  static constexpr uint32_t kSelectTimeoutMs = 1000;
  static constexpr uint32_t kReportWaitMs = 10000;
  static constexpr uint32_t kStopTimeoutMs = 5000;

  // `driver` receives the thread messages; it must outlive this object.
  explicit CRTCPHandler(IDriver* driver);
  ~CRTCPHandler() override;

  // `user` is borrowed and must stay valid until Stop.
  void SetUser(IRTCPHandlerUser* user);
  // Listens on `port` for RTCP from `senderAddress` (IPv4, network byte order; 0 refuses).
  // Only when not started already.
  bool Start(uint32_t senderAddress, uint16_t port);
  // A second address whose reports count: the sender a SETUP reply names ("source="), when the
  // camera sends from another interface than the one we address. 0 clears it.
  void SetSourceAddress(uint32_t address) { sourceAddress_.store(address); }
  bool StartMulticast(uint32_t senderAddress, const char* group, uint16_t port,
                      uint32_t interfaceAddress = 0);
  // Says BYE when a sender report has been answered, then closes the socket.
  void Stop();
  // Called for every RTP packet of the stream, from the user's packet thread.
  void UpdateSequence(uint16_t sequenceNumber);
  // The bound RTCP port, 0 when stopped.
  uint16_t GetPort();
  uint32_t GetOwnSsrc();

  // IRTPClientUser, on the RTCP socket's receive thread.
  void DatagramReceived(IRTPClient* client, const sockaddr_in* sender, const uint8_t* data,
                        uint32_t length) override;
  void ReceiveTimedOut(IRTPClient*) override {}
  void ClientClosed(IRTPClient*) override {}

 protected:
  void ThreadProc() override;

 private:
  bool StartWith(uint32_t senderAddress, const char* group, uint16_t port, uint32_t interfaceAddress);
  void Reset();
  void SendReceiverReport();
  // Sends to the report address; a failure means the camera is no longer reached there.
  bool SendToReportAddress(const uint8_t* data, uint32_t length);

  CUDPClient client_;
  std::atomic<uint32_t> senderAddress_{0};
  std::atomic<uint32_t> sourceAddress_{0};  // the session's named sender, 0 for none
  std::atomic<IRTCPHandlerUser*> user_{nullptr};
  CEvent reportEvent_{false};

  // Guards every field below.
  CRecursiveLock lock_;
  bool senderReportSeen_ = false;
  sockaddr_in reportAddress_{};
  bool arrivalKnown_ = false;
  uint32_t lastReportArrivalMs_ = 0;  // timeGetTime at the last sender report
  uint8_t versionBits_ = 0;
  rtcp::SequenceState sequence_;
  uint32_t ownSsrc_ = 0;
  uint32_t senderSsrc_ = 0;
  uint32_t lsr_ = 0;
};

}  // namespace vantrel
