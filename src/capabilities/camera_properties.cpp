#include "capabilities/camera_properties.h"

namespace vantrel {

using ipcapture::IIPCapabilityResult;

bool CBaseCameraProperties::WriteText(IIPCapabilityResult* result, uint32_t id, const char* name,
                                      const std::string& value) {
  ipcapture::IIPCapabilityText* entry = result->GetText(id);
  if (!entry) return false;
  return entry->SetName(name) && entry->SetSecond("") && entry->SetValid(true) &&
         entry->SetValue(value.empty() ? "(none)" : value.c_str());
}

bool CBaseCameraProperties::WriteFrameRateDefaults(ipcapture::IIPFrameRateDefaults* defaults) {
  const CameraStreamList& list = streams_[kRecording];
  for (uint32_t rate : list.rates) {
    if (rate != 0 && !defaults->AddFrameRate(FrameRateCode(rate, highRate_))) return false;
  }
  return defaults->SetDefaultFrameRate(DefaultFrameRateCode(list, highRate_));
}

bool CBaseCameraProperties::Save(IIPCapabilityResult* result) {
  if (!result) return false;
  // The device itself first, so that the host can file the entries under it.
  if (!result->SetDeviceText(ipcapture::kDeviceVendor, vendor_.c_str()) ||
      !result->SetDeviceText(ipcapture::kDeviceModel, model_.c_str()) ||
      !result->SetDeviceText(ipcapture::kDeviceVideoLines, std::to_string(videoLines_).c_str()) ||
      !result->SetDeviceText(ipcapture::kDeviceStreams, std::to_string(streamCount_).c_str())) {
    return false;
  }
  ipcapture::IIPFrameRateDefaults* defaults = result->GetFrameRateDefaults();
  if (!defaults || !WriteFrameRateDefaults(defaults)) return false;

  if (ptzPresent_ && !result->SetNumber(1, 1)) return false;
  if (secondFacility_ && !result->SetNumber(5, 1)) return false;
  if (!result->SetNumber(11, ioQueried_[0] ? 1 : 0) || !result->SetNumber(12, ioQueried_[1] ? 1 : 0))
    return false;
  if (inputs_ != 0 && !result->SetNumber(2, inputs_)) return false;
  if (outputs_ != 0 && !result->SetNumber(3, outputs_)) return false;
  if ((controlKind_ == 1 || controlKind_ == 2) && controlValue_ != 0) {
    if (!result->SetNumber(13, controlValue_) || !result->SetNumber(controlKind_ == 1 ? 14 : 15, 1) ||
        !result->SetNumber(17, 0)) {
      return false;
    }
  }
  if (streamCount_ >= 2 && liveDescribed_) {
    const CameraStreamList& live = streams_[kLive];
    if (!result->SetNumber(27, streamCount_ - 1) ||
        !WriteText(result, 120, "Live Stream: Supported Codecs", CodecListText(live)) ||
        !WriteText(result, 121, "Live Stream: Supported Resolutions", ResolutionListText(live, highRate_)) ||
        !WriteText(result, 122, "Live Stream: Supported Framerates", FrameRateListText(live, highRate_))) {
      return false;
    }
  }
  if (streamCount_ > 2) {
    const CameraStreamList& remote = streams_[kRemote];
    if (!WriteText(result, 124, "Remote Stream: Supported Codecs", CodecListText(remote)) ||
        !WriteText(result, 125, "Remote Stream: Supported Resolutions",
                   ResolutionListText(remote, highRate_)) ||
        !WriteText(result, 126, "Remote Stream: Supported Framerates",
                   FrameRateListText(remote, highRate_))) {
      return false;
    }
  }
  if (audioIn_.count != 0) {
    if (!result->SetNumber(4, audioIn_.count) ||
        !WriteText(result, 101, "Audio Input Parameters", audioIn_.ToText())) {
      return false;
    }
  }
  if (audioOut_.count != 0 && !WriteText(result, 102, "Audio Output Parameters", audioOut_.ToText())) {
    return false;
  }
  return WriteDescriptiveEntries(result);
}

}  // namespace vantrel
