// The facts a capability query reports about one camera, the rules that turn them into the
// host's texts, and the save into the host's result object. Subclasses learn the facts for a
// camera family (Load) and add their own descriptive entries.
//
// Load runs on the query thread; Abort may come from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "capabilities/audio_capabilities.h"
#include "capabilities/camera_stream_list.h"
#include "vantrel/ipcapture/capability_query.h"

namespace vantrel {

// Statuses Load hands to the query (same numbers as the host's failure statuses).
enum CameraPropertiesStatus : uint32_t {
  kPropertiesOk = 0,
  kPropertiesLoginFailed = 1,
  kPropertiesOffline = 2,
  kPropertiesFailed = 3,
};

class CBaseCameraProperties {
 public:
  // `highRate`: the host takes rates above 30 raw (see FrameRateCode).
  explicit CBaseCameraProperties(bool highRate) : highRate_(highRate) {}
  virtual ~CBaseCameraProperties() = default;
  CBaseCameraProperties(const CBaseCameraProperties&) = delete;
  CBaseCameraProperties& operator=(const CBaseCameraProperties&) = delete;

  virtual void Abort() = 0;                                                          // slot 0
  virtual bool WriteFrameRateDefaults(ipcapture::IIPFrameRateDefaults* defaults);    // slot 1
  virtual bool WriteDescriptiveEntries(ipcapture::IIPCapabilityResult* result) = 0;  // slot 2
  virtual bool SkipsPtzDetection() const { return false; }                           // slot 3
  virtual bool Load(uint32_t& status) = 0;                                           // slot 4
  virtual std::string GetFailureDetail() const { return detail_; }                   // slot 5

  // Writes everything into the host's result; false at the first write the host refuses.
  bool Save(ipcapture::IIPCapabilityResult* result);

  // Stream lists in this order; the live and remote lists are what the host sees.
  enum StreamIndex { kRecording = 0, kLive = 1, kRemote = 2 };
  const CameraStreamList& Stream(StreamIndex index) const { return streams_[index]; }

  // Writes one text entry; an empty value is written "(none)".
  static bool WriteText(ipcapture::IIPCapabilityResult* result, uint32_t id, const char* name,
                        const std::string& value);

 protected:
  bool highRate_;
  std::string vendor_;
  std::string model_;
  CAudioCapabilities audioIn_;
  CAudioCapabilities audioOut_;
  uint32_t controlKind_ = 0;
  uint32_t controlValue_ = 0;
  bool liveDescribed_ = false;
  bool ptzPresent_ = false;
  bool secondFacility_ = false;
  bool ioQueried_[2] = {false, false};
  uint32_t inputs_ = 0;
  uint32_t outputs_ = 0;
  uint32_t videoLines_ = 0;
  uint32_t streamCount_ = 1;
  CameraStreamList streams_[3];
  std::string detail_;  // guarded by nothing: written by Load, read after it returned
};

}  // namespace vantrel
