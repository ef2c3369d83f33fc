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

void CBasePTZComm::Close() {
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

std::unique_ptr<CPTZCommandIf> CBoschPTZComm::NewBuilder() const {
  return CreatePTZCommand(protocol_, channel_);
}

uint16_t CBoschPTZComm::PresetNumber(uint32_t index) const {
  uint16_t first = 0, last = 0;
  if (std::unique_ptr<CPTZCommandIf> builder = NewBuilder()) builder->GetPresetRange(first, last);
  return static_cast<uint16_t>(std::min<uint32_t>(index + first, 0xFFFF));
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
  std::vector<uint8_t> bytes = builder.GetBytes();
  CResultDef result;
  {
    CScopedLock guard(sendLock_);
    if (protocol_ == kPTZProtocolBiCom) {
      result = rcp_.SetRcpOctets(kRcpHeadData, bytes, cameraLine_);
    } else {
      bytes.insert(bytes.begin(), 4, 0);
      result = rcp_.SetRcpOctets(kRcpPtzData, bytes, 1);
    }
  }
  if (!result.IsSuccess() && result.severity != CResultDef::kSeverityNotSent)
    driver_->Log(result.severity, "%s", result.message.c_str());
  return result.IsSuccess();
}

void CBoschPTZComm::CheckHeadType() {
  if (protocol_ != kPTZProtocolOSRD || headChecked_) return;
  CScopedLock guard(sendLock_);
  uint32_t value = 0;
  const bool read = rcp_.GetRcpPtzOctet(value);
  if (read && value == kOsrdHeadType) {
    headChecked_ = true;
    return;
  }
  const CResultDef result = rcp_.SetRcpOctet(kRcpPtzOctet, kOsrdHeadType, 1);
  if (result.IsSuccess()) {
    headChecked_ = true;
  } else if (result.severity != CResultDef::kSeverityNotSent) {
    driver_->Log(result.severity, "%s", result.message.c_str());
  }
}

bool CBoschPTZComm::SetManualFocus(IIPParams* params, bool manual) {
  if (!params) {
    driver_->Log(kLogError, "%s: Invalid pointer to IIPParams instance!",
                 "vantrel::CBoschPTZComm::SetManualFocus");
    return false;
  }
  if (params->IsManualFocus() == manual) return true;
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder || !builder->SupportsFocusMode()) return true;
  builder->SetAutoFocusMode(manual ? 2 : 1);
  if (!SendFrame(*builder)) return false;
  params->SetManualFocus(manual);
  return true;
}

bool CBoschPTZComm::SetManualIris(IIPParams* params, bool manual) {
  if (!params) {
    driver_->Log(kLogError, "%s: Invalid pointer to IIPParams instance!",
                 "vantrel::CBoschPTZComm::SetManualIris");
    return false;
  }
  if (params->IsManualIris() == manual) return true;
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder || !builder->SupportsIrisMode()) return true;
  builder->SetAutoIrisMode(manual ? 2 : 1);
  if (!SendFrame(*builder)) return false;
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
  for (int i = 0; i < repeats; ++i) SendFrame(*builder);
}

bool CBoschPTZComm::StorePreset(uint32_t index) {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return false;
  builder->StorePreset(PresetNumber(index));
  bool result = SendFrame(*builder);
  if (result && protocol_ == kPTZProtocolOSRD) {
    Sleep(kOsrdStoreSettleMs);
    // OSRD heads get an idle lens command and a stop once they have settled after a store.
    builder->Reset();
    builder->Iris(true, 0);
    if (SendFrame(*builder)) {
      builder->Reset();
      builder->Stop(0);
      result = SendFrame(*builder);
    }
  }
  return result;
}

bool CBoschPTZComm::GoToPreset(uint32_t index, int32_t) {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return false;
  builder->GoToPreset(PresetNumber(index));
  return SendFrame(*builder);
}

bool CBoschPTZComm::ClearPreset(uint32_t index) {
  std::unique_ptr<CPTZCommandIf> builder = NewBuilder();
  if (!builder) return false;
  if (!builder->SupportsClearPreset()) return true;
  builder->ClearPreset(PresetNumber(index));
  return SendFrame(*builder);
}

}  // namespace vantrel
