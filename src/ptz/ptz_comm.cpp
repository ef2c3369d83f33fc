#include "ptz/ptz_comm.h"

#include <windows.h>

#include <algorithm>

#include "foundation/text_format.h"
#include "vantrel/ipcapture/ptz_driver.h"

namespace vantrel {

namespace {
constexpr uint16_t kRcpPtzOctet = 0x01F1;
constexpr uint16_t kRcpHeadData = 0x09A5;
constexpr uint16_t kRcpPtzData = 0xFFDD;
// Value of 0x01F1 that lets OSRD frames through to the head.
constexpr uint8_t kOsrdHeadType = 0xFF;
// Pelco-D heads on a shared bus may miss a single stop; they must never keep turning.
constexpr int kPelcoStopRepeats = 4;
// How long an OSRD head is given to settle after a store.
constexpr DWORD kOsrdStoreSettleMs = 333;
constexpr DWORD kThreadEndPollMs = 10;
}  // namespace

// ---- CBasePTZComm ----------------------------------------------------------------------------

CBasePTZComm::CBasePTZComm(IDriver* driver, uint32_t channel)
    : CQueueThread<CPTZItem>(driver), driver_(driver), channel_(static_cast<uint16_t>(channel)) {}

CBasePTZComm::~CBasePTZComm() { Close(); }

bool CBasePTZComm::Open() {
  started_ = StartQueueThread(FormatText("BaseIPPTZThread_Ch%u", static_cast<unsigned>(channel_) + 1));
  if (!started_) {
    driver_->Log(kLogError, "%s: unable to start thread for PTZ channel %u", "vantrel::CBasePTZComm::Open",
                 static_cast<unsigned>(channel_));
  }
  return started_;
}

void CBasePTZComm::BeginClose() {
  // The stop event first: the thread checks it before every frame, and the abort then ends the
  // one in flight, so no frame at all leaves after this call.
  GetStopEvent().Set();
  ClearQueue();
  AbortRequests();
  DWORD none = 0;
  closeStarted_.compare_exchange_strong(none, GetTickCount() | 1);
}

bool CBasePTZComm::WaitForThreadEnd(uint32_t timeoutMs) {
  // Counted from the abort, so that channels aborted together are waited for together.
  const DWORD start = closeStarted_.load() ? closeStarted_.load() : GetTickCount();
  while (IsRunning()) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(kThreadEndPollMs);
  }
  return true;
}

void CBasePTZComm::Close() {
  BeginClose();
  StopQueueThread(kStopTimeoutMs);
  started_ = false;
}

bool CBasePTZComm::Post(const char* method, CPTZItem* item) {
  const uint32_t kind = item->kind;
  if (PostItem(item, kQueueLimit)) return true;
  driver_->Log(kLogError, "%s: cannot send message (%d) to thread", method, static_cast<int>(kind));
  return false;
}

bool CBasePTZComm::PostMove(IIPParams* params, uint32_t direction, uint32_t speed) {
  return Post("vantrel::CBasePTZComm::PostMove", new CPTZItem(kPTZItemMove, 0, params, speed, direction));
}

bool CBasePTZComm::PostFocus(IIPParams* params, uint32_t subKind, uint32_t speed) {
  return Post("vantrel::CBasePTZComm::PostFocus", new CPTZItem(kPTZItemFocus, subKind, params, speed));
}

bool CBasePTZComm::PostIris(IIPParams* params, uint32_t subKind, uint32_t speed) {
  return Post("vantrel::CBasePTZComm::PostIris", new CPTZItem(kPTZItemIris, subKind, params, speed));
}

bool CBasePTZComm::PostStop(IIPParams* params, uint32_t subKind) {
  if (subKind == kPTZStopMovement) ClearQueue();
  return Post("vantrel::CBasePTZComm::PostStop", new CPTZItem(kPTZItemStop, subKind, params));
}

bool CBasePTZComm::PostAreaZoom(IIPParams* params, int32_t a, int32_t b, int32_t c, int32_t d) {
  return Post("vantrel::CBasePTZComm::PostAreaZoom",
              new CPTZItem(kPTZItemAreaZoom, 0, params, static_cast<uint32_t>(d), static_cast<uint32_t>(a),
                           static_cast<uint32_t>(b), static_cast<uint32_t>(c)));
}

