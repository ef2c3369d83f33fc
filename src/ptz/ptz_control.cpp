#include "ptz/ptz_control.h"

#include <cstring>
#include <string>

#include "foundation/teardown_queue.h"

namespace vantrel {

namespace {
// The host parameter that turns off the zoom-related capability bytes when it is 1.
constexpr uint32_t kDewarpParameter = 9;
constexpr uint32_t kProtocolParameter = 4;

int32_t CopyName(const std::optional<std::wstring>& name, wchar_t* buffer, uint32_t size) {
  if (!buffer) return kPTZBadArgument;
  if (!name) return kPTZPresetNotFound;
  if (static_cast<uint64_t>(name->size()) + 1 > size) return kPTZBadArgument;
  std::memcpy(buffer, name->c_str(), (name->size() + 1) * sizeof(wchar_t));
  return kPTZSuccess;
}
}  // namespace

CBasePTZControl::CBasePTZControl(IDriver* driver, uint32_t channel, bool usePresetStore)
    : driver_(driver), channel_(channel), usePresetStore_(usePresetStore), presets_(driver, channel) {}

CBasePTZControl::~CBasePTZControl() { Close(); }

// The handler owns its controls: a host that calls the destructor slot only closes this one.
void* CBasePTZControl::ScalarDeletingDestructor(unsigned int) {
  Close();
  return this;
}

void CBasePTZControl::BeginClose() {
  if (comm_) comm_->BeginClose();
}

void CBasePTZControl::Close() {
  // Abort first: the list's calls into the comm then end at once, and the list waits for them
  // before the comm goes.
  BeginClose();
  presets_.SetComm(nullptr, presetCapacity_);
  std::unique_ptr<CBasePTZComm> comm = std::move(comm_);
  if (!comm) return;
  if (comm->WaitForThreadEnd(CBasePTZComm::kCloseWaitMs)) {
    comm->Close();
    return;
  }
  // A request the abort could not cut short (the platform may only end it at its time-out):
  // the thread sends nothing more and touches nothing of this control, so the comm is left to
  // end on the tear-down queue instead of holding the host.
  driver_->Log(kLogWarning,
               "%s: The PTZ thread of channel %u did not end within %u ms; it is released when the camera's "
               "request ends",
               "vantrel::CBasePTZControl::Close", channel_ + 1, CBasePTZComm::kCloseWaitMs);
  CBasePTZComm* orphan = comm.release();
  CTeardownQueue::Post([orphan] { delete orphan; });
}

bool CBasePTZControl::Open() {
  if (comm_) return true;
  std::unique_ptr<CBasePTZComm> comm = CreateComm();
  if (!comm || !comm->Open()) return false;
  presetCapacity_ = comm->GetPresetCapacity();
  comm_ = std::move(comm);
  presets_.SetComm(comm_.get(), presetCapacity_, comm_->GetFirstPresetNumber());
  return true;
}

bool CBasePTZControl::OpenWithPresets(const TSmartPtr<CXMLPrepositionReader>& store) {
  if (!store) return false;
  if (!Open()) return false;
  presets_.AttachStore(store);
  return true;
}

int32_t CBasePTZControl::IsPTZConfigured() {
  if (!comm_) return kPTZNotOpen;
  // A protocol number without a frame builder sends nothing: the head is not configured.
  return comm_->HasFrameBuilder() ? 1 : 0;
}

int32_t CBasePTZControl::QueueMove(uint32_t direction, uint32_t speed) {
  if (direction >= kPTZNoDirection) return kPTZBadArgument;
  if (!comm_ || !comm_->PostMove(this, direction, speed)) return kPTZNotOpen;
  moving_ = true;
  presets_.ClearCurrentPosition();
  return kPTZSuccess;
}

int32_t CBasePTZControl::StartMove(uint32_t direction, uint32_t speed) {
  if (speed == 0) return Stop();
  return QueueMove(direction, speed);
}

int32_t CBasePTZControl::Stop() {
  if (!comm_) return kPTZNotOpen;
  bool ok = true;
  if (moving_) {
    if (comm_->PostStop(this, kPTZStopMovement)) {
      moving_ = false;
    } else {
      ok = false;
    }
  }
  if (irisChanging_) {
    if (comm_->PostStop(this, kPTZStopIris)) {
      irisChanging_ = false;
    } else {
      ok = false;
    }
  }
  if (focusing_) {
    if (comm_->PostStop(this, kPTZStopFocus)) {
      focusing_ = false;
    } else {
      ok = false;
    }
  }
  return ok ? kPTZSuccess : kPTZNotOpen;
}

int32_t CBasePTZControl::Center(int32_t x, int32_t y, int32_t z) {
  if (!comm_ || !comm_->PostCenter(this, x, y, z)) return kPTZNotOpen;
  presets_.ClearCurrentPosition();
  return kPTZSuccess;
}

int32_t CBasePTZControl::ZoomIn(uint32_t speed) { return StartMove(kPTZZoomIn, speed); }
int32_t CBasePTZControl::ZoomOut(uint32_t speed) { return StartMove(kPTZZoomOut, speed); }

int32_t CBasePTZControl::Unzoom(int32_t value) {
  if (!comm_ || !comm_->PostUnzoom(this, value)) return kPTZNotOpen;
  presets_.ClearCurrentPosition();
  return kPTZSuccess;
}

int32_t CBasePTZControl::AreaZoom(int32_t a, int32_t b, int32_t c, int32_t d) {
  if (!comm_ || !comm_->PostAreaZoom(this, a, b, c, d)) return kPTZNotOpen;
  presets_.ClearCurrentPosition();
  return kPTZSuccess;
}

int32_t CBasePTZControl::QueueLens(bool focus, uint32_t subKind, uint32_t speed) {
  if (!comm_) return kPTZNotOpen;
  const bool queued = focus ? comm_->PostFocus(this, subKind, speed) : comm_->PostIris(this, subKind, speed);
  if (!queued) return kPTZNotOpen;
  (focus ? focusing_ : irisChanging_) = true;
  presets_.ClearCurrentPosition();
  return kPTZSuccess;
}

int32_t CBasePTZControl::FocusNear(uint32_t speed) { return QueueLens(true, kPTZFocusNear, speed); }
int32_t CBasePTZControl::FocusFar(uint32_t speed) { return QueueLens(true, kPTZFocusFar, speed); }
int32_t CBasePTZControl::IrisOpen(uint32_t speed) { return QueueLens(false, kPTZIrisOpen, speed); }
int32_t CBasePTZControl::IrisClose(uint32_t speed) { return QueueLens(false, kPTZIrisClose, speed); }

int32_t CBasePTZControl::GetPTZInfo(PTZInfo* info) {
  if (!info) return kPTZBadArgument;
  std::memset(info, 0, sizeof(*info));
  info->features[0] = info->features[1] = info->features[2] = 1;
  const uint8_t zoomFeatures = driver_->GetParameterInt(kDewarpParameter) == 1 ? 0 : 1;
  info->features[3] = info->features[4] = zoomFeatures;
  info->presetCapacity = presetCapacity_;
  info->presetCount = presets_.GetPrepositionCount();
  return kPTZSuccess;
}

int32_t CBasePTZControl::GetPrepositionCount() {
  return static_cast<int32_t>(presets_.GetPrepositionCount());
}

int32_t CBasePTZControl::GetPrepositionName(uint32_t position, wchar_t* buffer, uint32_t size) {
  if (!buffer) return kPTZBadArgument;
  return CopyName(presets_.GetPrepositionName(position), buffer, size);
}

int32_t CBasePTZControl::GoToPreposition(int32_t value, const wchar_t* name) {
  if (!name) return kPTZBadArgument;
  return presets_.GoToPreposition(name, value) ? kPTZSuccess : kPTZPresetNotFound;
}

int32_t CBasePTZControl::AddPreposition(const wchar_t* name) {
  if (!name) return kPTZBadArgument;
  return presets_.AddPreposition(name);
}

int32_t CBasePTZControl::RemovePreposition(const wchar_t* name) {
  if (!name) return kPTZBadArgument;
  return presets_.RemovePreposition(name);
}

int32_t CBasePTZControl::GetCurrentPreposition(wchar_t* buffer, uint32_t size) {
  return CopyName(presets_.GetCurrentPreposition(), buffer, size);
}

bool CBasePTZControl::SupportsFeature(uint32_t feature) { return feature == 1; }

// ---- CBoschPTZControl ------------------------------------------------------------------------

CBoschPTZControl::CBoschPTZControl(IDriver* driver, uint32_t channel, bool usePresetStore)
    : CBasePTZControl(driver, channel, usePresetStore) {}

std::unique_ptr<CBasePTZComm> CBoschPTZControl::CreateComm() {
  int32_t protocol = driver_->GetParameterInt(kProtocolParameter);
  if (protocol == kParameterMissing) protocol = 0;
  return std::make_unique<CBoschPTZComm>(driver_, channel_, static_cast<uint32_t>(protocol));
}

int32_t CBoschPTZControl::StartMove(uint32_t direction, uint32_t speed) {
  if (speed == 0) {
    if (moving_) lastDirection_ = kPTZNoDirection;
    return Stop();
  }
  const uint32_t delta = lastSpeed_ > speed ? lastSpeed_ - speed : speed - lastSpeed_;
  if (direction == lastDirection_ && delta < 2) return kPTZSuccess;
  lastDirection_ = direction;
  lastSpeed_ = speed;
  return QueueMove(direction, speed);
}

int32_t CBoschPTZControl::Stop() {
  if (moving_) lastDirection_ = kPTZNoDirection;
  return CBasePTZControl::Stop();
}

}  // namespace vantrel
