#include "channels/common_channel.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/driver_services.h"

namespace vantrel {

namespace {

constexpr char kUpdateProfile[] = "vantrel::CCommonChannel::UpdateProfile";

DEVICE_INFO DeviceOf(IDriver* driver) { return driver ? driver->GetDeviceInfo() : DEVICE_INFO{}; }

}  // namespace

CCommonChannel::CCommonChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback)
    : CBaseRTSPChannel(channel, driver, callback),
      rcp_(DeviceOf(driver)),
      coder_(channel * 2 + 1),
      line_(driver ? driver->GetCameraLine(channel) : channel + 1),
      streamCoder_(channel * 2 + 1),
      privacyZones_(driver, line_) {}

CCommonChannel::~CCommonChannel() {
  // The worker runs our overrides; it must be gone before our members are.
  Stop();
}

void CCommonChannel::AdjustConfiguration(uint32_t& /*streamingMode*/, DeviceConfig& /*device*/,
                                         ChannelConfig& /*channel*/) {
  IDriver* driver = GetDriver();
  const VideoSettings& settings = StreamSettings();
  char text[512];
  std::snprintf(text, sizeof(text), "device %s:%u (channel %u, stream %s)", deviceInfo_.address.c_str(),
                deviceInfo_.port, GetChannel(), settings.streamIndex == kRecStream ? "Recording" : "Live");
  description_ = text;
  if (!driver) return;

  cameraGroup_ = static_cast<uint32_t>(driver->GetParameterInt(5));
  const int32_t dewarp = driver->GetParameterInt(9);
  if (dewarp > 0) dewarpMode_ = static_cast<uint32_t>(dewarp);
  const std::string profileText = driver->GetParameter(7);
  if (!profileText.empty()) {
    CScopedLock guard(profileLock_);
    profiles_ = CEncoderProfileList::Parse(profileText);
  }
  // Cameras have eight coders; later inputs of large encoders wrap onto them.
  if (coder_ > 8) {
    coder_ &= 7;
    if (coder_ == 0) coder_ = 8;
  }
  streamCoder_ = coder_ + (settings.streamIndex != kRecStream ? 1 : 0);
}

void CCommonChannel::SetStreamOption(ipcapture::IIPZoneList* option) {
  if (StreamSettings().streamIndex != kRecStream || !option) return;
  privacyZones_.SetZones(option);
  zonesRequested_ = true;
}

void CCommonChannel::ApplyPrivacyZones() {
  if (StreamSettings().streamIndex != kRecStream || !zonesRequested_ || Stopping()) return;
  privacyZones_.ApplyZones();
}

std::string CCommonChannel::GetStreamName() {
  if (description_.empty()) return CBaseRTPChannel::GetStreamName();
  return description_;
}

ProfilePair CCommonChannel::GetEncoderMode() {
  CScopedLock guard(profileLock_);
  return {encoderMode_, encoderMode2_};
}

bool CCommonChannel::Stopping() { return GetStopEvent().IsSet(); }

void CCommonChannel::Interrupt() {
  rcp_.Abort();
  privacyZones_.Abort();
  CBaseRTSPChannel::Interrupt();
}

void CCommonChannel::Rearm() {
  rcp_.ResetAbort();
  privacyZones_.ResetAbort();
  CBaseRTSPChannel::Rearm();
}

uint32_t CCommonChannel::ConfiguredBitrate(BitrateClass bitrateClass) const {
  switch (bitrateClass) {
    case BitrateClass::kUHD:
      return bitrateUHD_;
    case BitrateClass::kFHD:
      return bitrateFHD_;
    case BitrateClass::kHD:
      return bitrateHD_;
    case BitrateClass::kSD:
      break;
  }
  return bitrateSD_;
}

bool CCommonChannel::ReadEncoderInstance() {
  if (encoderInstance_ != 0) return true;
  // A stop that came during the set-up must not start another request to a camera that may
  // not answer (the rcp object is aborted too, which also covers a stop racing this test).
  if (Stopping()) return false;
  const std::vector<uint8_t> bytes = rcp_.GetRcpOctets(kRcpEncoderInstance, line_);
  if (bytes.size() < 3) return false;
  const VideoSettings& settings = StreamSettings();
  if (settings.format == 7)
    encoderInstance_ = bytes[2];
  else
    encoderInstance_ = settings.streamIndex != kRecStream ? bytes[1] : bytes[0];
  return true;
}

