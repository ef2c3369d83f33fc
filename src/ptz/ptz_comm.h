// The camera side of one PTZ channel: a queue thread that turns the host's commands into
// serial frames for the head and sends them through the camera, plus the synchronous preset
// calls of the channel's preset list.
//
// Threads: Post* run on host threads and only queue; ProcessItem runs on the channel's queue
// thread with its own connection; the IPrepositionComm calls run on the host thread that called
// the preset list, each on a connection of its own, so no lock is held across a request.
// BeginClose (any thread) sets the stop event and aborts every request in flight; an aborted
// connection refuses every later request, so nothing reaches the head once it was called.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
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
  // How long a control's Close waits for an aborted thread before it hands the rest of the
  // thread's life to the tear-down queue (well inside kStopTimeoutMs: a recorder closing many
  // cameras on a dead network must not wait seconds for each).
  static constexpr uint32_t kCloseWaitMs = 1000;

  CBasePTZComm(IDriver* driver, uint32_t channel);
  ~CBasePTZComm() override;

  bool Open();
  // Stops the thread within kStopTimeoutMs. Several channels close in parallel when each one's
  // BeginClose is called before the first Close.
  void Close();
  void BeginClose();
  // True once the queue thread has ended (or never ran); false after `timeoutMs`.
  bool WaitForThreadEnd(uint32_t timeoutMs);
  bool IsStarted() const { return started_; }
  uint32_t GetPresetCapacity() const { return capacity_; }
  uint16_t GetChannel() const { return channel_; }
  // 0 when no serial protocol is configured.
  virtual uint32_t GetProtocol() const { return 0; }
  // Whether the protocol number names one whose frames this driver can build.
  virtual bool HasFrameBuilder() const { return false; }
  virtual uint32_t GetFirstPresetNumber() const { return 1; }

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
  // Ends the requests in flight and makes every later one fail (any thread).
  virtual void AbortRequests() {}

  IDriver* const driver_;  // the driver object outlives every PTZ object
  const uint16_t channel_;
  uint32_t capacity_ = 0;
  bool started_ = false;
  std::atomic<unsigned long> closeStarted_{0};  // tick of the first BeginClose, 0 before
};

class CBoschPTZComm : public CBasePTZComm {
 public:
  CBoschPTZComm(IDriver* driver, uint32_t channel, uint32_t protocol);
  ~CBoschPTZComm() override;

  uint32_t GetProtocol() const override { return protocol_; }
  bool HasFrameBuilder() const override { return NewBuilder() != nullptr; }
  uint32_t GetFirstPresetNumber() const override;

  bool StorePreset(uint32_t index) override;
  bool GoToPreset(uint32_t index, int32_t value) override;
  bool ClearPreset(uint32_t index) override;

 protected:
  void ProcessItem(CPTZItem* item) override;
  void AbortRequests() override;

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
  // On the queue thread's connection.
  bool SendFrame(const CPTZCommandIf& builder);
  bool SendFrameOn(CRcpHttp& rcp, const CPTZCommandIf& builder);
  // A preset command sent on a connection of the calling host thread, which BeginClose aborts.
  bool SendPresetCommand(const char* method, uint32_t index, void (CPTZCommandIf::*build)(uint16_t));
  // The head's number for a slot; nothing (logged) when the protocol has no such preset.
  std::optional<uint16_t> PresetNumber(const char* method, uint32_t index) const;

  const uint32_t protocol_;
  // Queue thread only (Abort from any thread).
  CRcpHttp rcp_;
  // The preset calls' connections in flight; guarded by activeLock_, never held across a
  // request.
  CRecursiveLock activeLock_;
  std::set<CRcpHttp*> active_;
  bool closing_ = false;
  // Used on the queue thread only.
  CScaleConverter converter_;
  uint8_t lastZoomSpeed_ = 0xFF;
  uint8_t lastFocusSpeed_ = 0xFF;
  bool headChecked_ = false;
  const uint32_t cameraLine_;
};

}  // namespace vantrel
