#include "channels/base_rtp_channel.h"

// clang-format off
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/driver_services.h"
#include "foundation/hand_over_clock.h"
#include "streaming/rtcp_packet.h"

namespace vantrel {

namespace {

const char* StreamNameSuffix(uint32_t streamIndex) {
  switch (streamIndex) {
    case kRecStream:
      return "::RecStream";
    case kLiveStream:
      return "::LiveStream";
    case kRemoteStream:
      return "::RemoteStream";
    default:
      return "";
  }
}

void CurrentSystemTime(SYSTEMTIME& out) {
  if (!FileTimeToSystemTimeValue(GetCurrentFileTime(), out)) ::GetSystemTime(&out);
}

}  // namespace

uint32_t ResolveIPv4Address(const std::string& host) {
  if (host.empty()) return 0;
  const hostent* entry = gethostbyname(host.c_str());
  if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list ||
      !entry->h_addr_list[0])
    return 0;
  uint32_t address = 0;
  std::memcpy(&address, entry->h_addr_list[0], sizeof(address));
  return address;
}

// ---------------------------------------------------------------------------------------------

CRtpReception::CRtpReception(IDriver* driver, IRTPReceiverUser* rtpUser, IRTCPHandlerUser* rtcpUser)
    : receiver_(driver), rtcp_(driver) {
  receiver_.SetUser(rtpUser);
  rtcp_.SetUser(rtcpUser);
}

CRtpReception::~CRtpReception() { Stop(); }

bool CRtpReception::BindQuietPortPair(uint32_t cameraAddress, uint32_t quietMs, CEvent& dataEvent,
                                      CEvent& stopEvent) {
  // Without the camera's address every packet would be dropped and the RTCP handler refuses to
  // start; searching 500 pairs at `quietMs` each would only delay the next round for minutes.
  if (cameraAddress == 0) return false;
  for (uint32_t port = kFirstPort; port < kPortLimit; port += 2) {
    if (stopEvent.IsSet()) return false;
    dataEvent.Reset();
    NotifyStreamStarting();
    if (receiver_.Start(static_cast<uint16_t>(port))) {
      CEvent* events[] = {&stopEvent, &dataEvent};
      if (CEvent::WaitForEvents(events, 2, quietMs) < 0 &&
          rtcp_.Start(cameraAddress, static_cast<uint16_t>(port + 1)))
        return true;
    }
    Stop();
  }
  return false;
}

bool CRtpReception::JoinMulticast(const std::string& group, uint16_t port, uint32_t interfaceAddress,
                                  uint32_t cameraAddress, CEvent& stopEvent) {
  // Port 65535 has no RTCP port above it.
  if (group.empty() || port == 0 || port == 0xFFFF || stopEvent.IsSet()) {
    Stop();
    return false;
  }
  NotifyStreamStarting();
  bool joined =
      receiver_.StartMulticast(group.c_str(), port, interfaceAddress) &&
      rtcp_.StartMulticast(cameraAddress, group.c_str(), static_cast<uint16_t>(port + 1), interfaceAddress);
  if (!joined) Stop();
  return joined;
}

void CRtpReception::NotifyStreamStarting() {
  // A running receiver keeps its stream (Start refuses it), and its packet thread may be in the
  // owner's state right now.
  if (streamStarting_ && receiver_.GetPort() == 0) streamStarting_();
}

void CRtpReception::Stop() {
  receiver_.Stop();
  rtcp_.Stop();
}

namespace {

// Dotted text of a network-order IPv4 address, without a resolver call.
void FormatIPv4(uint32_t address, char (&out)[16]) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&address);
  std::snprintf(out, sizeof(out), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

CBaseRTPChannel::CBaseRTPChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback)
    : CBaseCameraChannel(channel, driver, callback), reception_(driver, this, this) {
  if (driver) deviceInfo_ = driver->GetDeviceInfo();
  // A new stream may start far behind the last one seen (a skipped pair's stale data, a group
  // rejoined after the camera restarted): judged against the old numbers, its packets would
  // read as late duplicates and be dropped until it caught up.
  reception_.SetStreamStarting([this] { reorder_.Reset(); });
  // The channel's own Winsock start-up comes with Start; resolving needs one now.
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) == 0) {
    cameraAddress_.store(ResolveIPv4Address(deviceInfo_.address));
    WSACleanup();
  }
}

CBaseRTPChannel::~CBaseRTPChannel() { Stop(); }

void CBaseRTPChannel::ReadConfiguration() {
  IDriver* driver = GetDriver();
  CConfiguration configuration(deviceInfo_, driver ? driver->GetHostDirectory() : std::string(),
                               driver ? driver->GetDriverName() : std::string());
  ChannelConfig channelConfig = configuration.GetChannelConfig(GetChannel());
  uint32_t streamingMode = configuration.GetStreamingMode();
  DeviceConfig deviceConfig = configuration.GetDeviceConfig();
  AdjustConfiguration(streamingMode, deviceConfig, channelConfig);

  rtpMode_ = channelConfig.rtpMode;
  bitrateSD_ = channelConfig.bitrateSD;
  bitrateHD_ = channelConfig.bitrateHD;
  bitrateFHD_ = channelConfig.bitrateFHD;
  bitrateUHD_ = channelConfig.bitrateUHD;
  streamingMode_ = streamingMode;
  interfaceAddress_ = deviceConfig.interfaceAddress;
  ptzConfig_ = deviceConfig.ptzConfig;
  fisheyeChannel_ = deviceConfig.fisheyeChannel;
}