bool CBasePTZComm::PostCenter(IIPParams* params, int32_t x, int32_t y, int32_t z) {
  return Post("vantrel::CBasePTZComm::PostCenter",
              new CPTZItem(kPTZItemCenter, 0, params, static_cast<uint32_t>(z), static_cast<uint32_t>(x),
                           static_cast<uint32_t>(y), 0));
}

bool CBasePTZComm::PostUnzoom(IIPParams* params, int32_t value) {
  return Post("vantrel::CBasePTZComm::PostUnzoom",
              new CPTZItem(kPTZItemUnzoom, 0, params, static_cast<uint32_t>(value)));
}

std::string CBasePTZComm::GetCameraAddress() { return driver_->GetDeviceInfo().address; }

std::string CBasePTZComm::GetHostDirectory() { return driver_->GetHostDirectory(); }

// ---- CBoschPTZComm ---------------------------------------------------------------------------

CBoschPTZComm::CBoschPTZComm(IDriver* driver, uint32_t channel, uint32_t protocol)
    : CBasePTZComm(driver, channel),
      protocol_(protocol),
      rcp_(driver->GetDeviceInfo()),
      cameraLine_(driver->GetCameraLine(channel)) {
  if (std::unique_ptr<CPTZCommandIf> builder = NewBuilder()) {
    uint16_t first = 0, last = 0;
    builder->GetPresetRange(first, last);
    capacity_ = last >= first ? static_cast<uint32_t>(last - first + 1) : 0;
  }
}

// The thread reads this object's members, so it must end before they go.
CBoschPTZComm::~CBoschPTZComm() { Close(); }

void CBoschPTZComm::AbortRequests() {
  rcp_.Abort();
  CScopedLock guard(activeLock_);
  closing_ = true;
  for (CRcpHttp* rcp : active_) rcp->Abort();
}

uint32_t CBoschPTZComm::GetFirstPresetNumber() const {
  uint16_t first = 1, last = 0;
  if (std::unique_ptr<CPTZCommandIf> builder = NewBuilder()) builder->GetPresetRange(first, last);
  return first;
}

std::unique_ptr<CPTZCommandIf> CBoschPTZComm::NewBuilder() const {
  return CreatePTZCommand(protocol_, channel_);
}

std::optional<uint16_t> CBoschPTZComm::PresetNumber(const char* method, uint32_t index) const {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return std::nullopt;
  uint16_t first = 0, last = 0;
  builder->GetPresetRange(first, last);
  // The frame builders would send a stop, cut the number to a byte or clamp it: the head would
  // do something else than what the host asked for.
  if (index > static_cast<uint32_t>(last - first)) {
    driver_->Log(kLogError,
                 "%s: Preset %u is outside the presets %u to %u of the PTZ protocol; nothing was sent",
                 method, index + first, static_cast<unsigned>(first), static_cast<unsigned>(last));
    return std::nullopt;
  }
  return static_cast<uint16_t>(index + first);
}

uint8_t CBoschPTZComm::ConvertSpeed(uint32_t speed, bool lens) {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return 0;
  const PTZSpeedRanges ranges = builder->GetSpeedRanges();
  if (lens) {
    converter_.SetTargetRange(ranges.lensMin, ranges.lensMax);
  } else {
    converter_.SetTargetRange(ranges.panTiltMin, ranges.panTiltMax);
  }
  return static_cast<uint8_t>(converter_.Convert(speed));
}

bool CBoschPTZComm::SendFrame(const CPTZCommandIf& builder) {
  if (IsStopRequested()) return false;
  return SendFrameOn(rcp_, builder);
}

bool CBoschPTZComm::SendFrameOn(CRcpHttp& rcp, const CPTZCommandIf& builder) {
  std::vector<uint8_t> bytes = builder.GetBytes();
  CResultDef result;
  if (protocol_ == kPTZProtocolBiCom) {
    result = rcp.SetRcpOctets(kRcpHeadData, bytes, cameraLine_);
  } else {
    bytes.insert(bytes.begin(), 4, 0);
    result = rcp.SetRcpOctets(kRcpPtzData, bytes, 1);
  }
  if (!result.IsSuccess() && result.severity != CResultDef::kSeverityNotSent && !rcp.IsAborted())
    driver_->Log(result.severity, "%s", result.message.c_str());
  return result.IsSuccess();
}

