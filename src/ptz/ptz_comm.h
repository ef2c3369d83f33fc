// The camera side of one PTZ channel: a queue thread that turns the host's commands into
// serial frames for the head and sends them through the camera, plus the synchronous preset
// calls of the channel's preset list.
//
// Threads: Post* run on host threads and only queue; ProcessItem runs on the channel's queue
// thread; the IPrepositionComm calls run on the host thread that called the preset list. Frames
// from both go out under sendLock_, one at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "control/rcp_http.h"
#include "core/driver_services.h"
#include "foundation/queue_thread.h"
#include "foundation/recursive_lock.h"
#include "foundation/scale_converter.h"
#include "ptz/preposition_comm.h"
#include "ptz/ptz_command.h"
#include "ptz/ptz_item.h"

namespace vantrel {

class CBasePTZComm : public CQueueThread<CPTZItem>, public IPrepositionComm {
 public:
  // Waiting commands beyond this push out the oldest: a head that lags behind should act on
  // what the operator does now, not on a backlog.
  static constexpr uint32_t kQueueLimit = 8;
  static constexpr uint32_t kStopTimeoutMs = 5000;

  CBasePTZComm(IDriver* driver, uint32_t channel);
  ~CBasePTZComm() override;

  bool Open();
  void Close();
  bool IsStarted() const { return started_; }
  uint32_t GetPresetCapacity() const { return capacity_; }
  uint16_t GetChannel() const { return channel_; }
  // 0 when no serial protocol is configured.
  virtual uint32_t GetProtocol() const { return 0; }

  // False (logged) when the item could not be queued.
  bool PostMove(IIPParams* params, uint32_t direction, uint32_t speed);
  bool PostFocus(IIPParams* params, uint32_t subKind, uint32_t speed);
  bool PostIris(IIPParams* params, uint32_t subKind, uint32_t speed);
  // A movement stop drops every command still waiting before it.
  bool PostStop(IIPParams* params, uint32_t subKind);
  bool PostAreaZoom(IIPParams* params, int32_t a, int32_t b, int32_t c, int32_t d);
  bool PostCenter(IIPParams* params, int32_t x, int32_t y, int32_t z);
  bool PostUnzoom(IIPParams* params, int32_t value);

  std::string GetCameraAddress() override;
  std::string GetHostDirectory() override;

 protected:
  bool Post(const char* method, CPTZItem* item);

  IDriver* const driver_;  // the driver object outlives every PTZ object
  const uint16_t channel_;
  uint32_t capacity_ = 0;
  bool started_ = false;
};

class CBoschPTZComm : public CBasePTZComm {
 public:
  CBoschPTZComm(IDriver* driver, uint32_t channel, uint32_t protocol);
  ~CBoschPTZComm() override;

  uint32_t GetProtocol() const override { return protocol_; }

  bool StorePreset(uint32_t index) override;
  bool GoToPreset(uint32_t index, int32_t value) override;
  bool ClearPreset(uint32_t index) override;

 protected:
  void ProcessItem(CPTZItem* item) override;

 private:
  std::unique_ptr<CPTZCommandIf> NewBuilder() const;
  void CheckHeadType();
  void DoMove(CPTZItem& item);
  void DoFocus(CPTZItem& item);
  void DoIris(CPTZItem& item);
  void DoStop(CPTZItem& item);
  bool ZoomStep(CPTZCommandIf& builder, bool tele, uint8_t speed);
  uint8_t ConvertSpeed(uint32_t speed, bool lens);
  // Lens mode switches go out in frames of their own so the command being built is kept.
  bool SetManualFocus(IIPParams* params, bool manual);
  bool SetManualIris(IIPParams* params, bool manual);
  bool SendFrame(const CPTZCommandIf& builder);
  uint16_t PresetNumber(uint32_t index) const;

  const uint32_t protocol_;
  CRecursiveLock sendLock_;
  // Guarded by sendLock_.
  CRcpHttp rcp_;
  // Used on the queue thread only.
  CScaleConverter converter_;
  uint8_t lastZoomSpeed_ = 0xFF;
  uint8_t lastFocusSpeed_ = 0xFF;
  bool headChecked_ = false;
  const uint32_t cameraLine_;
};

}  // namespace vantrel
