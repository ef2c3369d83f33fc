#include "events/motion_channel.h"

#include "events/motion_state.h"

namespace vantrel {

CMotionChannel::CMotionChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback)
    : CBaseMotionChannel(channel, driver, callback), CLoggerInstance(driver), rcp_(driver->GetDeviceInfo()) {}

CMotionChannel::~CMotionChannel() { Stop(); }

void CMotionChannel::ThreadProc() {
  // An abort is kept until reset; Stop raises the stop event before it aborts, so one raised
  // after this reset still ends the loop below.
  rcp_.ResetAbort();
  while (!IsStopRequested()) {
    try {
      CLoggerInstance::Reset();
      Poll();
      if (GetStopEvent().Wait(kPollIntervalMs)) break;
      CheckMotionTimeout();
    } catch (...) {
      CLoggerInstance::Log(kLogError,
                           "%s(): Unhandled exception during \"Motion detection\" thread processing.",
                           "vantrel::CMotionChannel::ThreadFunction");
    }
  }
}

void CMotionChannel::Poll() {
  // The camera numbers its lines from 1.
  const uint32_t line = GetChannel() + 1;
  while (!IsStopRequested()) {
    const std::vector<uint8_t> reply = rcp_.GetRcpOctets(kMotionCommand, line);
    const std::optional<uint8_t> state = ReadMotionState(reply);
    if (!state) {
      if (pollOK_ && !IsStopRequested())
        driver_->Log(kLogWarning, "%s: Motion state of camera %s (line %u) could not be read",
                     "vantrel::CMotionChannel::Poll", driver_->GetDeviceAddress().c_str(), line);
      pollOK_ = false;
      return;
    }
    pollOK_ = true;
    OnMotionState(*state);
    if (GetStopEvent().Wait(kPollIntervalMs)) return;
  }
}

}  // namespace vantrel