void CBoschPTZComm::CheckHeadType() {
  if (protocol_ != kPTZProtocolOSRD || headChecked_ || IsStopRequested()) return;
  uint32_t value = 0;
  const bool read = rcp_.GetRcpPtzOctet(value);
  if (read && value == kOsrdHeadType) {
    headChecked_ = true;
    return;
  }
  const CResultDef result = rcp_.SetRcpOctet(kRcpPtzOctet, kOsrdHeadType, 1);
  if (result.IsSuccess()) {
    headChecked_ = true;
  } else if (result.severity != CResultDef::kSeverityNotSent && !rcp_.IsAborted()) {
    driver_->Log(result.severity, "%s", result.message.c_str());
  }
}

bool CBoschPTZComm::SetManualFocus(IIPParams* params, bool manual) {
  if (!params) {
    driver_->Log(kLogError, "%s: Invalid pointer to IIPParams instance!",
                 "vantrel::CBoschPTZComm::SetManualFocus");
    return false;
  }
  // After a stop the control may be gone (its Close does not wait out a request the abort
  // could not end), so the stop event is checked before every use of `params`.
  if (IsStopRequested()) return false;
  if (params->IsManualFocus() == manual) return true;
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder || !builder->SupportsFocusMode()) return true;
  builder->SetAutoFocusMode(manual ? 2 : 1);
  if (!SendFrame(*builder) || IsStopRequested()) return false;
  params->SetManualFocus(manual);
  return true;
}

bool CBoschPTZComm::SetManualIris(IIPParams* params, bool manual) {
  if (!params) {
    driver_->Log(kLogError, "%s: Invalid pointer to IIPParams instance!",
                 "vantrel::CBoschPTZComm::SetManualIris");
    return false;
  }
  if (IsStopRequested()) return false;
  if (params->IsManualIris() == manual) return true;
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder || !builder->SupportsIrisMode()) return true;
  builder->SetAutoIrisMode(manual ? 2 : 1);
  if (!SendFrame(*builder) || IsStopRequested()) return false;
  params->SetManualIris(manual);
  return true;
}

void CBoschPTZComm::ProcessItem(CPTZItem* item) {
  if (!item) return;
  CheckHeadType();
  if (protocol_ == kPTZProtocolNone) return;
  switch (item->kind) {
    case kPTZItemMove:
      DoMove(*item);
      break;
    case kPTZItemFocus:
      DoFocus(*item);
      break;
    case kPTZItemIris:
      DoIris(*item);
      break;
    case kPTZItemStop:
      DoStop(*item);
      break;
    default:
      // Area zoom, centre and unzoom have no serial frame on these heads.
      break;
  }
}

bool CBoschPTZComm::ZoomStep(CPTZCommandIf& builder, bool tele, uint8_t speed) {
  if (speed != lastZoomSpeed_ && builder.SupportsZoomSpeed()) {
    builder.SetZoomSpeed(speed);
    if (!SendFrame(builder)) return false;
    lastZoomSpeed_ = speed;
  }
  builder.Reset();
  builder.Zoom(tele, speed);
  return SendFrame(builder);
}

void CBoschPTZComm::DoMove(CPTZItem& item) {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return;
  const uint32_t speed = item.data[0];
  const uint32_t direction = item.data[1];
  const bool zoom = direction == kPTZZoomIn || direction == kPTZZoomOut;
  if (!zoom && direction > kPTZDownRight) return;
  const uint8_t converted = ConvertSpeed(speed, false);
  switch (direction) {
    case kPTZLeft:
      builder->Pan(false, converted);
      break;
    case kPTZRight:
      builder->Pan(true, converted);
      break;
    case kPTZUp:
      builder->Tilt(true, converted);
      break;
    case kPTZDown:
      builder->Tilt(false, converted);
      break;
    case kPTZUpLeft:
      builder->Pan(false, converted);
      builder->Tilt(true, converted);
      break;
    case kPTZUpRight:
      builder->Pan(true, converted);
      builder->Tilt(true, converted);
      break;
    case kPTZDownLeft:
      builder->Pan(false, converted);
      builder->Tilt(false, converted);
      break;
    case kPTZDownRight:
      builder->Pan(true, converted);
      builder->Tilt(false, converted);
      break;
    default:
      break;
  }
  bool switched = true;
  if (converted != 0 || zoom) {
    switched = SetManualFocus(item.params, false);
    switched = SetManualIris(item.params, false) && switched;
  }
  if (zoom) {
    ZoomStep(*builder, direction == kPTZZoomIn, ConvertSpeed(speed, true));
    return;
  }
  if (switched) SendFrame(*builder);
}

