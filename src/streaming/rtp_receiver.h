// Receives one RTP stream. Its UDP client's thread only parses and queues, so a slow user never
// makes the socket drop datagrams; a second thread hands the queued packets to the user in
// arrival order. There is no reordering and no jitter buffer. The queue is bounded by bytes: a
// host that stalls in its frame callback loses the oldest packets (logged once per overflow
// run) rather than the process its memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "foundation/base_thread.h"
#include "foundation/event.h"
#include "foundation/recursive_lock.h"
#include "foundation/smart_ptr.h"
#include "foundation/wake_signal.h"
#include "streaming/rtp_packet.h"
#include "streaming/udp_client.h"

namespace vantrel {

class IDriver;

// Called on the receiver's queue thread (OnRtpPacket) or on the UDP client's threads.
class IRTPReceiverUser {
 public:
  virtual ~IRTPReceiverUser() = default;
  // `packet` and `sender` live only for the call.
  virtual void OnRtpPacket(const sockaddr_in* sender, CRTPPacket* packet) = 0;
  virtual void ReceiveTimedOut(IRTPClient* client) = 0;
  virtual void ClientClosed(IRTPClient* client) = 0;
};

class CRTPReceiver : public IRTPClientUser, public CBaseThread {
 public:
  static constexpr uint32_t kReceiveSize = 1536;
  static constexpr uint32_t kSelectTimeoutMs = 2000;
  static constexpr uint32_t kStopTimeoutMs = 2000;
  // Delivered packets kept for reuse, enough for a key frame's burst; beyond that they are freed
  // so that one long stall does not pin its memory for the life of the stream.
  static constexpr size_t kMaxSparePackets = 256;
  // About 8 s of a 4 Mbit/s stream: longer than any stall a live picture survives anyway.
  static constexpr size_t kMaxQueuedBytes = 4 << 20;
  // A burst this long wakes the queue thread before it ends, so a key frame's hundreds of
  // datagrams are handed on while they still arrive.
  static constexpr size_t kWakeBatch = 32;

  // `driver` receives the thread messages; it must outlive this object.
  explicit CRTPReceiver(IDriver* driver);
  ~CRTPReceiver() override;

  // `user` is borrowed and must stay valid until Stop.
  void SetUser(IRTPReceiverUser* user);
  // Unicast on `port` of every interface (0: the system chooses; see GetPort).
  bool Start(uint16_t port);
  bool StartMulticast(const char* group, uint16_t port, uint32_t interfaceAddress);
  void Stop();
  // The bound RTP port, 0 when stopped.
  uint16_t GetPort();
  // Packets waiting for the queue thread, and their datagram bytes.
  size_t GetQueuedCount();
  size_t GetQueuedBytes();
  // Replaces kMaxQueuedBytes (tests, and hosts with unusual streams).
  void SetQueueLimit(size_t bytes);

  // IRTPClientUser, on the UDP client's thread.
  void DatagramReceived(IRTPClient* client, const sockaddr_in* sender, const uint8_t* data,
                        uint32_t length) override;
  void ReceiveTimedOut(IRTPClient* client) override;
  void ClientClosed(IRTPClient* client) override;
  void BurstReceived(IRTPClient* client) override;

 protected:
  void ThreadProc() override;

 private:
  struct QueuedPacket {
    sockaddr_in sender;
    CRTPPacket packet;
    size_t bytes = 0;
  };

  bool StartWith(bool multicast, const char* group, uint16_t port, uint32_t interfaceAddress);
  bool IsOwnClient(IRTPClient* client);
  IRTPReceiverUser* GetUser();
  void ClearQueue();
  std::unique_ptr<QueuedPacket> TakeSpare();
  // Caller holds lock_.
  void KeepSpare(std::unique_ptr<QueuedPacket> node);

  IDriver* const driver_;  // borrowed: the driver outlives its channels
  // Guards user_, client_ and queue_.
  CRecursiveLock lock_;
  IRTPReceiverUser* user_ = nullptr;
  TSmartPtr<IRTPClient> client_;
  std::deque<std::unique_ptr<QueuedPacket>> queue_;
  size_t queuedBytes_ = 0;
  size_t queueLimit_ = kMaxQueuedBytes;
  bool overflowing_ = false;  // an overflow run is logged once, until the queue drains
  uint64_t droppedPackets_ = 0;
  // Reused nodes: their packets keep the storage of earlier datagrams, so a steady stream is
  // received without allocating.
  std::vector<std::unique_ptr<QueuedPacket>> spares_;
  // Set once per burst of datagrams that found the queue empty (at the burst's end, or after
  // kWakeBatch of them in a long one), and by Stop; the queue thread empties the queue before
  // waiting again. In user mode, as it is set and waited on some 25 times a second per stream.
  CWakeSignal packetSignal_;
  // The queue turned non-empty and the queue thread has not been signalled yet; under lock_.
  bool wakePending_ = false;
  // Mirrors the stop event for the per-packet checks, which under Wine would otherwise each be a
  // round trip to its server.
  std::atomic<bool> stopping_{false};
};

}  // namespace vantrel
