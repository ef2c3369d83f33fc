#include "channels/mjpeg_channel_http.h"

#include <cstdio>

#include "control/hutils.h"
#include "core/driver_services.h"

namespace vantrel {

CMJPEGChannelHTTP::CMJPEGChannelHTTP(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback)
    : CBaseHttpChannel(channel, driver, callback),
      privacyZones_(driver, driver ? driver->GetCameraLine(channel) : channel + 1),
      cameraGroup_(driver ? driver->GetParameterInt(5) : 0),
      cameraNumber_(driver ? driver->GetCameraLine(channel) : channel + 1) {}

CMJPEGChannelHTTP::~CMJPEGChannelHTTP() { Stop(); }

void CMJPEGChannelHTTP::SetStreamOption(ipcapture::IIPZoneList* option) {
  if (GetSettings().streamIndex != kRecStream || !option) return;
  privacyZones_.SetZones(option);
  zonesRequested_ = true;
}

void CMJPEGChannelHTTP::BeginRound() {
  if (GetSettings().streamIndex == kRecStream && zonesRequested_ && !GetStopEvent().IsSet())
    privacyZones_.ApplyZones();
}

void CMJPEGChannelHTTP::Interrupt() {
  privacyZones_.Abort();
  CBaseHttpChannel::Interrupt();
}

void CMJPEGChannelHTTP::Rearm() {
  privacyZones_.ResetAbort();
  CBaseHttpChannel::Rearm();
}

std::string CMJPEGChannelHTTP::SnapshotPath(uint32_t width, uint32_t height, uint32_t quality,
                                            uint32_t cameraNumber) {
  const char* size = width <= 256                  ? "JpegSize=S&"
                     : width <= 512                ? "JpegSize=M&"
                     : width > 720 || height > 288 ? "JpegSize=XL&"
                                                   : "JpegSize=L&";
  // The camera's scale runs the other way from the host's; 0 is not a quality it takes.
  const uint32_t cameraQuality = quality >= 100 ? 1 : 100 - quality;
  char path[128];
  std::snprintf(path, sizeof(path), "/snap.jpg?%sJpegCam=%u&JpegQuality=%u", size, cameraNumber,
                cameraQuality);
  return path;
}

bool CMJPEGChannelHTTP::FetchSnapshot(std::vector<uint8_t>& buffer) {
  const VideoSettings& s = GetSettings();
  const std::string path = SnapshotPath(s.width, s.height, s.quality, cameraNumber_);
  return HUtils::RequestGetRD(GetSender(), path, buffer).code == CResultDef::kCodeOk;
}

}  // namespace vantrel
