// The motion channel of this camera family: polls the camera's motion state over RCP+ once a
// second.
#pragma once

#include "control/rcp_http.h"
#include "core/logger_instance.h"
#include "events/base_motion_channel.h"

namespace vantrel {

class CMotionChannel : public CBaseMotionChannel, public CLoggerInstance {
 public:
  static constexpr uint16_t kMotionCommand = 0x0807;

  CMotionChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  ~CMotionChannel() override;

 protected:
  void ThreadProc() override;
  void AbortRequests() override { rcp_.Abort(); }

 private:
  // Reads the state as long as the camera answers; returns when it does not, or on stop.
  void Poll();

  CRcpHttp rcp_;
  // Cleared by a failed read, set by a good one: a camera that stops answering is logged once
  // per run of failures, not once a second.
  bool pollOK_ = true;  // thread only
};

}  // namespace vantrel