bool CCommonChannel::ReadEncoderMode() {
  {
    CScopedLock guard(profileLock_);
    if (profiles_.Empty()) return true;
  }
  const std::vector<uint8_t> bytes = rcp_.GetRcpOctets(kRcpEncoderMode, line_);
  if (bytes.size() != 8) return false;
  CScopedLock guard(profileLock_);
  encoderMode_ = bytes[3];
  encoderMode2_ = bytes[7];
  return true;
}

bool CCommonChannel::UpdateDewarpingMode() {
  if (dewarpMode_ == 0) return true;
  std::vector<uint8_t> bytes = rcp_.GetRcpOctets(kRcpDewarp, line_);
  if (bytes.empty() || bytes[0] == dewarpMode_) return true;
  bytes.push_back(static_cast<uint8_t>(dewarpMode_));
  if (!Stopping() && rcp_.SetRcpOctets(kRcpDewarp, bytes, line_).IsSuccess()) return true;
  const std::string device = GetDriver() ? GetDriver()->GetDeviceAddress() : std::string();
  Log(kLogDetail, "%s: Unable to set de-warping mode %u to device %s",
      "vantrel::CCommonChannel::UpdateDewarpingMode", dewarpMode_, device.c_str());
  return false;
}

bool CCommonChannel::UpdateFrameRate() {
  static constexpr char kMethod[] = "vantrel::CCommonChannel::UpdateFrameRate";
  const uint32_t fps = FramesPerSecond(StreamSettings().frameRate);
  // Without a known maximum rate there is nothing to divide; sending every frame is the one
  // ratio that cannot be wrong. (A missing parameter reads as 0x80000000.)
  const int32_t maxRate = GetDriver() ? GetDriver()->GetParameterInt(6) : kParameterMissing;
  // A host asking for more than the camera's maximum gets every frame: a ratio of 0 is refused
  // by the camera and would fail the set-up on every round.
  const uint32_t skip =
      maxRate > 0 ? std::max<uint32_t>(1, static_cast<uint32_t>(maxRate) / std::max<uint32_t>(fps, 1)) : 1;
  if (Stopping() || !rcp_.SetRcpDword(kRcpFrameSkip, skip, streamCoder_).IsSuccess()) {
    Log(kLogDetail, "%s: Unable to apply frame skip ratio %u to encoder profile for %s", kMethod, skip,
        description_.c_str());
    return false;
  }
  if (Stopping() || !rcp_.SetRcpDword(kRcpIntraDistance, fps, streamCoder_).IsSuccess()) {
    Log(kLogDetail, "%s: Unable to apply Intra frame distance %u to encoder profile for %s", kMethod, fps,
        description_.c_str());
    return false;
  }
  return true;
}

bool CCommonChannel::UpdateResolution() {
  static constexpr char kMethod[] = "vantrel::CCommonChannel::UpdateResolution";
  const VideoSettings& settings = StreamSettings();
  const std::optional<uint32_t> code =
      ResolutionCode(settings.width, settings.height, settings.format == kVideoFormatMPEG4);
  if (!code) {
    Log(kLogError, "%s: Unable to get resolution from %s", kMethod, description_.c_str());
    return false;
  }
  if (Stopping()) return false;
  // The camera falls back to a size of its own; the stream still works, so this is no failure.
  if (!rcp_.SetRcpDword(kRcpResolution, *code, streamCoder_).IsSuccess())
    Log(kLogDetail, "%s: Unable to apply resolution value %u to encoder profile for %s", kMethod, *code,
        description_.c_str());
  return true;
}

