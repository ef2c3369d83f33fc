// Camera properties of this camera family, read over RCP+ in one abortable load.
//
// Camera texts (model, firmware) reach the host's configuration and log: they are cut to
// kMaxCameraText characters and anything outside printable ASCII becomes "?". Numbers a camera
// cannot mean (more than kMaxIoCount inputs, rates above kMaxFrameRate) are taken as unknown.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capabilities/camera_properties.h"
#include "capabilities/encoder_profile_records.h"
#include "capabilities/rcp_property_source.h"
#include "control/rcp_capability_list.h"

namespace vantrel {

// Encoder codes that can serve a size, best first (the channels' table; handed in because the
// table lives above this layer).
using ProfileCandidatesFn = std::vector<uint8_t> (*)(uint32_t width, uint32_t height);
// The camera's Motion JPEG resolution code for exactly this size, if it has one (the channels'
// table, handed in for the same reason).
using JpegCodeFn = std::optional<uint32_t> (*)(uint32_t width, uint32_t height);

class CLumivarCameraProperties : public CBaseCameraProperties {
 public:
  static constexpr size_t kMaxCameraText = 256;
  static constexpr uint32_t kMaxIoCount = 256;
  static constexpr uint32_t kMaxFrameRate = 1000;

  // `ptzProtocolName`: the PTZ protocol configured for the device ("osrd", "bicom"), may be empty.
  CLumivarCameraProperties(std::unique_ptr<IRcpPropertySource> source, ProfileCandidatesFn candidates,
                           JpegCodeFn jpegCodes, bool highRate, std::string ptzProtocolName = {});

  void Abort() override;
  bool WriteDescriptiveEntries(ipcapture::IIPCapabilityResult* result) override;
  bool Load(uint32_t& status) override;

  // Exposed for the tests of the rules.
  bool ProfileSupports(uint32_t width, uint32_t height, uint32_t stream) const;
  std::optional<uint32_t> CameraGroup() const { return cameraGroup_; }
  static std::string CleanCameraText(const std::string& text);
  static std::string MacText(const std::vector<uint8_t>& bytes);

 private:
  bool Aborted() const { return aborted_.load(); }
  bool LoadSteps(uint32_t& status);
  bool Identify(uint32_t& status);
  void DetectPtz();
  bool ReadEncoderStreams();
  void AddStandardResolution(uint32_t width, uint32_t height, uint32_t rate);
  void AddCodeResolution(uint8_t code, StreamIndex list, uint32_t rate);

 public:
  // Host parameter 10 as Open reads it: "code:WxH" joined by ";" for each size of a stream that
  // offers Motion JPEG and has a code of its own; sizes without one are left to Open's rules.
  std::string MjpegResolutionText() const;

 private:
  std::unique_ptr<IRcpPropertySource> source_;
  const ProfileCandidatesFn candidates_;
  const JpegCodeFn jpegCodes_;
  const std::string ptzProtocolName_;
  std::atomic<bool> aborted_{false};

  RcpCapabilityMasks masks_;
  EncoderProfileRecords profiles_;
  uint32_t line_ = 1;  // camera line the stream facts are read for
  uint32_t videoStandard_ = 0;
  std::string firmware_;
  std::string mac_;
  uint32_t ptzProtocol_ = 1;
  std::optional<uint32_t> cameraGroup_;
  uint32_t maxFrameRate_ = 0;
  std::string encoderCapabilities_;
  uint32_t fishEyeLine_ = 0;
  uint8_t dewarpMode_ = 0;
  bool storage_ = false;
};

}  // namespace vantrel
