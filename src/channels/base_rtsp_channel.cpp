#include "channels/base_rtsp_channel.h"

// clang-format off
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <cctype>

#include "core/driver_services.h"
#include "streaming/h264_rtp_media_parser.h"
#include "streaming/jpeg_rtp_media_parser.h"
#include "streaming/mpeg4_rtp_media_parser.h"

namespace vantrel {

namespace {

constexpr const char* kSdpInfoReceived = "vantrel::CBaseRTSPChannel::SdpInfoReceived";

// The name part of an rtpmap encoding ("H264/90000" gives "H264").
std::string EncodingName(const std::string& encoding) { return encoding.substr(0, encoding.find('/')); }

std::string ToLower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

CBaseRTSPChannel::CBaseRTSPChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback)
    : CBaseRTPChannel(channel, driver, callback), CLoggerInstance(driver), rtspClient_(driver) {}

CBaseRTSPChannel::~CBaseRTSPChannel() { Stop(); }

bool CBaseRTSPChannel::Pause() {
  if (IsPaused()) return false;
  SetPaused(true);
  rtspClient_.RequestPause();
  return true;
}

bool CBaseRTSPChannel::Resume() {
  if (!IsPaused()) return false;
  // The time spent paused is no silence of the camera: without a fresh start the first liveness
  // check after a long pause would find the stream "lost" and tear down the session that was
  // just asked to play again.
  GetFrameTimer().Restart();
  ClearTimeConversion();
  rtspClient_.RequestPlay();
  SetPaused(false);
  return true;
}

RTSPConnectionParams CBaseRTSPChannel::MakeSessionParams() {
  RTSPConnectionParams params = RTSPConnectionParams::ForDevice(deviceInfo_, kMediaVideo);
  params.serverPort = kRtspPort;
  return params;
}

void CBaseRTSPChannel::BuildUrlQuery(RTSPConnectionParams& params) {
  params.serverPort = kRtspPort;
  params.urlPath.clear();
}

bool CBaseRTSPChannel::OpenSession() {
  if (!CBaseRTPChannel::OpenSession()) return false;
  RTSPConnectionParams params = MakeSessionParams();
  params.clientRtpPort = GetReception().GetRtpPort();
  params.clientRtcpPort = GetReception().GetRtcpPort();
  BuildUrlQuery(params);
  sessionEndEvent_.Reset();
  if (GetStopEvent().IsSet()) return false;
  rtspClient_.SetMulticast(false);
  return rtspClient_.Start(params, this, rtpMode_);
}

bool CBaseRTSPChannel::OpenMulticastSession() {
  RTSPConnectionParams params = MakeSessionParams();
  params.clientRtpPort = 0;
  params.clientRtcpPort = 0;
  BuildUrlQuery(params);
  sessionEndEvent_.Reset();
  if (GetStopEvent().IsSet()) return false;
  rtspClient_.SetMulticast(true);
  if (rtspClient_.Start(params, this, kRtspTransportUdp)) return true;
  Disconnect();
  return false;
}

void CBaseRTSPChannel::Disconnect() {
  // The session goes first: its thread may still be joining the group or handing packets on.
  rtspClient_.Disconnect();
  CBaseRTPChannel::Disconnect();
}

void CBaseRTSPChannel::Interrupt() { rtspClient_.Abort(); }

void CBaseRTSPChannel::Rearm() { rtspClient_.ResetAbort(); }

bool CBaseRTSPChannel::IsStreamAlive() {
  if (IsPaused()) return rtspClient_.LastRequestAnswered();
  // A failed keep-alive ends the stream even while packets still trickle in.
  return GetFrameTimer().ElapsedMs() < deviceInfo_.signalTimeout / 2 && rtspClient_.LastRequestAnswered();
}

void CBaseRTSPChannel::RunMulticast() {
  CTime& frameTimer = GetFrameTimer();
  frameTimer.Restart();
  const uint32_t halfSignal = deviceInfo_.signalTimeout / 2;
  uint32_t wait = kFastIdleWaitMs;
  bool signalLossNotified = false;
  CEvent* sessionEvents[] = {&GetStopEvent(), &frameEvent_, &sessionEndEvent_};

  for (;;) {
    if (GetStopEvent().Wait(wait)) {
      Disconnect();
      SetState(kCameraStopped);
      SetCameraState(false);
      return;
    }
    wait = kIdleWaitMs;

    uint32_t state = GetState();
    if (state == kCameraReceiving) {
      bool bye = rtcpByeEvent_.IsSet();
      if (frameTimer.ElapsedMs() < halfSignal && !bye) continue;
      SetState(kCameraSignalLost);
      // After a BYE the camera is restarting its stream; give it a moment before asking again.
      wait = bye ? kIdleWaitMs : kFastIdleWaitMs;
      continue;
    }
    if (state == kCameraSignalLost && !signalLossNotified &&
        frameTimer.ElapsedMs() >= deviceInfo_.signalTimeout) {
      signalLossNotified = true;
      NotifySignalLost();
      SetCameraState(false);
    }

    Disconnect();
    frameEvent_.Reset();
    ClearTimeConversion();
    SetPayloadFilter(kAnyPayload);
    if (!PrepareCamera() || !OpenMulticastSession()) {
      Disconnect();
      wait = kFastIdleWaitMs;
      continue;
    }
    int woke = CEvent::WaitForEvents(sessionEvents, 3, halfSignal);
    if (woke < 0) {
      wait = kFastIdleWaitMs;
    } else if (woke == 1) {
      SetState(kCameraReceiving);
      signalLossNotified = false;
    }
  }
}

bool CBaseRTSPChannel::SdpInfoReceived(const SdpInfo& info) {
  IDriver* driver = GetDriver();
  const std::string device = driver ? driver->GetDeviceAddress() : std::string();
  const MediaDescription& media = info.video;
  const bool multicast = streamingMode_ != CConfiguration::kStreamingUnicast;
  if (multicast && media.connectionAddress.empty()) {
    Log(kLogError,
        "%s: RTSP response doesn't contain connection data section. RTP multicast stream cannot be started "
        "for device %s",
        kSdpInfoReceived, device.c_str());
    return false;
  }
  if (multicast && media.port == 0) {
    Log(kLogError,
        "%s: RTSP response doesn't contain correct streaming port in media section. RTP multicast stream "
        "cannot be started for device %s",
        kSdpInfoReceived, device.c_str());
    return false;
  }

  const std::string name = EncodingName(media.encoding);
  const std::string lower = ToLower(name);
  CRTPMediaParser* parser = nullptr;
  if (lower.empty() || StartsWith(lower, "jpeg")) {
    parser = new CJpegRTPMediaParser(driver);
  } else if (StartsWith(lower, "h264")) {
    parser = new CH264RTPMediaParser(driver);
  } else if (StartsWith(lower, "mpeg4") || StartsWith(lower, "mp4v")) {
    parser = new CMpeg4RTPMediaParser(driver);
  } else {
    Log(kLogError, "%s: Unable to handle RTP video data from device %s - unexpected payload type \"%s\"",
        kSdpInfoReceived, device.c_str(), name.c_str());
    SetParser(nullptr);
    return false;
  }
  parser->SetClient(this);
  parser->SetParameterSets(info.sequenceParameterSet, info.pictureParameterSet, info.configuration);
  SetParser(parser);
  // Without an rtpmap the description names no payload type (the field reads 0); filtering on
  // that would drop every packet of a static-type stream such as JPEG (26).
  SetPayloadFilter(name.empty() ? kAnyPayload : media.payloadType);

  if (multicast) {
    // The session ends with this failure; without a word the host sees only a camera that
    // keeps reconnecting (a port held by another program is the usual cause).
    if (!JoinMulticast(media.connectionAddress, media.port, interfaceAddress_)) {
      Log(kLogError, "%s: Unable to join multicast group %s:%u for %s", kSdpInfoReceived,
          media.connectionAddress.c_str(), static_cast<unsigned>(media.port), device.c_str());
      return false;
    }
    CLoggerInstance::Reset();
  }
  // A camera behind NAT or with several interfaces may send from the address it names here.
  const std::string& source = rtspClient_.GetResponseParser().GetSourceAddress();
  SetSourceAddress(source.empty() ? 0 : ResolveIPv4Address(source));
  ClearTimeConversion();
  return true;
}

void CBaseRTSPChannel::OnInterleavedPacket(const CRTPPacket& packet) { HandleRtpPacket(packet); }

void CBaseRTSPChannel::OnSessionEnded() {
  sessionEndEvent_.Set();
  SetPayloadFilter(kAnyPayload);
}

void CBaseRTSPChannel::ProcessRtpPacket(const CRTPPacket& packet) {
  TSmartPtr<CRTPMediaParser> parser = GetParser();
  if (parser) parser->ProcessPacket(packet);
}

TSmartPtr<CRTPMediaParser> CBaseRTSPChannel::GetParser() {
  CScopedLock guard(parserLock_);
  return parser_;
}

void CBaseRTSPChannel::SetParser(CRTPMediaParser* parser) {
  TSmartPtr<CRTPMediaParser> replaced;
  {
    CScopedLock guard(parserLock_);
    replaced = parser_;
    parser_.Reset(parser);
  }
  // The old parser dies here, outside the lock, once no packet thread holds it any more.
}

}  // namespace vantrel
