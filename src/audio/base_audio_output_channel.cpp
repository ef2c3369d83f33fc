#include "audio/base_audio_output_channel.h"

#include <new>

#include "core/driver_services.h"
#include "vantrel/ipcapture/audio_types.h"
#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {

CAudioDataItem::~CAudioDataItem() {
  if (frame_ && allocator_) allocator_->Release(frame_);
}

CBaseAudioOutputChannel::CBaseAudioOutputChannel(uint32_t hostChannelIndex, IDriver* driver, uint32_t channel,
                                                 ipcapture::IIPAudioStatusCallback* callback,
                                                 ipcapture::IIPAudioFormatList* formats)
    : CQueueThread<CAudioItem>(driver),
      hostChannelIndex_(hostChannelIndex),
      driver_(driver),
      channel_(channel),
      callback_(callback),
      formats_(formats) {}

CBaseAudioOutputChannel::~CBaseAudioOutputChannel() {
  // Reached from the tear-down queue too, after a Stop that could not wait: the thread may still
  // be on its way out, and nothing it uses may go before it has.
  GetStopEvent().Set();
  JoinThread(kStopWaitMs);
}

bool CBaseAudioOutputChannel::ChangeStatus(std::initializer_list<uint32_t> from, uint32_t to) {
  {
    CScopedLock guard(statusLock_);
    bool allowed = false;
    for (uint32_t s : from) allowed |= s == status_;
    if (!allowed || status_ == to) return false;
    status_ = to;
  }
  // Outside the lock: the host may ask for the status, or close the channel, from its callback.
  if (callback_) {
    CCallbackGate::Scope scope(gate_);
    if (scope) {
      try {
        callback_->OnChannelStatus(hostChannelIndex_, to);
      } catch (...) {
      }
    }
  }
  return true;
}

uint32_t CBaseAudioOutputChannel::GetStatus() {
  CScopedLock guard(statusLock_);
  return status_;
}

void CBaseAudioOutputChannel::ThreadProc() {
  CQueueThread<CAudioItem>::ThreadProc();
  exited_.Set();
}

bool CBaseAudioOutputChannel::Start() {
  exited_.Reset();
  gate_.Open();
  if (!StartQueueThread("Base Audio Output Channel")) {
    exited_.Set();
    return false;
  }
  if (ChangeStatus({kAudioStopped, kAudioSignalLost}, kAudioConnecting)) PostItem(new CAudioItem(), 0);
  return true;
}

bool CBaseAudioOutputChannel::WaitForExit(uint32_t timeoutMs) {
  for (uint32_t waited = 0; waited < timeoutMs; waited += kAbortRepeatMs) {
    if (exited_.Wait(kAbortRepeatMs)) return true;
    AbortCamera();
  }
  return exited_.Wait(0);
}

bool CBaseAudioOutputChannel::Stop() {
  GetStopEvent().Set();
  ClearQueue();
  AbortCamera();
  // From inside the channel's own status callback (on its thread) the thread cannot be waited
  // for, and a report of "stopping" would re-enter the host's callback while it runs: the gate
  // closes for later reports only, and the owner finishes the tear-down elsewhere.
  const bool inside = IsCurrentThread() || gate_.IsInsideCallback();
  if (inside) {
    {
      CScopedLock guard(statusLock_);
      if (status_ == kAudioConnecting || status_ == kAudioRunning || status_ == kAudioSignalLost)
        status_ = kAudioStopping;
    }
    gate_.Close();
    return false;
  }
  ChangeStatus({kAudioConnecting, kAudioRunning, kAudioSignalLost}, kAudioStopping);
  const bool ended = !IsRunning() || WaitForExit(kStopWaitMs);
  if (ended) {
    // Only the last steps of the thread's exit remain.
    JoinThread(kStopWaitMs);
    DisconnectStreamer();
    ChangeStatus({kAudioStopping, kAudioError}, kAudioStopped);
  } else if (driver_) {
    driver_->Log(kLogWarning,
                 "%s: the audio output thread for %s did not end within %u ms; it is left to end",
                 "vantrel::CBaseAudioOutputChannel::Stop", driver_->GetDeviceAddress().c_str(),
                 static_cast<unsigned>(kStopWaitMs));
  }
  // A report already running on the channel thread is the host's own time: waited out.
  gate_.Close();
  return ended;
}