void CBoschPTZComm::DoFocus(CPTZItem& item) {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return;
  SetManualFocus(item.params, true);
  const uint8_t speed = ConvertSpeed(item.data[0], true);
  if (speed != lastFocusSpeed_ && builder->SupportsFocusSpeed()) {
    builder->SetFocusSpeed(speed);
    if (!SendFrame(*builder)) return;
    lastFocusSpeed_ = speed;
  }
  builder->Reset();
  if (item.subKind == kPTZFocusFar || item.subKind == kPTZFocusNear) {
    builder->Focus(item.subKind == kPTZFocusFar, speed);
    SendFrame(*builder);
  }
}

void CBoschPTZComm::DoIris(CPTZItem& item) {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return;
  const uint8_t speed = ConvertSpeed(item.data[0], true);
  if (speed == 0) return;
  SetManualIris(item.params, true);
  builder->Iris(item.subKind == kPTZIrisOpen, speed);
  SendFrame(*builder);
}

void CBoschPTZComm::DoStop(CPTZItem& item) {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return;
  uint32_t kind;
  switch (item.subKind) {
    case kPTZStopMovement:
      kind = 0;
      break;
    case kPTZStopFocus:
      kind = 1;
      break;
    case kPTZStopIris:
      kind = 2;
      break;
    default:
      return;
  }
  builder->Stop(kind);
  const int repeats = protocol_ == kPTZProtocolPelcoD ? kPelcoStopRepeats : 1;
  // A stop that does not get through (the camera vanished) is not tried three more times.
  for (int i = 0; i < repeats; ++i)
    if (!SendFrame(*builder)) break;
}

bool CBoschPTZComm::SendPresetCommand(const char* method, uint32_t index,
                                      void (CPTZCommandIf::*build)(uint16_t)) {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return false;
  const std::optional<uint16_t> number = PresetNumber(method, index);
  if (!number) return false;
  ((*builder).*build)(*number);
  CRcpHttp rcp(driver_->GetDeviceInfo());
  {
    CScopedLock guard(activeLock_);
    if (closing_) return false;
    active_.insert(&rcp);
  }
  bool result = SendFrameOn(rcp, *builder);
  if (result && protocol_ == kPTZProtocolOSRD && build == &CPTZCommandIf::StorePreset) {
    // OSRD heads get an idle lens command and a stop once they have settled after a store.
    if (!GetStopEvent().Wait(kOsrdStoreSettleMs)) {
      builder->Reset();
      builder->Iris(true, 0);
      if (SendFrameOn(rcp, *builder)) {
        builder->Reset();
        builder->Stop(0);
        result = SendFrameOn(rcp, *builder);
      }
    }
  }
  CScopedLock guard(activeLock_);
  active_.erase(&rcp);
  return result;
}

bool CBoschPTZComm::StorePreset(uint32_t index) {
  return SendPresetCommand("vantrel::CBoschPTZComm::StorePreset", index, &CPTZCommandIf::StorePreset);
}

bool CBoschPTZComm::GoToPreset(uint32_t index, int32_t) {
  return SendPresetCommand("vantrel::CBoschPTZComm::GoToPreset", index, &CPTZCommandIf::GoToPreset);
}

bool CBoschPTZComm::ClearPreset(uint32_t index) {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return false;
  if (!builder->SupportsClearPreset()) return true;
  return SendPresetCommand("vantrel::CBoschPTZComm::ClearPreset", index, &CPTZCommandIf::ClearPreset);
}

}  // namespace vantrel
