// The PTZ driver the host gets from the driver object: one control per camera channel, made on
// first request and kept until the handler goes, and the device's preset file shared by them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/driver_services.h"
#include "foundation/recursive_lock.h"
#include "foundation/smart_ptr.h"
#include "ptz/ptz_control.h"
#include "ptz/xml_preposition_reader.h"
#include "vantrel/ipcapture/ptz_driver.h"

namespace vantrel {

class CIPPTZDriverIf : public IIPPTZDriverEx {
 protected:
  ~CIPPTZDriverIf() = default;
};

class CBasePTZHandler : public CIPPTZDriverIf {
 public:
  // Longest wait of the destructor for channel threads still in a request: above the device
  // time-out (10 s after open), which ends any request.
  static constexpr uint32_t kReleaseDrainMs = 12000;

  CBasePTZHandler(IDriver* driver, uint32_t channelCount, std::string maker);
  virtual ~CBasePTZHandler();
  CBasePTZHandler(const CBasePTZHandler&) = delete;
  CBasePTZHandler& operator=(const CBasePTZHandler&) = delete;

  // IIPPTZDriverEx
  void* ScalarDeletingDestructor(unsigned int flags) override;
  IIPPTZApi* GetPTZApi(uint32_t channel) override { return GetPTZApiEx(channel); }
  IIPPTZApiEx* GetPTZApiEx(uint32_t channel) override;

  virtual std::string GetXMLStorageFileName() = 0;
  virtual std::unique_ptr<CBasePTZControl> CreatePTZControl(uint32_t channel, bool usePresetStore) = 0;
  virtual void ReleaseControls();
  virtual bool InitializeXMLStorage();

 protected:
  IDriver* const driver_;  // the driver object owns this handler
  const uint32_t channelCount_;
  const std::string maker_;

 private:
  CRecursiveLock lock_;  // host threads may ask for channels at once
  // Guarded by lock_.
  std::map<uint32_t, std::unique_ptr<CBasePTZControl>> controls_;
  TSmartPtr<CXMLPrepositionReader> store_;
};

class CBoschPTZHandler : public CBasePTZHandler {
 public:
  CBoschPTZHandler(IDriver* driver, uint32_t channelCount);

  std::string GetXMLStorageFileName() override;
  std::unique_ptr<CBasePTZControl> CreatePTZControl(uint32_t channel, bool usePresetStore) override;
};

}  // namespace vantrel
