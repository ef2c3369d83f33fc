#include "streaming/rtp_receiver.h"

#include <cstdio>
#include <cstring>

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
    ok = StartThread(name);
  }
  if (!ok) {
    Stop();
    return false;
  }
  return true;
}

void CRTPReceiver::Stop() {
  GetStopEvent().Set();
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
  {
    CScopedLock guard(lock_);
    dropped.swap(queue_);
  }
}

void CRTPReceiver::DatagramReceived(IRTPClient* client, const sockaddr_in* sender, const uint8_t* data,
                                    uint32_t length) {
  if (!IsOwnClient(client)) return;
  auto node = std::make_unique<QueuedPacket>();
  std::memset(&node->sender, 0, sizeof(node->sender));
  if (sender) std::memcpy(&node->sender, sender, sizeof(node->sender));
  if (!node->packet.Parse(data, length) || IsStopRequested()) return;
  {
    CScopedLock guard(lock_);
    queue_.push_back(std::move(node));
  }
  packetEvent_.Set();
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
  CEvent* events[] = {&GetStopEvent(), &packetEvent_};
  bool emptyAfterTake = true;
  for (;;) {
    // One wake of the auto-reset event may stand for many packets, so keep taking without
    // waiting until the queue is empty.
    const int woken = WaitForEvents(events, 2, emptyAfterTake ? kIdleWaitMs : 0);
    if (woken == 0) break;
    std::unique_ptr<QueuedPacket> node;
    IRTPReceiverUser* user = nullptr;
    {
      CScopedLock guard(lock_);
      if (!queue_.empty()) {
        node = std::move(queue_.front());
        queue_.pop_front();
      }
      emptyAfterTake = queue_.empty();
      user = user_;
    }
    if (!node || !user) continue;
    try {
      user->OnRtpPacket(&node->sender, &node->packet);
    } catch (...) {
    }
  }
  ClearQueue();
}

}  // namespace vantrel
