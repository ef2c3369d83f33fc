// A live video channel fed by RTP: the UDP receivers and the RTCP handler, the sender and payload
// filters, the channel's liveness and the reconnecting receive loop of its worker thread.
//
// Threads: the worker thread runs Run (and every virtual the loop calls: PrepareCamera,
// OpenSession, Disconnect, ApplySettingsChange). OnRtpPacket runs on the RTP receiver's queue
// thread, RTCPByeReceived on the RTCP socket's thread; both only filter, set events and hand
// packets on, so ProcessRtpPacket and, through the parser, OnFrame and GetFrameTime run on the
// packet thread. The events and the payload filter are where these threads meet.
//
// A derived class must call Stop() in its own destructor: the worker calls its overrides.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "channels/base_camera_channel.h"
#include "control/configuration.h"
#include "core/device_info.h"
#include "foundation/event.h"
#include "foundation/recursive_lock.h"
#include "foundation/time_value.h"
#include "streaming/media_parser_client.h"
#include "streaming/rtcp_handler.h"
#include "streaming/rtp_packet.h"
#include "streaming/rtp_receiver.h"
#include "streaming/rtp_reorder_buffer.h"
#include "streaming/time_stamp_converter.h"

namespace vantrel {

// Resolves a host name or dotted address to its first IPv4 address (network byte order); 0 when
// it cannot be resolved. Winsock must be started by the caller.
uint32_t ResolveIPv4Address(const std::string& host);

// The UDP side shared by the video and the data channels: an RTP receiver and its RTCP handler.
// Used from the owning channel's worker thread; the receivers call back on their own threads.
class CRtpReception {
 public:
  static constexpr uint16_t kFirstPort = 3556;
  static constexpr uint16_t kPortLimit = 4556;  // first port not tried

  // `driver` is borrowed (outlives the channel); both users are the owning channel.
  CRtpReception(IDriver* driver, IRTPReceiverUser* rtpUser, IRTCPHandlerUser* rtcpUser);
  ~CRtpReception();

  CRtpReception(const CRtpReception&) = delete;
  CRtpReception& operator=(const CRtpReception&) = delete;

  // Called on the owner's thread with the receiver stopped, before each port pair is tried and
  // before each group is joined: whatever the owner kept of the previous stream (sequence
  // numbers of a skipped pair's stale data, of the group left behind) must not judge the next.
  void SetStreamStarting(std::function<void()> starting) { streamStarting_ = std::move(starting); }

  // Binds the first even port pair from kFirstPort on which nothing from the camera arrives
  // within `quietMs`: a camera still streaming to a pair (an earlier session of ours or of
  // another recorder) would mix its packets into the new stream. `dataEvent` is what the owner
  // sets for packets from the camera. False when stopped or no pair is free.
  bool BindQuietPortPair(uint32_t cameraAddress, uint32_t quietMs, CEvent& dataEvent, CEvent& stopEvent);
  // Joins `group` on `port` (RTP) and port + 1 (RTCP from the camera). False, with everything
  // torn down, on a missing group or port, a set stop event or a failed join.
  bool JoinMulticast(const std::string& group, uint16_t port, uint32_t interfaceAddress,
                     uint32_t cameraAddress, CEvent& stopEvent);
  // Stops the receiver (its thread within 2000 ms) and the RTCP handler.
  void Stop();

  uint16_t GetRtpPort() { return receiver_.GetPort(); }
  uint16_t GetRtcpPort() { return rtcp_.GetPort(); }
  CRTPReceiver& GetReceiver() { return receiver_; }
  CRTCPHandler& GetRtcpHandler() { return rtcp_; }

 private:
  void NotifyStreamStarting();

