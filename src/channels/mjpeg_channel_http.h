// Motion JPEG for cameras of group 0, which do not stream it: snapshots polled over HTTP,
// "/snap.jpg" with the size class, camera line and quality of the request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capabilities/privacy_zone_handler.h"
#include "channels/base_http_channel.h"

namespace vantrel {

class CMJPEGChannelHTTP : public CBaseHttpChannel {
 public:
  // `driver` and `callback` are borrowed; see CBaseCameraChannel.
  CMJPEGChannelHTTP(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  ~CMJPEGChannelHTTP() override;

  // Only the recording stream carries privacy zones.
  void SetStreamOption(ipcapture::IIPZoneList* option) override;

  // The request path for a size and quality (exposed for tests).
  static std::string SnapshotPath(uint32_t width, uint32_t height, uint32_t quality, uint32_t cameraNumber);

 protected:
  bool FetchSnapshot(std::vector<uint8_t>& buffer) override;
  // Zones are brought in line at the start of every round.
  void BeginRound() override;
  // The zone requests (twenty round trips) are aborted with the snapshot's.
  void Interrupt() override;
  void Rearm() override;

 private:
  CPrivacyZoneHandler privacyZones_;
  // Zones are only read back and written once the host handed a list over: each apply costs
  // twenty round trips to the camera.
  bool zonesRequested_ = false;
  const uint32_t cameraGroup_;  // host parameter 5; kept, the polling does not depend on it
  const uint32_t cameraNumber_;
};

}  // namespace vantrel
