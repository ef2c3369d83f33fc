#include "audio/base_audio_rtsp_channel.h"

// clang-format off
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include "core/driver_services.h"
#include "vantrel/ipcapture/audio_types.h"

namespace vantrel {

namespace {

constexpr const char* kSdpInfoReceived = "vantrel::CBaseAudioRTSPChannel::SdpInfoReceived";
constexpr const char* kSetDeviceState = "vantrel::CBaseAudioRTSPChannel::SetDeviceState";

}  // namespace

CBaseAudioRTSPChannel::CBaseAudioRTSPChannel(IDriver* driver, uint32_t hostChannelIndex, uint32_t channel,
                                             ipcapture::IIPAudioCallback* callback)
    : CBaseRTPDataChannel(channel, driver),
      CLoggerInstance(driver),
      hostChannelIndex_(hostChannelIndex),
      callback_(callback),
      rtspClient_(driver) {}

CBaseAudioRTSPChannel::~CBaseAudioRTSPChannel() { StopChannel(); }

bool CBaseAudioRTSPChannel::Start() {
  gate_.Open();
  workerDone_.Reset();
  return StartChannel("Audio RTSP Channel");
}

bool CBaseAudioRTSPChannel::Stop() {
  GetStopEvent().Set();
  AbortRequests();
  // From inside the host's own frame or status callback: the threads that run it cannot be
  // waited for here. Later callbacks are refused; the owner tears the channel down elsewhere.
  if (gate_.IsInsideCallback() || IsCurrentThread()) {
    gate_.Close();
    return false;
  }
  // A request started just after an abort would miss it: repeat it until the worker is out.
  for (uint32_t waited = 0; IsRunning() && waited < 2 * deviceInfo_.timeout; waited += kAbortRepeatMs) {
    if (workerDone_.Wait(kAbortRepeatMs)) break;
    AbortRequests();
  }
  StopChannel();
  // Every thread of the channel has ended; this only waits for nothing, and refuses what might
  // still try after a restart of the threads.
  gate_.Close();
  return true;
}

std::string CBaseAudioRTSPChannel::BuildUrlQuery(uint32_t streamingMode) {
  std::string query = "?enableaudio=1";
  if (streamingMode != CConfiguration::kStreamingUnicast) query += "&multicast=1";
  return query;
}

void CBaseAudioRTSPChannel::AdjustConfiguration(uint32_t&, DeviceConfig&, ChannelConfig& channel) {
  // Audio always runs over UDP: the RTP receivers must be open before the session starts.
  channel.rtpMode = ChannelConfig::kRtpModeUdp;
}

bool CBaseAudioRTSPChannel::IsMulticast() const {
  return streamingMode_ != CConfiguration::kStreamingUnicast;
}

bool CBaseAudioRTSPChannel::SetStatus(uint32_t status, uint32_t from) {
  uint32_t current = status_.load();
  do {
    if (current > kAudioSignalLost || (from & Bit(current)) == 0) return false;
  } while (!status_.compare_exchange_weak(current, status));
  if (callback_) {
    CCallbackGate::Scope scope(gate_);
    if (scope) {
      try {
        callback_->OnChannelStatus(hostChannelIndex_, status);
      } catch (...) {
        // The host's trouble is not the channel's.
      }
    }
  }
  return true;
}

void CBaseAudioRTSPChannel::SetDeviceState(bool signalOk) {
  CScopedLock guard(deviceStateLock_);
  const SignalState wanted = signalOk ? SignalState::kOk : SignalState::kNotOk;
  if (wanted == signalState_) return;
  // Before any frame only a failure is news: a camera that never sends audio still leaves the
  // integrator one line, a channel stopped before it ever ran none.
  if (signalState_ == SignalState::kUnknown && !signalOk && status_.load() != kAudioSignalLost) return;
  signalState_ = wanted;
  IDriver* driver = GetDriver();
  std::string device = deviceInfo_.address;
  if (driver && driver->GetChannelCount() > 1) {
    device = "video-server " + device + " (channel " + std::to_string(GetChannel()) + ")";
  } else {
    device = "camera " + device;
  }
  if (signalOk) {
    Log(kLogInfo, "%s: Audio signal from %s is OK", kSetDeviceState, device.c_str());
    return;
  }
  switch (status_.load()) {
    case kAudioStopped:
      Log(kLogInfo, "%s: Audio channel was stopped for %s", kSetDeviceState, device.c_str());
      break;
    case kAudioError:
      Log(kLogError, "%s: Error occurs in audio channel for %s", kSetDeviceState, device.c_str());
      break;
    case kAudioSignalLost:
      Log(kLogError, "%s: Audio signal was lost for %s", kSetDeviceState, device.c_str());
      break;
    default:
      Log(kLogWarning, "%s: Unexpected channel status for %s", kSetDeviceState, device.c_str());
      break;
  }
}

void CBaseAudioRTSPChannel::Run() {
  uint32_t poll = Connect();
  while (!GetStopEvent().Wait(poll)) {
    // A session the camera ended needs a new one at once; silence needs a whole time-out.
    if (lastData_.ElapsedMs() <= deviceInfo_.timeout && !sessionEvent_.IsSet()) continue;
    if (SetStatus(kAudioSignalLost, Bit(kAudioConnecting) | Bit(kAudioRunning))) {
      SetDeviceState(false);
      if (IEdgeStorageCallback* monitor = edgeMonitor_.load()) monitor->OnDataSignalLost(GetChannel());
    }
    poll = Connect();
  }
  StopSession();
  SetStatus(kAudioStopped, Bit(kAudioStopping) | Bit(kAudioError));
  SetDeviceState(false);
  workerDone_.Set();
}

uint32_t CBaseAudioRTSPChannel::Connect() {
  StopSession();
  dataEvent_.Reset();
  SetStatus(kAudioConnecting, Bit(kAudioStopped) | Bit(kAudioSignalLost));
  if (!EnableAudio()) {
    if (SetStatus(kAudioSignalLost, Bit(kAudioConnecting) | Bit(kAudioRunning))) SetDeviceState(false);
    StopSession();
    return kSlowPollMs;
  }
  if (!StartSession()) {
    if (SetStatus(kAudioSignalLost, Bit(kAudioConnecting) | Bit(kAudioRunning))) SetDeviceState(false);
    StopSession();
    return kSlowPollMs;
  }
  CEvent* events[] = {&GetStopEvent(), &dataEvent_, &sessionEvent_};
  const int woke = CEvent::WaitForEvents(events, 3, deviceInfo_.timeout);
  // A session that brought nothing is soon found timed out and tried again.
  return woke == 1 || woke == 2 ? kSlowPollMs : kFastPollMs;
}

bool CBaseAudioRTSPChannel::StartSession() {
  RTSPConnectionParams params = RTSPConnectionParams::ForDevice(deviceInfo_, kMediaAudio);
  params.serverPort = kRtspPort;
  params.receiveBufferSize = kRtspBufferSize;
  params.urlPath = BuildUrlQuery(streamingMode_);
  const bool multicast = IsMulticast();
  if (!multicast) {
    if (!OpenPorts()) return false;
    params.clientRtpPort = GetRtpPort();
    params.clientRtcpPort = GetRtcpPort();
    SetStatus(kAudioRunning, Bit(kAudioConnecting));
  }
  sessionEvent_.Reset();
  if (GetStopEvent().IsSet()) return false;
  // Only a multicast channel asks for multicast transport: a unicast SETUP that asked for it
  // would be refused by every camera whose stream is not multicast.
  rtspClient_.SetMulticast(multicast);
  return rtspClient_.Start(params, this, kRtspTransportUdp);
}

void CBaseAudioRTSPChannel::StopSession() {
  uint32_t from = Bit(kAudioConnecting) | Bit(kAudioRunning);
  if (GetStopEvent().IsSet()) from |= Bit(kAudioSignalLost);
  SetStatus(kAudioStopping, from);
  Disconnect();
}

void CBaseAudioRTSPChannel::Disconnect() {
  // The session goes first: its thread may still be joining the group or handing packets on.
  rtspClient_.Disconnect();
  CBaseRTPDataChannel::Disconnect();
}

bool CBaseAudioRTSPChannel::SdpInfoReceived(const SdpInfo& info) {
  const std::string device = deviceInfo_.address;
  const MediaDescription& media = info.audio;
  if (IsMulticast()) {
    if (media.connectionAddress.empty()) {
      Log(kLogError,
          "%s: RTSP response doesn't contain connection data section. RTP multicast stream cannot be started "
          "for device %s",
          kSdpInfoReceived, device.c_str());
      return false;
    }
    if (media.port == 0) {
      Log(kLogError,
          "%s: RTSP response doesn't contain correct streaming port in media section. RTP multicast stream "
          "cannot be started for device %s",
          kSdpInfoReceived, device.c_str());
      return false;
    }
  }
  const CSDPResponseParser& sdp = rtspClient_.GetResponseParser().GetSdpParser();
  OnAudioDescription(media, sdp.GetAudioCodec(), sdp.GetMpeg4Audio());
  SetPayloadFilter(media.encoding.empty() ? kAnyPayload : media.payloadType);
  if (!IsMulticast()) return true;
  if (!JoinMulticast(media.connectionAddress, media.port, interfaceAddress_)) {
    Log(kLogError, "%s: Unable to join multicast group %s:%u for %s", kSdpInfoReceived,
        media.connectionAddress.c_str(), static_cast<unsigned>(media.port), device.c_str());
    return false;
  }
  SetStatus(kAudioRunning, Bit(kAudioConnecting));
  return true;
}

void CBaseAudioRTSPChannel::OnInterleavedPacket(const CRTPPacket& packet) { HandleRtpPacket(packet); }

void CBaseAudioRTSPChannel::OnSessionEnded() {
  sessionEvent_.Set();
  SetPayloadFilter(kAnyPayload);
}

bool CBaseAudioRTSPChannel::DeliverAudioFrame(ipcapture::IIPAudioFrame* frame) {
  dataEvent_.Set();
  if (!frame || GetStopEvent().IsSet()) return false;
  if (IEdgeStorageCallback* monitor = edgeMonitor_.load()) {
    SYSTEMTIME captured{};
    frame->GetTime(&captured);
    monitor->OnNewestFrameTime(GetChannel(), SystemTimeToFileTimeValue(captured));
  }
  if (status_.load() != kAudioRunning || !callback_) return false;
  {
    CCallbackGate::Scope scope(gate_);
    if (!scope || !callback_->OnAudioFrame(frame)) return false;
  }
  lastData_.Restart();
  SetDeviceState(true);
  return true;
}

}  // namespace vantrel
