// One audio stream from the camera: RTP over UDP (unicast, or a multicast group the camera
// names) set up through an RTSP session that asks for audio only. The worker switches audio on
// in the camera before every session, watches the time since the last delivered frame and
// reconnects after a device time-out of silence. Every status change goes to the host.
//
// Threads: the audio capture object calls Start, Stop and GetStatus from the host's threads
// (serialised by its lock); the worker runs the connect loop; the RTSP client thread calls
// SdpInfoReceived, OnInterleavedPacket and OnSessionEnded; the RTP queue thread calls
// ProcessData and, through the parser, DeliverFrame. Status and the monitor pointer are atomic.
// Every call into the host (frames, status) goes through gate_: none starts after Stop returned,
// and Stop waits for one in flight unless it is called from inside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "audio/audio_input_channel.h"
#include "channels/base_rtp_data_channel.h"
#include "channels/camera_channel.h"
#include "core/logger_instance.h"
#include "foundation/callback_gate.h"
#include "foundation/event.h"
#include "foundation/time_value.h"
#include "streaming/base_rtsp_client.h"
#include "streaming/sdp_response_parser.h"

namespace vantrel {

namespace ipcapture {
class IIPAudioCallback;
class IIPAudioFrame;
}  // namespace ipcapture

class CBaseAudioRTSPChannel : public CBaseRTPDataChannel,
                              public CLoggerInstance,
                              public IAudioInputChannel,
                              public IRTSPClientUser,
                              public IEdgeMonitorChannel {
 public:
  static constexpr uint16_t kRtspPort = 554;
  static constexpr uint32_t kRtspBufferSize = 0x10000;
  static constexpr uint32_t kSlowPollMs = 2000;
  static constexpr uint32_t kFastPollMs = 20;
  // How often a stop repeats the abort of the worker's request while it waits for the worker.
  static constexpr uint32_t kAbortRepeatMs = 20;

  // `driver` and `callback` are borrowed: the driver outlives the channel, the host keeps the
  // callback until it closes the channel.
  CBaseAudioRTSPChannel(IDriver* driver, uint32_t hostChannelIndex, uint32_t channel,
                        ipcapture::IIPAudioCallback* callback);
  ~CBaseAudioRTSPChannel() override;

  // IAudioInputChannel
  bool Start() override;
  bool Stop() override;
  uint32_t GetStatus() override { return status_.load(); }

  // IRTSPClientUser, on the RTSP client thread.
  bool SdpInfoReceived(const SdpInfo& info) override;
  void OnInterleavedPacket(const CRTPPacket& packet) override;
  void OnSessionEnded() override;

  // IEdgeMonitorChannel
  uint32_t GetChannel() override { return CBaseRTPDataChannel::GetChannel(); }
  uint32_t GetMonitorValue() override { return hostChannelIndex_; }
  // Recordings are replayed as video; an audio channel gives the replay no callback.
  ipcapture::IIPVideoCallback* GetCallback() override { return nullptr; }
  uint32_t GetMonitorValue2() override { return 0; }
  void SetEdgeMonitor(IEdgeStorageCallback* monitor) override { edgeMonitor_.store(monitor); }

  // The URL query of the audio session for a transport mode of the configuration.
  static std::string BuildUrlQuery(uint32_t streamingMode);

 protected:
  // Switches audio on in the camera and readies the parser; false fails the connect.
  virtual bool EnableAudio() = 0;
  // From Stop, on the host's thread: breaks the camera request the worker is blocked in.
  virtual void AbortRequests() {}
  // The audio codec the session description names, before any payload of the session arrives.
  virtual void OnAudioDescription(const MediaDescription& media, const SdpAudioCodec& codec,
                                  const SdpMpeg4Audio& mpeg4) = 0;

  // A finished frame from the parser: to the edge monitor and the host. False refuses it.
  bool DeliverAudioFrame(ipcapture::IIPAudioFrame* frame);

  void RunUnicast() override { Run(); }
  void RunMulticast() override { Run(); }
  void AdjustConfiguration(uint32_t& streamingMode, DeviceConfig& device, ChannelConfig& channel) override;
  void Disconnect() override;

  // Moves to `status` when the current one is in `from` (bit per status value) and tells the
  // host. True when it changed.
  bool SetStatus(uint32_t status, uint32_t from);
  static constexpr uint32_t Bit(uint32_t status) { return 1u << status; }

 private:
  void Run();
  // Returns the poll interval for the loop that follows.
  uint32_t Connect();
  bool StartSession();
  void StopSession();
  void SetDeviceState(bool signalOk);
  bool IsMulticast() const;

  const uint32_t hostChannelIndex_;
  ipcapture::IIPAudioCallback* const callback_;  // borrowed from the host
  std::atomic<uint32_t> status_{kAudioStopped};
  std::atomic<IEdgeStorageCallback*> edgeMonitor_{nullptr};
  // What was last logged about the signal; worker and delivery threads, under deviceStateLock_.
  enum class SignalState { kUnknown, kOk, kNotOk };
  SignalState signalState_ = SignalState::kUnknown;
  CRecursiveLock deviceStateLock_;
  CBaseRTSPClient rtspClient_;
  CTime lastData_;
  // The session ended (the camera closed it, or it never started): the worker's restart event.
  // An RTCP BYE is no reason to restart: a camera that serves one multicast group to several
  // receivers says BYE for receivers that leave.
  CManualEvent sessionEvent_;
  CCallbackGate gate_;
  CManualEvent workerDone_;  // Run returned: a stop waits on it rather than polling
};

}  // namespace vantrel