  CRTPReceiver receiver_;
  CRTCPHandler rtcp_;
  std::function<void()> streamStarting_;
};

class CBaseRTPChannel : public CBaseCameraChannel,
                        public IRTPReceiverUser,
                        public IRTCPHandlerUser,
                        public IMediaParserClient {
 public:
  static constexpr uint8_t kAnyPayload = 255;
  static constexpr uint32_t kKeepAliveLimitMs = 30000;
  static constexpr uint32_t kPortQuietMs = 1500;
  static constexpr uint32_t kIdleWaitMs = 1000;
  // After a session that gave no first frame in time the loop checks much more often, so a
  // camera that streams late is taken for dead (and reconnected) without delay.
  static constexpr uint32_t kFastIdleWaitMs = 10;

  // `driver` and `callback` are borrowed; see CBaseCameraChannel.
  CBaseRTPChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  ~CBaseRTPChannel() override;

  // IRTPReceiverUser, on the RTP queue thread.
  void OnRtpPacket(const sockaddr_in* sender, CRTPPacket* packet) override;
  void ReceiveTimedOut(IRTPClient*) override {}
  void ClientClosed(IRTPClient*) override {}

  // IRTCPHandlerUser, on the RTCP socket's thread.
  void RTCPByeReceived() override;
  void RTCPSenderReportReceived(uint64_t ntp, uint32_t rtpTimestamp) override;

  // IMediaParserClient, on the packet thread.
  bool OnFrame(ipcapture::IIPFrame* frame) override;
  void GetRequestedSize(uint32_t& width, uint32_t& height) override;
  std::string GetStreamName() override;
  void GetFrameTime(uint32_t rtpTimestamp, SYSTEMTIME* time) override;

 protected:
  void Run() override;

  // Receive loop for the multicast streaming modes; here there is no way to open a session, so
  // it only waits for the stop.
  virtual void RunMulticast();
  // Lets a derived class look at (and change) the configuration read at thread start.
  virtual void AdjustConfiguration(uint32_t& streamingMode, DeviceConfig& device, ChannelConfig& channel) {
    (void)streamingMode, (void)device, (void)channel;
  }
  virtual bool JoinMulticast(const std::string& group, uint16_t port, uint32_t interfaceAddress);
  // Binds the local UDP port pair (nothing with interleaved RTP).
  virtual bool OpenSession();
  virtual void Disconnect();
  virtual bool IsStreamAlive();
  // Sets the camera up for the stream before a session is opened; false fails the round.
  virtual bool PrepareCamera() = 0;
  virtual void OnDisconnected() {}
  // Called on the packet thread for every packet that passed the filters.
  virtual void ProcessRtpPacket(const CRTPPacket& packet) = 0;
  // Applies the CheckSettingsChange bits to the camera; called on the worker thread.
  virtual bool ApplySettingsChange(uint32_t changes) = 0;

  // Disconnect, forget the stream's timing and filter, then PrepareCamera and OpenSession.
  bool Connect();
  // Both the sender-checked and the interleaved packet path end here.
  void HandleRtpPacket(const CRTPPacket& packet);
  // Next frame times come from the smoothing converter again.
  void ClearTimeConversion();
  // Frame times are extrapolated at 90 kHz from `fileTime` (UTC FILETIME) instead of the
  // converter, as for a replay whose start time is known.
  void SetTimeBase(uint64_t fileTime);
  void SetPayloadFilter(uint8_t payloadType) { payloadFilter_.store(payloadType); }
  uint8_t GetPayloadFilter() const { return payloadFilter_.load(); }
  uint32_t GetCameraAddress() const { return cameraAddress_.load(); }
  // The sender a SETUP reply named (network byte order, 0 for none), accepted beside the camera.
  void SetSourceAddress(uint32_t address);
  CRtpReception& GetReception() { return reception_; }

  // Own copy of the connection record, taken at construction.
  DEVICE_INFO deviceInfo_;

  // Configuration read by the worker at thread start (then AdjustConfiguration); worker only.
  uint32_t rtpMode_ = ChannelConfig::kRtpModeUdp;
  uint32_t reserved_ = 0;
  uint32_t bitrateSD_ = 4000;
  uint32_t bitrateHD_ = 5000;
  uint32_t bitrateFHD_ = 6000;
  uint32_t bitrateUHD_ = 8000;
  uint32_t streamingMode_ = CConfiguration::kStreamingUnicast;
  uint32_t interfaceAddress_ = 0;  // network byte order, 0 = any
  std::string ptzConfig_;
  uint32_t fisheyeChannel_ = 0;

  // Set for every packet and every frame, so they skip the kernel call while already set.
  CLatchedEvent dataEvent_;    // an RTP packet came from the camera
  CLatchedEvent frameEvent_;   // a frame was finished
  CManualEvent rtcpByeEvent_;  // the camera said BYE

 private:
  void RunUnicast();
  void ReadConfiguration();

  uint32_t keepAliveLimit_ = kKeepAliveLimitMs;  // kept for the record; it drives nothing
  CTime keepAliveTimer_;
  std::atomic<uint32_t> cameraAddress_{0};
  std::atomic<uint32_t> sourceAddress_{0};
  // UDP only (TCP keeps order); used on the receiver's queue thread, reset while it is stopped.
  CRtpReorderBuffer reorder_;
  std::atomic<bool> foreignSenderLogged_{false};  // once per session
  uint64_t packetArrival_ = 0;                    // of the packet being handled; packet thread only
  bool noVideoLogged_ = false;                    // once per run of empty sessions; worker only

  // Guards the time conversion state; taken on the packet thread and by whoever resets it.
  CRecursiveLock timeLock_;
  CTimeStampConverter converter_;
  uint64_t baseTime_ = 0;       // 0 = none
  uint32_t lastTimestamp_ = 0;  // 0 = none
  bool useConverter_ = true;
  uint64_t reportNtp_ = 0;  // the stream's last sender report; 0 = none this session
  uint32_t reportRtp_ = 0;

  CRtpReception reception_;
  std::atomic<uint8_t> payloadFilter_{kAnyPayload};
  // Signal loss is announced once per outage, not on every failed reconnect round.
  bool signalLossNotified_ = false;  // worker only
};

}  // namespace vantrel
