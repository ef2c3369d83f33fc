// Camera-side set-up shared by the RTSP video channels: before a session opens, and whenever the
// host changes size or frame rate, the camera's encoder for this stream is told its instance and
// coder, resolution, frame rate, bit rate, quantizer and de-warping mode over RCP+.
//
// Threads: every set-up step runs on the channel's worker thread (PrepareCamera and
// ApplySettingsChange are called from its loop); SetStreamOption comes from the host thread
// before the worker starts. The profile list and the encoder mode read from the camera are
// guarded by profileLock_; the other set-up fields belong to the worker.
//
// Every write first checks the stop event, so a channel being stopped sends nothing more to the
// camera and its set-up ends as failed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capabilities/privacy_zone_handler.h"
#include "channels/base_rtsp_channel.h"
#include "channels/encoder_profiles.h"
#include "control/rcp_http.h"
#include "foundation/recursive_lock.h"

namespace vantrel {

class CCommonChannel : public CBaseRTSPChannel {
 public:
  // RCP+ commands of the encoder set-up.
  static constexpr uint16_t kRcpCoderSelect = 0x0600;
  static constexpr uint16_t kRcpIntraDistance = 0x0604;
  static constexpr uint16_t kRcpFrameSkip = 0x0606;
  static constexpr uint16_t kRcpBandwidth = 0x0607;
  static constexpr uint16_t kRcpResolution = 0x0608;
  static constexpr uint16_t kRcpIQuantizer = 0x060A;
  static constexpr uint16_t kRcpPQuantizer = 0x060B;
  static constexpr uint16_t kRcpMaxBandwidth = 0x0612;
  static constexpr uint16_t kRcpQuantizerSetup = 0x0A82;
  static constexpr uint16_t kRcpGopStructure = 0x0A94;
  static constexpr uint16_t kRcpStreamCoding = 0x0A9C;
  static constexpr uint16_t kRcpH264Setup = 0x0AD2;
  static constexpr uint16_t kRcpEncoderMode = 0x0AD3;
  static constexpr uint16_t kRcpJpegSetup = 0x0AD5;
  static constexpr uint16_t kRcpDewarp = 0x0BF6;
  static constexpr uint16_t kRcpEncoderInstance = 0xFF11;

  // `driver` and `callback` are borrowed; see CBaseCameraChannel.
  CCommonChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  ~CCommonChannel() override;

  // Only the recording stream carries privacy zones.
  void SetStreamOption(ipcapture::IIPZoneList* option) override;
  // Brings the camera's privacy zones in line with the host's, recording stream only.
  virtual void ApplyPrivacyZones();

  std::string GetStreamName() override;

  bool UpdateDewarpingMode();
  bool ReadEncoderMode();
  bool ReadEncoderInstance();
  bool UpdateFrameRate();
  bool UpdateResolution();
  bool UpdateProfile();
  bool SelectStreamProfile();
  bool StreamSetup();

  uint32_t GetCoder() const { return coder_; }
  uint32_t GetStreamCoder() const { return streamCoder_; }
  uint32_t GetLine() const { return line_; }
  uint32_t GetEncoderInstance() const { return encoderInstance_; }
  const std::string& GetDescription() const { return description_; }
  ProfilePair GetEncoderMode();

 protected:
  void AdjustConfiguration(uint32_t& streamingMode, DeviceConfig& device, ChannelConfig& channel) override;

  // The settings the set-up works from; a seam for tests that drive the steps without a worker.
  virtual const VideoSettings& StreamSettings() { return GetSettings(); }
  // True when the stop event is set: the write that was about to go out is dropped.
  bool Stopping();
  // A stop ends the RCP+ request in flight instead of waiting out its time-out.
  void Interrupt() override;
  void Rearm() override;
  // Maximum bit rate configured for a class.
  uint32_t ConfiguredBitrate(BitrateClass bitrateClass) const;

  CRcpHttp rcp_;
  uint32_t cameraGroup_ = 0;
  uint32_t encoderInstance_ = 0;  // 0 = not read yet
  uint32_t coder_;
  const uint32_t line_;
  uint32_t streamCoder_;
  uint32_t dewarpMode_ = 0;

  CRecursiveLock profileLock_;
  CEncoderProfileList profiles_;  // guarded by profileLock_
  uint8_t encoderMode_ = 0;       // guarded by profileLock_
  uint8_t encoderMode2_ = 0;      // guarded by profileLock_

  CPrivacyZoneHandler privacyZones_;
  // Zones are only read back and written once the host has handed a list over: every apply costs
  // twenty camera round trips even when nothing changes.
  bool zonesRequested_ = false;
  std::string description_;
};

}  // namespace vantrel
