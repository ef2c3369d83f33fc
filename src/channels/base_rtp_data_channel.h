// The RTP reception machinery of the live video channels for channels that carry other data
// (audio): the configuration read at thread start, the quiet UDP port-pair search, multicast
// join and tear-down, the sender filter, Winsock and the worker thread. What the worker does
// (the session and its loops) and what becomes of the payloads is the derived class's.
//
// Threads: the owner calls StartChannel and StopChannel; the worker runs RunUnicast or
// RunMulticast; OnRtpPacket runs on the RTP queue thread and RTCPByeReceived on the RTCP
// socket's thread. A derived class must call StopChannel in its own destructor.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "channels/base_rtp_channel.h"
#include "control/configuration.h"
#include "core/device_info.h"
#include "foundation/base_thread.h"
#include "foundation/event.h"
#include "streaming/rtcp_handler.h"
#include "streaming/rtp_packet.h"
#include "streaming/rtp_receiver.h"

namespace vantrel {

class IDriver;

class CBaseRTPDataChannel : private CBaseThread, public IRTPReceiverUser, public IRTCPHandlerUser {
 public:
  static constexpr uint8_t kAnyPayload = 255;
  static constexpr uint32_t kPortQuietMs = 500;

  // `driver` is borrowed and outlives the channel.
  CBaseRTPDataChannel(uint32_t channel, IDriver* driver);
  ~CBaseRTPDataChannel() override;

  // IRTPReceiverUser, on the RTP queue thread.
  void OnRtpPacket(const sockaddr_in* sender, CRTPPacket* packet) override;
  void ReceiveTimedOut(IRTPClient*) override {}
  void ClientClosed(IRTPClient*) override {}

  // IRTCPHandlerUser, on the RTCP socket's thread.
  void RTCPByeReceived() override;

 protected:
  // Stops a running worker, starts Winsock 2.2 and the worker thread named `threadName`. False
  // (with Winsock released) when the thread cannot start.
  bool StartChannel(const std::string& threadName);
  // Asks the worker to end, waits for it (2 x the request time-out, then logged and waited out),
  // tears the receivers down and releases Winsock.
  void StopChannel();

  // The worker's loops; each returns when the stop event is set.
  virtual void RunUnicast() = 0;
  virtual void RunMulticast() = 0;
  // Lets a derived class look at (and change) the configuration read at thread start.
  virtual void AdjustConfiguration(uint32_t& streamingMode, DeviceConfig& device, ChannelConfig& channel) {
    (void)streamingMode, (void)device, (void)channel;
  }
  // Every payload from the camera that passed the filters, on the packet thread.
  virtual void ProcessData(const uint8_t* payload, uint32_t size, uint16_t sequenceNumber) = 0;
  // The packet around it, for a derived class that needs its payload type or sender; by
  // default its payload goes to ProcessData.
  virtual void ProcessPacket(const CRTPPacket& packet) {
    ProcessData(packet.GetPayload(), packet.GetPayloadLength(), packet.GetSequenceNumber());
  }
  // Tears the receivers down; derived classes close their session first.
  virtual void Disconnect();

  // Binds the first quiet even port pair (nothing with interleaved RTP).
  bool OpenPorts();
  bool JoinMulticast(const std::string& group, uint16_t port, uint32_t interfaceAddress);
  // For packets that came another way (interleaved in the RTSP connection): no sender test.
  void HandleRtpPacket(const CRTPPacket& packet);

  using CBaseThread::GetStopEvent;
  using CBaseThread::IsCurrentThread;
  using CBaseThread::IsRunning;
  using CBaseThread::IsStopRequested;
  IDriver* GetDriver() const { return driver_; }
  uint32_t GetChannel() const { return channel_; }
  uint32_t GetCameraAddress() const { return cameraAddress_.load(); }
  CRtpReception& GetReception() { return reception_; }
  void SetPayloadFilter(uint8_t payloadType) { payloadFilter_.store(payloadType); }
  uint16_t GetRtpPort() { return reception_.GetRtpPort(); }
  uint16_t GetRtcpPort() { return reception_.GetRtcpPort(); }

  // Own copy of the connection record, taken at construction.
  DEVICE_INFO deviceInfo_;

  // Configuration read by the worker at thread start; worker only.
  uint32_t rtpMode_ = ChannelConfig::kRtpModeUdp;
  uint32_t streamingMode_ = CConfiguration::kStreamingUnicast;
  uint32_t interfaceAddress_ = 0;  // network byte order, 0 = any

  CManualEvent dataEvent_;     // an RTP packet came from the camera
  CManualEvent rtcpByeEvent_;  // the camera said BYE

 private:
  void ThreadProc() override;
  void ReadConfiguration();
  void ReleaseWinsock();

  IDriver* const driver_;  // borrowed: the driver outlives its channels
  const uint32_t channel_;
  std::atomic<uint32_t> cameraAddress_{0};
  bool winsockStarted_ = false;  // owner thread only
  CRtpReception reception_;
  std::atomic<uint8_t> payloadFilter_{kAnyPayload};
};

}  // namespace vantrel
