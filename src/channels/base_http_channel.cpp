#include "channels/base_http_channel.h"

#include <windows.h>

#include <new>

#include "core/driver_services.h"

namespace vantrel {

CBaseHttpChannel::CBaseHttpChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback)
    : CBaseCameraChannel(channel, driver, callback),
      sender_(driver ? driver->GetDeviceInfo() : DEVICE_INFO()),
      parser_(new (std::nothrow) CJpegMediaParser(driver)) {
  if (parser_) parser_->SetClient(this);
}

CBaseHttpChannel::~CBaseHttpChannel() { Stop(); }

uint32_t CBaseHttpChannel::FrameIntervalMs(uint32_t frameRateCode) {
  if (frameRateCode == 0) return 1000;
  if ((frameRateCode & 0xFFFFF000u) == 0x7000u) {
    const uint32_t fps = frameRateCode & 0x0FFF;
    return fps == 0 ? 1000 : 1000 / fps;
  }
  return frameRateCode;
}

uint32_t CBaseHttpChannel::SignalLossMs(uint32_t frameRateCode, uint32_t signalTimeoutMs) {
  const uint32_t interval = FrameIntervalMs(frameRateCode);
  return interval > 1000 ? interval : signalTimeoutMs;
}

bool CBaseHttpChannel::IsSignalLost() {
  IDriver* driver = GetDriver();
  const uint32_t signalTimeout = driver ? driver->GetDeviceInfo().signalTimeout : 5000;
  return GetFrameTimer().ElapsedMs() >= SignalLossMs(GetSettings().frameRate, signalTimeout);
}

void CBaseHttpChannel::Interrupt() { sender_.Abort(); }

void CBaseHttpChannel::Rearm() { sender_.ResetAbort(); }

void CBaseHttpChannel::Run() {
  GetFrameTimer().Restart();
  for (;;) {
    // A new rate or size from the host is taken between rounds; the request carries the size.
    CheckSettingsChange();
    BeginRound();
    SetState(kCameraReceiving);
    const bool stopped = Poll();
    sender_.CloseRequest();
    const bool lost = IsSignalLost();
    if (lost) {
      SetState(kCameraSignalLost);
      NotifySignalLost();
      SetCameraState(false);
    }
    if (stopped) return;
    if (GetStopEvent().Wait(lost ? kLostRetryMs : 0)) return;
  }
}

bool CBaseHttpChannel::Poll() {
  if (GetStopEvent().IsSet()) return true;
  std::vector<uint8_t> buffer;
  const uint32_t interval = FrameIntervalMs(GetSettings().frameRate);
  // The first fetch of a round goes out even while the signal counts as lost: only a picture
  // restarts the frame timer, so a round that never asked would never find the camera back.
  bool fetched = false;
  do {
    buffer.clear();
    fetched = FetchSnapshot(buffer);
    uint32_t wait;
    if (fetched) {
      // The sender adds one zero byte after the body for text readers; a picture ends before it.
      if (parser_ && buffer.size() > 1) parser_->ProcessData(buffer.data(), buffer.size() - 1);
      const uint32_t elapsed = GetFrameTimer().ElapsedMs();
      wait = elapsed < interval ? interval - elapsed : 0;
    } else {
      // A camera that refuses a picture is asked again at the picture pace (at least once a
      // second), not as fast as it can refuse; once it counts as lost the round's 5 s wait rules.
      wait = IsSignalLost() ? 0 : (interval < 1000 ? interval : 1000);
    }
    if (GetStopEvent().Wait(wait)) return true;
  } while (fetched && !IsSignalLost());
  return false;
}

bool CBaseHttpChannel::OnFrame(ipcapture::IIPFrame* frame) {
  if (!SendFrameCallback(frame)) return false;
  GetFrameTimer().Restart();
  SetCameraState(true);
  return true;
}

void CBaseHttpChannel::GetRequestedSize(uint32_t& width, uint32_t& height) {
  width = GetSettings().width;
  height = GetSettings().height;
}

std::string CBaseHttpChannel::GetStreamName() {
  IDriver* driver = GetDriver();
  std::string name = driver ? driver->GetDriverName() : std::string();
  switch (GetSettings().streamIndex) {
    case kRecStream:
      return name + "::RecStream";
    case kLiveStream:
      return name + "::LiveStream";
    case kRemoteStream:
      return name + "::RemoteStream";
    default:
      return name;
  }
}

void CBaseHttpChannel::GetFrameTime(uint32_t, SYSTEMTIME* time) {
  if (time) ::GetSystemTime(time);
}

}  // namespace vantrel
