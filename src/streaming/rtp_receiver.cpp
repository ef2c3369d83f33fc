#include "streaming/rtp_receiver.h"

#include <cstdio>
#include <cstring>

#include "core/driver_services.h"
#include "foundation/hand_over_clock.h"

namespace vantrel {

namespace {
// Between packets the queue thread still wakes now and then to notice a stop.
constexpr uint32_t kIdleWaitMs = 1000;
}  // namespace

CRTPReceiver::CRTPReceiver(IDriver* driver) : CBaseThread(driver), driver_(driver) {}

CRTPReceiver::~CRTPReceiver() { Stop(); }

void CRTPReceiver::SetUser(IRTPReceiverUser* user) {
  CScopedLock guard(lock_);
  user_ = user;
}

bool CRTPReceiver::Start(uint16_t port) { return StartWith(false, nullptr, port, 0); }

bool CRTPReceiver::StartMulticast(const char* group, uint16_t port, uint32_t interfaceAddress) {
  return StartWith(true, group, port, interfaceAddress);
}

bool CRTPReceiver::StartWith(bool multicast, const char* group, uint16_t port, uint32_t interfaceAddress) {
  CUDPClient* udp = nullptr;
  {
    CScopedLock guard(lock_);
    // A running receiver keeps its socket; the owner stops it before starting again.
    if (client_) return false;
    udp = new CUDPClient(driver_);
    client_.Reset(udp);
  }
  bool ok = multicast ? udp->OpenMulticast(this, group, port, interfaceAddress) : udp->Open(this, port);
  if (ok) {
    udp->SetReceiveSize(kReceiveSize);
    udp->SetSelectTimeout(kSelectTimeoutMs);
    ClearQueue();
    char name[64];
    std::snprintf(name, sizeof(name), "RTP Packet Queue (%hu)", udp->GetPort());
    stopping_.store(false);
    ok = StartThread(name);
  }
  if (!ok) {
    Stop();
    return false;
  }
  return true;
}

void CRTPReceiver::Stop() {
  stopping_.store(true);
  GetStopEvent().Set();
  packetSignal_.Set();  // the queue thread waits on this, not on the stop event
  TSmartPtr<IRTPClient> client;
  {
    CScopedLock guard(lock_);
    client = client_;
  }
  // Closed outside the lock: Close waits for the UDP thread, which may be waiting for the
  // lock inside DatagramReceived.
  if (client) client->Close();
  {
    CScopedLock guard(lock_);
    client_.Release();
  }
  client.Release();
  ClearQueue();
  StopThread(kStopTimeoutMs);
}

uint16_t CRTPReceiver::GetPort() {
  TSmartPtr<IRTPClient> client;
  {
    CScopedLock guard(lock_);
    client = client_;
  }
  return client ? client->GetPort() : 0;
}

size_t CRTPReceiver::GetQueuedCount() {
  CScopedLock guard(lock_);
  return queue_.size();
}

size_t CRTPReceiver::GetQueuedBytes() {
  CScopedLock guard(lock_);
  return queuedBytes_;
}

void CRTPReceiver::SetQueueLimit(size_t bytes) {
  CScopedLock guard(lock_);
  queueLimit_ = bytes;
}

bool CRTPReceiver::IsOwnClient(IRTPClient* client) {
  CScopedLock guard(lock_);
  return client && client == client_.Get();
}

IRTPReceiverUser* CRTPReceiver::GetUser() {
  CScopedLock guard(lock_);
  return user_;
}

void CRTPReceiver::ClearQueue() {
  std::deque<std::unique_ptr<QueuedPacket>> dropped;
  std::vector<std::unique_ptr<QueuedPacket>> droppedSpares;
  {
    CScopedLock guard(lock_);
    dropped.swap(queue_);
    droppedSpares.swap(spares_);
    queuedBytes_ = 0;
    overflowing_ = false;
    wakePending_ = false;
  }
}

std::unique_ptr<CRTPReceiver::QueuedPacket> CRTPReceiver::TakeSpare() {
  {
    CScopedLock guard(lock_);
    if (!spares_.empty()) {
      std::unique_ptr<QueuedPacket> node = std::move(spares_.back());
      spares_.pop_back();
      return node;
    }
  }
  return std::make_unique<QueuedPacket>();
}

void CRTPReceiver::KeepSpare(std::unique_ptr<QueuedPacket> node) {
  if (node && spares_.size() < kMaxSparePackets) spares_.push_back(std::move(node));
}

void CRTPReceiver::DatagramReceived(IRTPClient* client, const sockaddr_in* sender, const uint8_t* data,
                                    uint32_t length) {
  if (!IsOwnClient(client)) return;
  std::unique_ptr<QueuedPacket> node = TakeSpare();
  std::memset(&node->sender, 0, sizeof(node->sender));
  if (sender) std::memcpy(&node->sender, sender, sizeof(node->sender));
  const bool parsed = node->packet.Parse(data, length);
  node->packet.SetArrivalTicks(PerformanceTicks());
  node->bytes = length;
  bool wake = false;
  bool overflowStarted = false;
  {
    CScopedLock guard(lock_);
    if (!parsed || stopping_.load()) {
      KeepSpare(std::move(node));
      return;
    }
    // The oldest packets go first: the newest are the ones the next picture is made of.
    while (!queue_.empty() && queuedBytes_ + length > queueLimit_) {
      queuedBytes_ -= queue_.front()->bytes;
      KeepSpare(std::move(queue_.front()));
      queue_.pop_front();
      ++droppedPackets_;
      if (!overflowing_) overflowStarted = overflowing_ = true;
    }
    // While the queue holds packets the queue thread does not wait, so only a packet that finds
    // it empty needs the event, and that one waits for the burst's end (BurstReceived): a signal
    // per packet would cost a Wine server round trip each, and a wake-up of the queue thread.
    if (queue_.empty()) wakePending_ = true;
    queuedBytes_ += length;
    queue_.push_back(std::move(node));
    if (wakePending_ && queue_.size() >= kWakeBatch) {
      wakePending_ = false;
      wake = true;
    }
  }
  if (wake) packetSignal_.Set();
  if (overflowStarted && driver_)
    driver_->Log(kLogWarning,
                 "%s: RTP queue of device %s is full (%lu bytes): the host is not taking frames; "
                 "the oldest packets are dropped",
                 "vantrel::CRTPReceiver::DatagramReceived", driver_->GetDeviceAddress().c_str(),
                 static_cast<unsigned long>(queueLimit_));
}

void CRTPReceiver::BurstReceived(IRTPClient* client) {
  if (!IsOwnClient(client)) return;
  bool wake = false;
  {
    CScopedLock guard(lock_);
    wake = wakePending_;
    wakePending_ = false;
  }
  if (wake) packetSignal_.Set();
}

void CRTPReceiver::ReceiveTimedOut(IRTPClient* client) {
  if (!IsOwnClient(client)) return;
  if (IRTPReceiverUser* user = GetUser()) user->ReceiveTimedOut(client);
}

void CRTPReceiver::ClientClosed(IRTPClient* client) {
  if (!IsOwnClient(client)) return;
  if (IRTPReceiverUser* user = GetUser()) user->ClientClosed(client);
}

void CRTPReceiver::ThreadProc() {
  bool emptyAfterTake = true;
  std::unique_ptr<QueuedPacket> delivered;
  for (;;) {
    // The event is set only when the queue turns non-empty, so the thread waits only after it
    // found the queue empty; in between, the atomic flag stands in for the stop event.
    if (emptyAfterTake) {
      // A stop comes through stopping_ (Stop sets it before the signal); the stop event, a kernel
      // wait, is looked at only when the queue has been idle for a while.
      if (!packetSignal_.Wait(kIdleWaitMs) && IsStopRequested()) break;
      if (stopping_.load(std::memory_order_relaxed)) break;
    } else if (stopping_.load(std::memory_order_relaxed)) {
      break;
    }
    std::unique_ptr<QueuedPacket> node;
    IRTPReceiverUser* user = nullptr;
    {
      CScopedLock guard(lock_);
      KeepSpare(std::move(delivered));
      if (!queue_.empty()) {
        node = std::move(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= node->bytes;
      }
      emptyAfterTake = queue_.empty();
      if (emptyAfterTake) overflowing_ = false;
      user = user_;
    }
    if (!node || !user) continue;
    try {
      user->OnRtpPacket(&node->sender, &node->packet);
    } catch (...) {
    }
    delivered = std::move(node);
  }
  delivered.reset();
  ClearQueue();
}

}  // namespace vantrel