bool CCommonChannel::UpdateProfile() {
  if (!UpdateFrameRate()) return false;
  const VideoSettings& settings = StreamSettings();
  const uint32_t quantizer = QuantizerForQuality(settings.quality);
  const BitrateClass bitrateClass = BitrateClassForSize(settings.width, settings.height);
  const uint32_t bandwidth =
      BandwidthForQuality(bitrateClass, ConfiguredBitrate(bitrateClass), settings.quality);
  const char* description = description_.c_str();

  if (Stopping()) return false;
  if (!rcp_.SetRcpOctet(kRcpGopStructure, 0, streamCoder_).IsSuccess())
    Log(kLogDetail, "%s: Unable to apply GOP structure to encoder profile for %s", kUpdateProfile,
        description);

  if (Stopping() || !rcp_.SetRcpDword(kRcpBandwidth, bandwidth, streamCoder_).IsSuccess()) {
    Log(kLogDetail, "%s: Unable to apply bandwidth value %u to encoder profile for %s", kUpdateProfile,
        bandwidth, description);
    return false;
  }
  const auto maxBandwidth = static_cast<uint32_t>(bandwidth * 1.1);
  if (Stopping() || !rcp_.SetRcpDword(kRcpMaxBandwidth, maxBandwidth, streamCoder_).IsSuccess()) {
    Log(kLogDetail, "%s: Unable to apply maximum bandwidth value %u to encoder profile for %s",
        kUpdateProfile, bandwidth, description);
    return false;
  }
  if (Stopping()) return false;
  // Cameras that know the quantizer set-up choose their own quantizers from the bit rate.
  if (rcp_.SetRcpDword(kRcpQuantizerSetup, 0, streamCoder_).IsSuccess()) return true;

  if (Stopping() || !rcp_.SetRcpDword(kRcpIQuantizer, quantizer, streamCoder_).IsSuccess()) {
    Log(kLogDetail, "%s: Unable to apply I-frame quantization value %u to encoder profile for %s",
        kUpdateProfile, quantizer, description);
    return false;
  }
  if (Stopping() || !rcp_.SetRcpDword(kRcpPQuantizer, quantizer, streamCoder_).IsSuccess()) {
    Log(kLogDetail, "%s: Unable to apply P-frame quantization value %u to encoder profile for %s",
        kUpdateProfile, quantizer, description);
    return false;
  }
  return true;
}

bool CCommonChannel::SelectStreamProfile() {
  const VideoSettings& settings = StreamSettings();
  if (cameraGroup_ == 0) {
    if (Stopping() || !rcp_.SetRcpDword(kRcpStreamCoding, 2, encoderInstance_).IsSuccess()) return false;
    return UpdateResolution();
  }

  CEncoderProfileList profiles;
  ProfilePair current;
  {
    CScopedLock guard(profileLock_);
    profiles = profiles_;
    current = {encoderMode_, encoderMode2_};
  }
  if (profiles.Empty()) return UpdateResolution();

  const ProfilePair chosen =
      ChooseProfile(profiles, current, settings.streamIndex, settings.width, settings.height);
  bool written = true;
  if (chosen != current) {
    std::vector<uint8_t> payload(8, 0);
    payload[3] = chosen.first;
    payload[7] = chosen.second;
    written = !Stopping() && rcp_.SetRcpOctets(kRcpEncoderMode, payload, line_).IsSuccess();
    if (written) {
      // What the camera now runs; a later size change compares against this, not a stale read.
      CScopedLock guard(profileLock_);
      encoderMode_ = chosen.first;
      encoderMode2_ = chosen.second;
    }
  }
  const uint8_t code = settings.streamIndex != kRecStream ? chosen.second : chosen.first;
  if (!ProfileNeedsResolution(code)) return written;
  return written && UpdateResolution();
}

bool CCommonChannel::StreamSetup() {
  std::vector<uint8_t> payload(12, 0);
  payload[7] = static_cast<uint8_t>(coder_);
  payload[11] = static_cast<uint8_t>(coder_ + 1);
  if (Stopping()) return false;
  if (rcp_.SetRcpOctets(kRcpH264Setup, payload, line_).IsSuccess()) return true;
  // Older firmware has no per-line stream set-up; selecting the coder on the encoder does it.
  if (Stopping()) return false;
  return rcp_.SetRcpDword(kRcpCoderSelect, streamCoder_, encoderInstance_).IsSuccess();
}

}  // namespace vantrel
