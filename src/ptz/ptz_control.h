// What the host calls for one PTZ channel. Host calls only queue work for the channel's
// communication object (or go to the preset list); nothing here waits for the camera except
// the preset calls, which the host expects to report the head's answer.
//
// Threads: host threads call the IIPPTZApiEx slots; the queue thread reads and writes the lens
// flags through IIPParams. The flags are plain atomics: each is one independent bit of state.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/driver_services.h"
#include "foundation/smart_ptr.h"
#include "ptz/preposition_list.h"
#include "ptz/ptz_comm.h"
#include "ptz/ptz_item.h"
#include "ptz/xml_preposition_reader.h"
#include "vantrel/ipcapture/ptz_driver.h"

namespace vantrel {

class CBasePTZControl : public IIPPTZApiEx, public IIPParams {
 public:
  CBasePTZControl(IDriver* driver, uint32_t channel, bool usePresetStore);
  ~CBasePTZControl() override;
  CBasePTZControl(const CBasePTZControl&) = delete;
  CBasePTZControl& operator=(const CBasePTZControl&) = delete;

  // IIPPTZApiEx (host slots 0 to 20)
  void* ScalarDeletingDestructor(unsigned int flags) override;
  int32_t IsPTZConfigured() override;
  int32_t StartMove(uint32_t direction, uint32_t speed) override;
  int32_t Stop() override;
  int32_t Center(int32_t x, int32_t y, int32_t z) override;
  int32_t ZoomIn(uint32_t speed) override;
  int32_t ZoomOut(uint32_t speed) override;
  int32_t Unzoom(int32_t value) override;
  int32_t AreaZoom(int32_t a, int32_t b, int32_t c, int32_t d) override;
  int32_t FocusNear(uint32_t speed) override;
  int32_t FocusFar(uint32_t speed) override;
  int32_t IrisOpen(uint32_t speed) override;
  int32_t IrisClose(uint32_t speed) override;
  int32_t GetPTZInfo(PTZInfo* info) override;
  int32_t GetPrepositionCount() override;
  int32_t GetPrepositionName(uint32_t position, wchar_t* buffer, uint32_t size) override;
  int32_t GoToPreposition(int32_t value, const wchar_t* name) override;
  int32_t AddPreposition(const wchar_t* name) override;
  int32_t RemovePreposition(const wchar_t* name) override;
  int32_t GetCurrentPreposition(wchar_t* buffer, uint32_t size) override;
  bool SupportsFeature(uint32_t feature) override;

  // The control's own operations. BeginClose aborts what the channel is doing without waiting;
  // Close then waits (bounded).
  virtual void Close();
  void BeginClose();
  virtual std::unique_ptr<CBasePTZComm> CreateComm() = 0;
  virtual bool OpenWithPresets(const TSmartPtr<CXMLPrepositionReader>& store);
  virtual bool Open();

  // IIPParams
  uint32_t GetChannel() override { return channel_; }
  bool IsManualIris() override { return manualIris_; }
  void SetManualIris(bool manual) override { manualIris_ = manual; }
  bool IsManualFocus() override { return manualFocus_; }
  void SetManualFocus(bool manual) override { manualFocus_ = manual; }

  bool IsOpen() const { return comm_ != nullptr; }
  CBasePTZComm* GetComm() const { return comm_.get(); }

 protected:
  // Queues a move without the repeat filter of the derived control.
  int32_t QueueMove(uint32_t direction, uint32_t speed);
  int32_t QueueLens(bool focus, uint32_t subKind, uint32_t speed);

  IDriver* const driver_;  // the driver object outlives every control
  const uint32_t channel_;
  const bool usePresetStore_;
  std::unique_ptr<CBasePTZComm> comm_;  // null while closed; host calls only
  CPrepositionList presets_;
  uint32_t presetCapacity_ = 0;
  std::atomic<bool> manualIris_{false};
  std::atomic<bool> manualFocus_{false};
  std::atomic<bool> focusing_{false};
  std::atomic<bool> irisChanging_{false};
  std::atomic<bool> moving_{false};
};

class CBoschPTZControl : public CBasePTZControl {
 public:
  CBoschPTZControl(IDriver* driver, uint32_t channel, bool usePresetStore);

  int32_t StartMove(uint32_t direction, uint32_t speed) override;
  int32_t Stop() override;
  std::unique_ptr<CBasePTZComm> CreateComm() override;

 private:
  // Host threads; a repeated move with nearly the same speed is not sent again.
  uint32_t lastDirection_ = kPTZNoDirection;
  uint32_t lastSpeed_ = 0;
};

}  // namespace vantrel
