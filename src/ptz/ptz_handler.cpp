#include "ptz/ptz_handler.h"

#include <new>

#include "control/result_def.h"
#include "foundation/callback_gate.h"
#include "foundation/teardown_queue.h"
#include "foundation/text_format.h"
#include "ptz/preset_text.h"

namespace vantrel {

namespace {
// Host parameter whose text (the device's MAC address) names the preset file.
constexpr uint32_t kDeviceTextParameter = 3;
}  // namespace

CBasePTZHandler::CBasePTZHandler(IDriver* driver, uint32_t channelCount, std::string maker)
    : driver_(driver), channelCount_(channelCount), maker_(std::move(maker)) {}

CBasePTZHandler::~CBasePTZHandler() {
  ReleaseControls();
  // A channel thread the abort could not end (the platform may end a request only at its
  // time-out) finishes on the tear-down queue; it runs driver code and logs through the driver,
  // so the handler, which goes with the driver, waits for it: the driver's Close is bounded by
  // the request time-out, the host's per-channel Close is not held at all.
  // From inside a host callback the Drain cannot wait (see Drain): the driver's Delete finishes them.
  if (!CTeardownQueue::Drain(kReleaseDrainMs) && !CCallbackGate::IsInsideAnyCallback())
    driver_->Log(kLogWarning, "%s: PTZ channel threads did not end within %u ms",
                 "vantrel::CBasePTZHandler::~CBasePTZHandler", kReleaseDrainMs);
  store_.Release();
}

void* CBasePTZHandler::ScalarDeletingDestructor(unsigned int flags) {
  if (flags & 1) {
    delete this;
  } else {
    this->~CBasePTZHandler();
  }
  return this;
}

void CBasePTZHandler::ReleaseControls() {
  std::map<uint32_t, std::unique_ptr<CBasePTZControl>> doomed;
  {
    CScopedLock guard(lock_);
    doomed.swap(controls_);
  }
  // Every channel is aborted before the first is waited for, so closing N silent channels
  // takes one channel's bound, not N.
  for (auto& [channel, control] : doomed) control->BeginClose();
  for (auto& [channel, control] : doomed) control->Close();
}

IIPPTZApiEx* CBasePTZHandler::GetPTZApiEx(uint32_t channel) {
  if (channel >= channelCount_) return nullptr;
  CScopedLock guard(lock_);
  auto it = controls_.find(channel);
  if (it != controls_.end()) return it->second.get();
  std::unique_ptr<CBasePTZControl> control;
  if (!maker_.empty()) {
    if (!store_ && !InitializeXMLStorage()) return nullptr;
    control = CreatePTZControl(channel, true);
    if (!control || !control->OpenWithPresets(store_)) return nullptr;
  } else {
    control = CreatePTZControl(channel, false);
    if (!control || !control->Open()) return nullptr;
  }
  IIPPTZApiEx* api = control.get();
  controls_[channel] = std::move(control);
  return api;
}

bool CBasePTZHandler::InitializeXMLStorage() {
  static const char kMethod[] = "vantrel::CBasePTZHandler::InitializeXMLStorage";
  CResultDef result;
  const std::string fileName = GetXMLStorageFileName();
  if (fileName.empty()) {
    result.SetFormatted(
        1, 3, "%s: PTZ module cannot be initialized! Name of file for preset storing was not defined",
        kMethod);
  } else {
    CXMLPrepositionReader* reader = new (std::nothrow) CXMLPrepositionReader(maker_);
    if (!reader) {
      result.SetFormatted(1, 5, "%s: not enough memory for creating CXMLPrepositionReader object", kMethod);
    } else {
      store_.Reset(reader);
      if (!reader->Open(fileName)) {
        result.SetFormatted(1, 1, "%s: cannot initialize CXMLPrepositionReader object with parameter \"%s\"",
                            kMethod, fileName.c_str());
      } else if (!reader->GetSetAsideName().empty()) {
        driver_->Log(kLogWarning,
                     "%s: preset file \"%s\" could not be read; it was kept as \"%s\" and a new one started",
                     kMethod, fileName.c_str(), reader->GetSetAsideName().c_str());
      }
    }
  }
  if (!result.IsSuccess() && result.severity != CResultDef::kSeverityNotSent)
    driver_->Log(result.severity, "%s", result.message.c_str());
  return result.IsSuccess();
}

CBoschPTZHandler::CBoschPTZHandler(IDriver* driver, uint32_t channelCount)
    : CBasePTZHandler(driver, channelCount, "Bosch") {}

std::string CBoschPTZHandler::GetXMLStorageFileName() {
  const std::string text = driver_->GetParameter(kDeviceTextParameter);
  if (text.empty()) {
    const DEVICE_INFO& device = driver_->GetDeviceInfo();
    driver_->Log(
        kLogError,
        "%s: Cannot generate filename for preset XML storage for device %s:%u. Required custom parameter "
        "is empty",
        "vantrel::CBoschPTZHandler::GetXMLStorageFileName", device.address.c_str(), device.port);
    return {};
  }
  return MakePresetFileName(maker_, text);
}

std::unique_ptr<CBasePTZControl> CBoschPTZHandler::CreatePTZControl(uint32_t channel, bool usePresetStore) {
  return std::make_unique<CBoschPTZControl>(driver_, channel, usePresetStore);
}

}  // namespace vantrel
