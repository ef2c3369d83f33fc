#include "channels/rcp_stream_receiver.h"

#include <cstdio>
#include <new>
#include <span>

#include "channels/rcp_stream_packet.h"
#include "foundation/teardown_queue.h"
#include "rcpplus/rtp_streamer.h"

namespace vantrel {

CRcpStreamReceiver::CRcpStreamReceiver(const DEVICE_INFO& device) : device_(device) {}

CRcpStreamReceiver::~CRcpStreamReceiver() { Disconnect(); }

std::unique_ptr<rcpplus::RtpStreamer> CRcpStreamReceiver::MakeStreamer(bool secure, uint16_t mode) {
  char url[1024];
  std::snprintf(url, sizeof(url), "%s://%s:%s@%s:%u", secure ? "https" : "http", device_.user.c_str(),
                device_.password.c_str(), device_.address.c_str(), device_.port);
  return std::unique_ptr<rcpplus::RtpStreamer>(new (std::nothrow) rcpplus::RtpStreamer(url, mode));
}

bool CRcpStreamReceiver::ConnectVideo(IRcpStreamReceiverUser* user, uint8_t instance, uint32_t /*reserved*/,
                                      uint32_t transport) {
  // The connect may take up to the device time-out: it runs on a streamer of its own, outside
  // the streamer lock, so that a Disconnect from another thread (a pause, a stop) never waits
  // behind it; a Disconnect that comes meanwhile makes the new streamer be dropped.
  Disconnect();
  const uint32_t generation = generation_.load();
  mode_.store(kModeMpeg4);
  sending_.store(false);
  {
    CScopedLock guard(userLock_);
    receiverUser_ = user;
  }
  connectError_.store(0);
  connectedEvent_.Reset();
  std::unique_ptr<rcpplus::RtpStreamer> streamer =
      MakeStreamer(transport == kTransportHttps, rcpplus::RtpStreamer::kModeReceiver);
  if (!streamer || !MakeAbortable(streamer.get())) return false;
  uint16_t coding = transport == kTransportMulticast ? 0 : 8;
  switch (mode_.load()) {
    case 1:
      coding |= 0x400;
      break;
    case 2:
      coding |= 0x002;
      break;
    case 3:
      coding |= 0x200;
      break;
  }
  // Registered before the request goes out, so the first packets are not lost to the race
  // with the library's receive thread.
  streamer->registerReceiverCallback(true, &PacketCallback, this);
  // A request that never left is a failed round, not a connection that merely stays silent.
  const bool connected =
      streamer->connectVideo(device_.timeout, coding, instance, 0, 1, &ConnectionCallback, this);
  {
    CScopedLock streamerGuard(streamerLock_);
    if (connected && generation_.load() == generation && !streamer_) {
      streamer_ = std::move(streamer);
      return true;
    }
  }
  // Failed, or disconnected while connecting: the user was let go by that Disconnect.
  TearDown(std::move(streamer));
  return false;
}

bool CRcpStreamReceiver::ConnectAudioSend(bool secure, CEvent* stopEvent) {
  // As ConnectVideo: neither the connect nor the wait for the camera's answer holds the
  // streamer lock, so a Disconnect from another thread is never queued behind them.
  Disconnect();
  const uint32_t generation = generation_.load();
  mode_.store(0);
  sending_.store(true);
  connectError_.store(0);
  connectedEvent_.Reset();
  std::unique_ptr<rcpplus::RtpStreamer> streamer = MakeStreamer(secure, rcpplus::RtpStreamer::kModeSender);
  if (!streamer || !MakeAbortable(streamer.get())) return false;
  bool connected = streamer->connectVideo(device_.timeout, kAudioCoding, 0, 2, 0, &ConnectionCallback, this);
  if (connected) {
    CScopedLock streamerGuard(streamerLock_);
    connected = generation_.load() == generation && !streamer_;
    if (connected) streamer_ = std::move(streamer);
  }
  if (!connected) {
    TearDown(std::move(streamer));
    return false;
  }
  CEvent* events[2] = {&connectedEvent_, stopEvent};
  if (CEvent::WaitForEvents(events, stopEvent ? 2 : 1, kConnectWaitMs) != 0 || connectError_.load() != 0) {
    Disconnect();
    return false;
  }
  return true;
}

bool CRcpStreamReceiver::IsConnected() {
  CScopedLock streamerGuard(streamerLock_);
  return streamer_ && connectedEvent_.IsSet() && connectError_.load() == 0;
}

bool CRcpStreamReceiver::ConnectionEnded() {
  CScopedLock streamerGuard(streamerLock_);
  return streamer_ && streamer_->connectionEnded();
}

bool CRcpStreamReceiver::Send(const uint8_t* data, size_t size, CEvent* stopEvent) {
  if (aborted_.load()) return false;
  CScopedLock streamerGuard(streamerLock_);
  CEvent* events[2] = {&connectedEvent_, stopEvent};
  if (!streamer_ || CEvent::WaitForEvents(events, stopEvent ? 2 : 1, kConnectWaitMs) != 0 ||
      connectError_.load() != 0)
    return false;
  if (!data || size == 0) return false;
  // Samples older than this no longer join the new ones without an audible jump.
  if (!transmitted_ || lastTransmit_.ElapsedMs() > kLeftoverLifetimeMs) leftover_.clear();
  leftover_.insert(leftover_.end(), data, data + size);
  size_t sent = 0;
  bool ok = true;
  CManualEvent pacing;  // never set: a sleep
  while (leftover_.size() - sent >= kAudioPacketSize) {
    const uint32_t accepted = streamer_->transmit(0, leftover_.data() + sent, kAudioPacketSize, 0);
    if (accepted < kAudioPacketSize) {
      ok = false;
      break;
    }
    sent += kAudioPacketSize;
    if (stopEvent && stopEvent->Wait(kAudioPacketIntervalMs)) {
      ok = false;
      break;
    }
    if (!stopEvent) pacing.Wait(kAudioPacketIntervalMs);
  }
  leftover_.erase(leftover_.begin(), leftover_.begin() + static_cast<std::ptrdiff_t>(sent));
  if (!ok) leftover_.clear();
  lastTransmit_.Restart();
  transmitted_ = true;
  return ok;
}

void CRcpStreamReceiver::Disconnect() {
  std::unique_ptr<rcpplus::RtpStreamer> streamer;
  {
    CScopedLock streamerGuard(streamerLock_);
    ++generation_;
    {
      CScopedLock guard(userLock_);
      receiverUser_ = nullptr;
    }
    streamer = std::move(streamer_);
  }
  TearDown(std::move(streamer));
}

bool CRcpStreamReceiver::MakeAbortable(rcpplus::RtpStreamer* streamer) {
  std::lock_guard<std::mutex> guard(abortLock_);
  // Checked under the lock Abort takes: an abort either comes first and is seen here, or finds
  // the streamer published.
  if (aborted_.load()) return false;
  abortable_ = streamer;
  return true;
}

void CRcpStreamReceiver::Abort() {
  std::lock_guard<std::mutex> guard(abortLock_);
  aborted_.store(true);
  if (abortable_) abortable_->abort();
}

void CRcpStreamReceiver::TearDown(std::unique_ptr<rcpplus::RtpStreamer> streamer) {
  if (!streamer) return;
  {
    std::lock_guard<std::mutex> guard(abortLock_);
    if (abortable_ == streamer.get()) abortable_ = nullptr;
  }
  // Both removals wait for a call of ours in flight on the streamer's thread: once they
  // returned, neither this object nor its user is reached through this streamer again.
  streamer->registerReceiverCallback(true, nullptr, nullptr);
  streamer->unregisterCallback(&ConnectionCallback, this);
  if (streamer->isReceiveThread()) {
    // A pause or stop made from inside the frame callback: the streamer's own thread is still
    // in it, so it can neither be joined nor freed here. Another thread ends it once the call
    // has unwound; nothing of ours is reached from it any more.
    rcpplus::RtpStreamer* orphan = streamer.release();
    vantrel::CTeardownQueue::Post([orphan] {
      orphan->disconnectVideo();
      delete orphan;
    });
    return;
  }
  streamer->disconnectVideo();
  streamer->disconnect();
  streamer.reset();
}

void CRcpStreamReceiver::ConnectionCallback(void* context, const rcpplus::RcpHeader* header,
                                            rcpplus::RcpInputStream* /*stream*/) {
  auto* self = static_cast<CRcpStreamReceiver*>(context);
  if (!self || !header) return;
  self->connectError_.store(header->error);
  self->connectedEvent_.Set();
}

void CRcpStreamReceiver::PacketCallback(void* context, uint8_t payloadType, const uint8_t* bytes,
                                        uint32_t length) {
  auto* self = static_cast<CRcpStreamReceiver*>(context);
  if (!self || payloadType != 255 || !bytes) return;
  const std::optional<StreamedRtpPayload> payload =
      ParseStreamedRtpPacket(std::span<const uint8_t>(bytes, length),
                             ExpectedPayloadType(self->sending_.load(), self->mode_.load()));
  if (!payload) return;
  IRcpStreamReceiverUser* user = nullptr;
  {
    CScopedLock guard(self->userLock_);
    user = self->receiverUser_;
  }
  // No lock of ours is held while the parser hands a frame to the host; the library keeps the
  // user alive for the call (removing the receiver waits for a running callback).
  if (user)
    user->OnRtpPayload(payload->data, static_cast<uint32_t>(payload->size), payload->sequenceNumber,
                       payload->timestamp, payload->marker);
}

}  // namespace vantrel
