// One streaming connection of our RCP+ library to the camera: MPEG-4 video in for the MPEG
// channel, audio out for the audio output channel.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/device_info.h"
#include "foundation/event.h"
#include "foundation/recursive_lock.h"
#include "foundation/time_value.h"

namespace rcpplus {
class RtpStreamer;
struct RcpHeader;
class RcpInputStream;
}  // namespace rcpplus

namespace vantrel {

// Gets the RTP payloads of a video connection, on the library's receive thread.
class IRcpStreamReceiverUser {
 public:
  virtual void OnRtpPayload(const uint8_t* payload, uint32_t length, uint16_t sequenceNumber,
                            uint32_t timestamp, bool marker) = 0;

 protected:
  ~IRcpStreamReceiverUser() = default;
};

class CRcpStreamReceiver {
 public:
  static constexpr uint32_t kTransportHttps = 1;
  static constexpr uint32_t kTransportMulticast = 2;
  static constexpr uint32_t kModeMpeg4 = 2;
  static constexpr uint32_t kAudioPacketSize = 640;  // 80 ms of 8000-byte-per-second audio
  static constexpr uint32_t kAudioPacketIntervalMs = 80;
  static constexpr uint32_t kLeftoverLifetimeMs = 2000;
  static constexpr uint32_t kConnectWaitMs = 5000;
  static constexpr uint16_t kAudioCoding = 0x0001;

  explicit CRcpStreamReceiver(const DEVICE_INFO& device);
  ~CRcpStreamReceiver();
  CRcpStreamReceiver(const CRcpStreamReceiver&) = delete;
  CRcpStreamReceiver& operator=(const CRcpStreamReceiver&) = delete;

  // `user` is borrowed until Disconnect. Does not wait for the camera's confirmation.
  bool ConnectVideo(IRcpStreamReceiverUser* user, uint8_t instance, uint32_t reserved, uint32_t transport);
  // Waits up to kConnectWaitMs for the camera to accept the audio stream; `stopEvent` (may be
  // null) cuts the wait short.
  bool ConnectAudioSend(bool secure, CEvent* stopEvent);
  // Sends `size` bytes behind the leftover of the previous call in kAudioPacketSize pieces,
  // kAudioPacketIntervalMs apart; the bytes that do not fill a piece wait for the next call.
  // `stopEvent` (may be null) cuts the pacing short. Called on one thread at a time.
  bool Send(const uint8_t* data, size_t size, CEvent* stopEvent);
  void Disconnect();
  // Any thread, never blocks: the connect, send or receive of the current streamer ends at once
  // and every later connect or send fails until ResetAbort (the owner's restart).
  void Abort();
  void ResetAbort() { aborted_.store(false); }

  uint32_t GetConnectError() const { return connectError_.load(); }
  bool IsConnected();
  // The camera ended the connection (see rcpplus::RcpClient::connectionEnded).
  bool ConnectionEnded();
  size_t GetLeftover() const { return leftover_.size(); }

 private:
  static void ConnectionCallback(void* context, const rcpplus::RcpHeader* header,
                                 rcpplus::RcpInputStream* stream);
  static void PacketCallback(void* context, uint8_t payloadType, const uint8_t* bytes, uint32_t length);
  std::unique_ptr<rcpplus::RtpStreamer> MakeStreamer(bool secure, uint16_t mode);
  // Removes our callbacks (waiting for a call in flight on another thread) and ends the
  // streamer; on the streamer's own thread the end and the delete go to the tear-down queue.
  void TearDown(std::unique_ptr<rcpplus::RtpStreamer> streamer);
  // Publishes the streamer for Abort; false (nothing published) once aborted.
  bool MakeAbortable(rcpplus::RtpStreamer* streamer);

  // Held while the streamer is made, used for sending or torn down: a disconnect from another
  // thread waits for a send in progress instead of freeing the streamer under it.
  CRecursiveLock streamerLock_;
  std::unique_ptr<rcpplus::RtpStreamer> streamer_;  // null when not connected; guarded by streamerLock_
  // Counts Disconnect calls, so a connect that a Disconnect overtook does not install its streamer.
  std::atomic<uint32_t> generation_{0};
  std::atomic<bool> aborted_{false};
  // The streamer being connected or in use, for Abort; cleared before a streamer is ended.
  std::mutex abortLock_;
  rcpplus::RtpStreamer* abortable_ = nullptr;  // guarded by abortLock_
  const DEVICE_INFO device_;
  std::atomic<uint32_t> mode_{0};
  CRecursiveLock userLock_;
  IRcpStreamReceiverUser* receiverUser_ = nullptr;  // guarded by userLock_
  std::atomic<bool> sending_{false};
  std::atomic<uint32_t> connectError_{0};
  CManualEvent connectedEvent_;

  // Sending side, used only by the audio output channel's thread.
  std::vector<uint8_t> leftover_;
  CTime lastTransmit_;
  bool transmitted_ = false;
};

}  // namespace vantrel