bool CBaseAudioOutputChannel::SendAudio(ipcapture::IIPAudioFrame* frame) {
  if (IsStopRequested() || !frame || !gate_.IsOpen()) return false;
  ipcapture::IIPFrameAllocator* allocator = driver_ ? driver_->GetFrameAllocator() : nullptr;
  if (!allocator) return false;
  if (frame->GetData() == nullptr || frame->GetDataSize() == 0) return false;
  if (!FrameMatchesFormat(frame)) return false;
  // A slow camera never builds up more than one waiting frame. A post refused because the
  // channel began stopping meanwhile has already handed the frame back to the allocator: the
  // frame is no longer the host's, so the answer must say it was taken.
  auto* item = new (std::nothrow) CAudioDataItem(frame, allocator);
  if (!item) return false;
  PostItem(item, 1);
  return true;
}

void CBaseAudioOutputChannel::QueueRefresh() {
  if (CanConnect()) PostItem(new CAudioRefreshItem(), 0);
}

void CBaseAudioOutputChannel::ProcessItem(CAudioItem* item) {
  if (IsStopRequested()) return;
  switch (item->GetType()) {
    case CAudioItem::kConnect:
      Connect();
      break;
    case CAudioItem::kData:
      SendData(static_cast<CAudioDataItem*>(item)->GetFrame());
      break;
    case CAudioItem::kRefresh:
      Refresh();
      break;
  }
}

void CBaseAudioOutputChannel::Connect() {
  const uint32_t count = formats_ ? formats_->GetCount() : 0;
  for (uint32_t i = 0; i < count; ++i) {
    ipcapture::IIPAudioFormatEntry* entry = formats_->GetEntry(i);
    if (!entry || !IsEntryUsable(entry)) continue;
    if (IsStopRequested()) return;
    if (EnableAudio()) {
      ChangeStatus({kAudioConnecting}, kAudioRunning);
    } else {
      ChangeStatus({kAudioConnecting, kAudioRunning}, kAudioSignalLost);
      QueueRefresh();
    }
    return;
  }
  if (driver_)
    driver_->Log(kLogError, "%s: no common audio format with the host for the output of %s",
                 "vantrel::CBaseAudioOutputChannel::ProcessItem", driver_->GetDeviceAddress().c_str());
  ChangeStatus({kAudioConnecting, kAudioRunning, kAudioStopping}, kAudioError);
}

void CBaseAudioOutputChannel::SendData(ipcapture::IIPAudioFrame* frame) {
  const uint32_t status = GetStatus();
  if (status == kAudioRunning) {
    if (!SendFrame(frame)) {
      ChangeStatus({kAudioConnecting, kAudioRunning}, kAudioSignalLost);
      QueueRefresh();
    }
  } else if (status == kAudioSignalLost && CanConnect()) {
    ChangeStatus({kAudioStopped, kAudioSignalLost}, kAudioConnecting);
    if (EnableAudio() && SendFrame(frame) && !IsStopRequested()) {
      ChangeStatus({kAudioConnecting}, kAudioRunning);
    } else {
      ChangeStatus({kAudioConnecting, kAudioRunning}, kAudioSignalLost);
      QueueRefresh();
    }
  }
}

void CBaseAudioOutputChannel::Refresh() {
  if (GetStatus() != kAudioSignalLost || !CanConnect()) return;
  if (GetStopEvent().Wait(kReconnectDelayMs)) return;
  ChangeStatus({kAudioStopped, kAudioSignalLost}, kAudioConnecting);
  if (EnableAudio()) {
    ChangeStatus({kAudioConnecting}, kAudioRunning);
  } else {
    ChangeStatus({kAudioConnecting, kAudioRunning}, kAudioSignalLost);
    QueueRefresh();
  }
}

}  // namespace vantrel