void CBaseRTPChannel::Run() {
  // The worker is the channel's boundary: nothing a camera step throws may end the process.
  try {
    ReadConfiguration();
    signalLossNotified_ = false;
    if (streamingMode_ != CConfiguration::kStreamingUnicast) {
      RunMulticast();
    } else {
      RunUnicast();
    }
  } catch (...) {
    if (IDriver* driver = GetDriver())
      driver->Log(kLogError, "%s(): Unexpected exception, device %s", "vantrel::CBaseRTPChannel::Run",
                  driver->GetDeviceAddress().c_str());
    Disconnect();
    if (!IsPaused()) SetCameraState(false);
  }
}

void CBaseRTPChannel::RunUnicast() {
  CTime& frameTimer = GetFrameTimer();
  frameTimer.Restart();
  const uint32_t waitFirst = std::max(deviceInfo_.timeout, deviceInfo_.signalTimeout / 2);
  uint32_t idleWait = kIdleWaitMs;
  CEvent* firstFrameEvents[] = {&GetStopEvent(), &frameEvent_};
  CEvent* idleEvents[] = {&GetStopEvent(), &GetSettingsChangedEvent()};

  for (;;) {
    if (GetState() != kCameraReceiving && Connect()) {
      if (IsPaused()) {
        SetState(kCameraReceiving);
        SetCameraState(true);
      }
      int woke = CEvent::WaitForEvents(firstFrameEvents, 2, waitFirst);
      if (woke < 0) {
        idleWait = kFastIdleWaitMs;
        // The integrator's only clue when a session opens fine and stays empty.
        if (!noVideoLogged_ && !IsPaused() && GetDriver()) {
          noVideoLogged_ = true;
          const std::string device = GetDriver()->GetDeviceAddress();
          GetDriver()->Log(
              kLogWarning, "%s: No video from device %s within %u ms after the session started (%s)",
              "vantrel::CBaseRTPChannel::RunUnicast", device.c_str(), static_cast<unsigned>(waitFirst),
              dataEvent_.IsSet() ? "RTP data arrived but made no frame" : "no RTP data arrived");
        }
      } else if (woke == 1) {
        SetState(kCameraReceiving);
        signalLossNotified_ = false;
        noVideoLogged_ = false;
      }
    }

    int woke = CEvent::WaitForEvents(idleEvents, 2, idleWait);
    if (woke == 0) break;
    if (woke == 1) {
      if (streamingMode_ != CConfiguration::kStreamingMulticast) ApplySettingsChange(CheckSettingsChange());
      continue;
    }
    if (IsStreamAlive() || IsPaused()) continue;
    SetState(kCameraSignalLost);
    if (!signalLossNotified_ && frameTimer.ElapsedMs() >= deviceInfo_.signalTimeout) {
      signalLossNotified_ = true;
      NotifySignalLost();
      SetCameraState(false);
    }
  }

  Disconnect();
  if (!IsPaused()) SetCameraState(false);
}

void CBaseRTPChannel::RunMulticast() {
  GetStopEvent().Wait(kWaitInfinite);
  Disconnect();
  SetState(kCameraStopped);
  SetCameraState(false);
}

bool CBaseRTPChannel::Connect() {
  Disconnect();
  frameEvent_.Reset();
  ClearTimeConversion();
  SetPayloadFilter(kAnyPayload);
  dataEvent_.Reset();
  SetSourceAddress(0);
  foreignSenderLogged_.store(false);
  reorder_.Reset();  // the receiver is stopped: no packet thread uses it now
  // A camera known by name may not have been resolvable when the channel was made.
  if (cameraAddress_.load() == 0) cameraAddress_.store(ResolveIPv4Address(deviceInfo_.address));
  if (PrepareCamera() && OpenSession()) return true;
  Disconnect();
  return false;
}

bool CBaseRTPChannel::OpenSession() {
  if (rtpMode_ == ChannelConfig::kRtpModeOverRtsp) return true;
  return reception_.BindQuietPortPair(cameraAddress_.load(), kPortQuietMs, dataEvent_, GetStopEvent());
}

bool CBaseRTPChannel::JoinMulticast(const std::string& group, uint16_t port, uint32_t interfaceAddress) {
  dataEvent_.Reset();
  rtcpByeEvent_.Reset();
  return reception_.JoinMulticast(group, port, interfaceAddress, cameraAddress_.load(), GetStopEvent());
}

void CBaseRTPChannel::Disconnect() {
  reception_.Stop();
  OnDisconnected();
}

bool CBaseRTPChannel::IsStreamAlive() {
  if (IsPaused()) return true;
  return GetFrameTimer().ElapsedMs() < deviceInfo_.signalTimeout / 2;
}

void CBaseRTPChannel::OnRtpPacket(const sockaddr_in* sender, CRTPPacket* packet) {
  if (!sender || !packet) return;
  // Another host (or a stale stream of another recorder) may reach our port; only the camera,
  // or the sender its SETUP reply named, may feed the parser.
  const uint32_t from = sender->sin_addr.s_addr;
  const uint32_t camera = cameraAddress_.load();
  if (from != camera && (from == 0 || from != sourceAddress_.load())) {
    // A multi-homed or NATed camera sends from an address we do not know: say so, once.
    if (!foreignSenderLogged_.exchange(true) && GetDriver()) {
      char fromText[16], cameraText[16];
      FormatIPv4(from, fromText);
      FormatIPv4(camera, cameraText);
      const std::string device = GetDriver()->GetDeviceAddress();
      GetDriver()->Log(kLogWarning, "%s: RTP data from %s dropped for device %s: the camera's address is %s",
                       "vantrel::CBaseRTPChannel::OnRtpPacket", fromText, device.c_str(), cameraText);
    }
    return;
  }
  reorder_.Push(*packet, GetTickCount64(), [this](const CRTPPacket& p) { HandleRtpPacket(p); });
}

void CBaseRTPChannel::SetSourceAddress(uint32_t address) {
  sourceAddress_.store(address);
  reception_.GetRtcpHandler().SetSourceAddress(address);
}

void CBaseRTPChannel::HandleRtpPacket(const CRTPPacket& packet) {
  dataEvent_.Set();
  packetArrival_ = packet.GetArrivalTicks();
  uint8_t filter = payloadFilter_.load();
  if (filter < kAnyPayload && packet.GetPayloadType() != filter) return;
  reception_.GetRtcpHandler().UpdateSequence(packet.GetSequenceNumber());
  try {
    ProcessRtpPacket(packet);
  } catch (...) {
    // One broken packet must not take the receiving thread down; the next key frame resyncs.
  }
}

void CBaseRTPChannel::RTCPByeReceived() { rtcpByeEvent_.Set(); }

bool CBaseRTPChannel::OnFrame(ipcapture::IIPFrame* frame) {
  frameEvent_.Set();
  // A parser finishes a frame inside the packet that completes it, so that packet's arrival is
  // the frame's.
  SetHandOverArrival(packetArrival_);
  const bool sent = SendFrameCallback(frame);
  SetHandOverArrival(0);
  if (!sent) return false;
  GetFrameTimer().Restart();
  SetCameraState(true);
  return true;
}

void CBaseRTPChannel::GetRequestedSize(uint32_t& width, uint32_t& height) {
  width = GetSettings().width;
  height = GetSettings().height;
}

std::string CBaseRTPChannel::GetStreamName() {
  IDriver* driver = GetDriver();
  std::string name = driver ? driver->GetDriverName() : std::string();
  return name + StreamNameSuffix(GetSettings().streamIndex);
}

void CBaseRTPChannel::RTCPSenderReportReceived(uint64_t ntp, uint32_t rtpTimestamp) {
  CScopedLock guard(timeLock_);
  reportNtp_ = ntp;
  reportRtp_ = rtpTimestamp;
}

void CBaseRTPChannel::GetFrameTime(uint32_t rtpTimestamp, SYSTEMTIME* time) {
  if (!time) return;
  CScopedLock guard(timeLock_);
  SetFrameCameraTime(reportNtp_ != 0 ? rtcp::SenderTimeOfRtp(reportNtp_, reportRtp_, rtpTimestamp, 90000)
                                     : 0);
  if (useConverter_) {
    converter_.ConvertSmoothed(rtpTimestamp);
    converter_.GetSystemTime(*time);
    return;
  }
  if (baseTime_ != 0 && rtpTimestamp != 0) {
    if (lastTimestamp_ == 0) {
      lastTimestamp_ = rtpTimestamp;
    } else if (static_cast<int32_t>(rtpTimestamp - lastTimestamp_) > 0) {
      // Compared modulo 2^32: a plain "larger" test would freeze every frame time once the
      // 32-bit timestamp wraps (after some 13 hours at 90 kHz).
      baseTime_ += static_cast<uint64_t>(rtpTimestamp - lastTimestamp_) * 1000 / 9;
      lastTimestamp_ = rtpTimestamp;
    }
  }
  if (baseTime_ != 0 && lastTimestamp_ != 0 && FileTimeToSystemTimeValue(baseTime_, *time)) return;
  CurrentSystemTime(*time);
}

void CBaseRTPChannel::ClearTimeConversion() {
  CScopedLock guard(timeLock_);
  converter_.Reset();
  baseTime_ = 0;
  lastTimestamp_ = 0;
  useConverter_ = true;
  reportNtp_ = 0;
}

void CBaseRTPChannel::SetTimeBase(uint64_t fileTime) {
  CScopedLock guard(timeLock_);
  baseTime_ = fileTime;
  lastTimestamp_ = 0;
  useConverter_ = fileTime == 0;
}

}  // namespace vantrel
