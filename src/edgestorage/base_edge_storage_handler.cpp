#include "edgestorage/base_edge_storage_handler.h"

#include <algorithm>
#include <new>

#include "core/driver_services.h"
#include "edgestorage/edge_storage_task.h"
#include "foundation/time_value.h"
#include "vantrel/ipcapture/host_objects.h"
#include "vantrel/ipcapture/video_capture.h"

namespace vantrel {

namespace {
constexpr char kClass[] = "vantrel::CBaseEdgeStorageHandler";
constexpr char kProcessItem[] = "vantrel::CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem";
}  // namespace

CBaseEdgeStorageHandler::CBaseEdgeStorageHandler(IDriver* driver, uint32_t queueLimit)
    : CBaseThread(driver), driver_(driver), queueLimit_(queueLimit), queue_(this, driver) {}

CBaseEdgeStorageHandler::~CBaseEdgeStorageHandler() {
  StopEdgeStorageThreads();
  // The task hands replayed frames to our channel callbacks; it must stop asking us for them.
  if (driver_) {
    if (CEdgeStorageTask* task = driver_->GetEdgeStorageTask()) task->ReleaseHandler(this);
  }
}

IEdgeStorageTask* CBaseEdgeStorageHandler::GetTask() {
  return driver_ ? driver_->GetEdgeStorageTask() : nullptr;
}

uint64_t CBaseEdgeStorageHandler::Now() { return GetCurrentFileTime(); }

void CBaseEdgeStorageHandler::RegisterChannel(IEdgeMonitorChannel* channel) {
  if (!channel) return;
  ipcapture::IIPVideoCallback* callback = channel->GetCallback();
  if (!callback) return;
  const uint32_t number = channel->GetChannel();
  bool startThreads = false;
  {
    CScopedLock guard(tableLock_);
    auto it = channels_.find(number);
    if (it == channels_.end()) {
      channels_[number] = ChannelEntry{callback, 1, 0, 0, 0, std::make_shared<CCallbackGate>()};
      // The item of a channel restarted during its replay goes on with the channel.
      if (IEdgeStorageTask* task = GetTask()) task->ResumeChannel(number);
      std::vector<PendingItem> resumed;
      {
        CScopedLock pendingGuard(pendingLock_);
        auto keep = std::stable_partition(pending_.begin(), pending_.end(),
                                          [number](const PendingItem& p) { return p.channel != number; });
        resumed.assign(keep, pending_.end());
        pending_.erase(keep, pending_.end());
      }
      for (const PendingItem& p : resumed) QueueItem(p.channel, p.begin, p.end);
      startThreads = true;
    } else {
      // The newest registration of a channel number is the stream the host now watches.
      it->second.callback = callback;
      ++it->second.count;
    }
  }
  // Outside the table lock: a failed start stops the threads again, and they take that lock.
  if (startThreads) StartEdgeStorageThreads();
  channel->SetEdgeMonitor(this);
}

void CBaseEdgeStorageHandler::UnregisterChannel(IEdgeMonitorChannel* channel) {
  if (!channel) return;
  const uint32_t number = channel->GetChannel();
  std::shared_ptr<CCallbackGate> gate;
  {
    CScopedLock guard(tableLock_);
    channel->SetEdgeMonitor(nullptr);
    auto it = channels_.find(number);
    if (it == channels_.end()) return;
    if (--it->second.count != 0) return;
    if (IEdgeStorageTask* task = GetTask()) task->AbandonChannel(number);
    recheckEvent_.Set();
    ++stopCounts_[number];
    gate = std::move(it->second.gate);
    channels_.erase(it);
  }
  // The host frees the callback once StopChannel returns: a replayed frame being delivered to
  // it is waited out here, outside the table lock. From inside that very callback the wait
  // is skipped (the delivery is further up this stack); the gate stays closed either way.
  if (gate) gate->Close();
}

bool CBaseEdgeStorageHandler::DeliverReplayedFrame(uint32_t channel, ipcapture::IIPFrame* frame) {
  ipcapture::IIPVideoCallback* callback = nullptr;
  std::shared_ptr<CCallbackGate> gate;
  {
    CScopedLock guard(tableLock_);
    auto it = channels_.find(channel);
    if (it == channels_.end()) return false;
    callback = it->second.callback;
    gate = it->second.gate;
  }
  if (!callback || !gate || !frame) return false;
  CCallbackGate::Scope scope(*gate);
  if (!scope) return false;
  return callback->OnFrame(frame);
}

uint32_t CBaseEdgeStorageHandler::GetStopCount(uint32_t channel) {
  CScopedLock guard(tableLock_);
  auto it = stopCounts_.find(channel);
  return it == stopCounts_.end() ? 0 : it->second;
}

ipcapture::IIPVideoCallback* CBaseEdgeStorageHandler::GetChannelCallback(uint32_t channel) {
  CScopedLock guard(tableLock_);
  auto it = channels_.find(channel);
  return it == channels_.end() ? nullptr : it->second.callback;
}

bool CBaseEdgeStorageHandler::IsRegistered(uint32_t channel) {
  CScopedLock guard(tableLock_);
  return channels_.count(channel) != 0;
}

uint32_t CBaseEdgeStorageHandler::GetRegistrationCount(uint32_t channel) {
  CScopedLock guard(tableLock_);
  auto it = channels_.find(channel);
  return it == channels_.end() ? 0 : it->second.count;
}

size_t CBaseEdgeStorageHandler::GetPendingCount() {
  CScopedLock guard(pendingLock_);
  return pending_.size();
}

void CBaseEdgeStorageHandler::OnFrameSeen(uint32_t channel, uint64_t time, uint64_t cameraTime) {
  {
    CScopedLock guard(tableLock_);
    auto it = channels_.find(channel);
    if (it != channels_.end() && time > it->second.lastAlive) {
      {
        CScopedLock reconnectGuard(reconnectLock_);
        if (reconnectTime_ == 0) reconnectTime_ = time;
      }
      const uint64_t mark = cameraTime != 0 ? cameraTime : time;
      if (it->second.reconnectMark == 0) it->second.reconnectMark = mark;
      it->second.lastAlive = time;
      it->second.lastMark = mark;
      aliveEvent_.Set();
    }
  }
  {
    CScopedLock guard(syncLock_);
    if (timeSynchronised_) return;
    // This runs on a live frame thread: a camera that refuses its clock must not cost every
    // frame a camera request.
    const uint64_t now = Now();
    if (lastSyncAttempt_ != 0 && now >= lastSyncAttempt_ &&
        now - lastSyncAttempt_ < uint64_t{kTimeSyncRetryMs} * kFileTimeTicksPerMs)
      return;
    lastSyncAttempt_ = now;
  }
  // The request waits on the camera for up to the device time-out: never on a frame thread.
  syncEvent_.Set();
}

void CBaseEdgeStorageHandler::SynchroniseClock() {
  IEdgeStorageTask* task = GetTask();
  if (!task || !task->SyncronizeTime()) return;
  CScopedLock guard(syncLock_);
  timeSynchronised_ = true;
}

void CBaseEdgeStorageHandler::OnSignalLost(uint32_t /*channel*/) { wakeEvent_.Set(); }

std::map<uint32_t, CBaseEdgeStorageHandler::AliveSnapshot> CBaseEdgeStorageHandler::SnapshotAliveTimes() {
  std::map<uint32_t, AliveSnapshot> snapshot;
  CScopedLock guard(tableLock_);
  for (const auto& [number, entry] : channels_)
    if (entry.lastAlive != 0) snapshot[number] = {entry.lastAlive, entry.lastMark};
  return snapshot;
}

uint64_t CBaseEdgeStorageHandler::ReconnectMark(uint32_t channel, uint64_t fallback) {
  CScopedLock guard(tableLock_);
  auto it = channels_.find(channel);
  return it != channels_.end() && it->second.reconnectMark != 0 ? it->second.reconnectMark : fallback;
}

bool CBaseEdgeStorageHandler::QueueItem(uint32_t channel, uint64_t begin, uint64_t end) {
  if (begin == 0 || begin >= end) return false;
  auto* item = new (std::nothrow) CEdgeStorageTaskItem;
  if (!item) return false;
  item->channel = channel;
  item->begin = begin;
  item->end = end;
  return queue_.PostItem(item, queueLimit_);
}

void CBaseEdgeStorageHandler::ThreadProc() {
  std::map<uint32_t, AliveSnapshot> snapshot;
  for (;;) {
    for (;;) {
      CEvent* events[] = {&GetStopEvent(), &aliveEvent_, &syncEvent_};
      const int r = CEvent::WaitForEvents(events, 3, 0xFFFFFFFFu);
      if (r == 2) {
        SynchroniseClock();
        continue;
      }
      if (r != 1) return;
      break;
    }
    uint64_t end = 0;
    {
      CScopedLock guard(reconnectLock_);
      end = reconnectTime_;
    }
    if (end == 0) end = Now();
    for (const auto& [number, last] : snapshot) {
      // A channel that has not reported yet ends its gap where the first one did.
      const uint64_t edge = ReconnectMark(number, end);
      if (last.mark != 0 && last.mark < edge) QueueItem(number, last.mark, edge);
    }
    snapshot.clear();

    wakeEvent_.Reset();
    const uint32_t timeout = driver_ ? driver_->GetDeviceInfo().signalTimeout : 10000;
    for (;;) {
      CEvent* events[] = {&GetStopEvent(), &wakeEvent_, &syncEvent_};
      // -1 is the time-out: the silence is measured then, as after a wake-up.
      const int r = CEvent::WaitForEvents(events, 3, timeout);
      if (r == 0) return;
      if (r == 2) SynchroniseClock();
      snapshot = SnapshotAliveTimes();
      uint64_t newest = 0;
      for (const auto& entry : snapshot) newest = std::max(newest, entry.second.alive);
      const uint64_t now = Now();
      if (newest != 0 && now > newest && now - newest > uint64_t{timeout} * kFileTimeTicksPerMs) break;
      snapshot.clear();
    }
    {
      CScopedLock guard(tableLock_);
      for (auto& [number, entry] : channels_) entry.reconnectMark = 0;
    }
    {
      CScopedLock guard(reconnectLock_);
      reconnectTime_ = 0;
    }
    aliveEvent_.Reset();
  }
}

bool CBaseEdgeStorageHandler::StartEdgeStorageThreads() {
  CScopedLock guard(threadsLock_);
  if (IsRunning()) return true;
  const std::string address = driver_ ? driver_->GetDeviceAddress() : std::string();
  if (queue_.StartQueueThread("Edge Storage: Video receiving thread - " + address) &&
      StartThread("Edge Storage: Monitor thread - " + address))
    return true;
  if (driver_)
    driver_->Log(kLogError, "%s: Unable to start Edge Storage threads for device %s",
                 "vantrel::CBaseEdgeStorageHandler::StartEdgeStorageThreads", address.c_str());
  StopEdgeStorageThreads();
  return false;
}

void CBaseEdgeStorageHandler::StopEdgeStorageThreads() {
  CScopedLock guard(threadsLock_);
  GetStopEvent().Set();
  if (IEdgeStorageTask* task = GetTask()) task->Stop();
  const uint32_t timeout = driver_ ? driver_->GetDeviceInfo().timeout : 5000;
  StopThread(timeout + 1000);
  queue_.StopQueueThread(kQueueStopMs);
}

void CBaseEdgeStorageHandler::LogWorkItem(uint32_t channel, uint64_t begin, uint64_t end, const char* what) {
  if (!driver_) return;
  const std::string address = driver_->GetDeviceAddress();
  driver_->Log(
      kLogInfo,
      "%s: Work Item (address=\"%s\" channel=\"%u\" begin_time=\"%s\" end_time=\"%s\") - Processing %s",
      kClass, address.c_str(), channel, FormatLocalTime(begin).c_str(), FormatLocalTime(end).c_str(), what);
}

void CBaseEdgeStorageHandler::LogDroppedTaskItem(uint32_t channel, uint64_t begin, uint64_t end) {
  if (!driver_) return;
  const std::string address = driver_->GetDeviceAddress();
  driver_->Log(
      kLogWarning,
      "%s: Work Item (address=\"%s\" channel=\"%u\" begin_time=\"%s\" end_time=\"%s\") - Dropped, the "
      "work queue is full (%u items)",
      kClass, address.c_str(), channel, FormatLocalTime(begin).c_str(), FormatLocalTime(end).c_str(),
      queueLimit_);
}

void CBaseEdgeStorageHandler::LogGivenUp(uint32_t channel, uint64_t begin, uint64_t end, uint32_t runs) {
  if (!driver_) return;
  driver_->Log(
      kLogWarning,
      "%s: Recorded interval (start: %s, end: %s), device %s (channel %u) was given up after %u failed "
      "replays",
      kProcessItem, FormatLocalTime(begin).c_str(), FormatLocalTime(end).c_str(),
      driver_->GetDeviceAddress().c_str(), channel, runs);
}

void CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem(uint32_t channel, uint64_t begin, uint64_t end) {
  LogWorkItem(channel, begin, end, "started.");
  IEdgeStorageTask* task = GetTask();
  if (task && begin != 0 && begin < end) {
    task->TakeItem(channel, begin, end);
    const std::string address = driver_ ? driver_->GetDeviceAddress() : std::string();
    uint64_t position = 0;
    uint32_t failedRuns = 0;  // runs the camera answered
    uint32_t retries = 0;     // every failed run: the pause grows with these
    uint32_t pauseMs = 0;
    auto ended = [&] {
      if (driver_)
        driver_->Log(kLogInfo, "%s: Process thread for interval (start: %s, end: %s) was ended, device %s",
                     kProcessItem, FormatLocalTime(begin).c_str(), FormatLocalTime(end).c_str(),
                     address.c_str());
    };
    for (;;) {
      int r = -1;
      if (pauseMs != 0) {
        // After a failed replay: the camera is not asked again before the pause is over, however
        // many live frames come (each sets the alive event).
        CEvent* events[] = {&queue_.GetStopEvent(), &recheckEvent_};
        r = CEvent::WaitForEvents(events, 2, pauseMs);
        if (r == 1) r = 2;  // the channel stopped: check it below
        pauseMs = 0;
      }
      if (r == -1) {
        CEvent* events[] = {&queue_.GetStopEvent(), &aliveEvent_, &recheckEvent_};
        r = CEvent::WaitForEvents(events, 3, kRetryWaitMs);
      }
      if (r == 0) {
        ended();
        break;
      }
      if (r == 1) {
        const uint32_t stops = GetStopCount(channel);
        if (task->ProcessTaskItem(&position)) break;
        if (queue_.GetStopEvent().IsSet()) {
          ended();
          break;
        }
        // A run cut short by the channel's own restart is no failure of the replay.
        if (GetStopCount(channel) == stops) {
          ++retries;
          if (task->LastRunAnswered() && ++failedRuns >= maxFailedRuns_) {
            LogGivenUp(channel, std::max(begin, position), end, failedRuns);
            break;
          }
          pauseMs = firstRetryPauseMs_;
          for (uint32_t i = 1; i < retries && pauseMs < maxRetryPauseMs_; ++i) pauseMs *= 2;
          pauseMs = std::min(pauseMs, maxRetryPauseMs_);
        }
      }
      if (IsRegistered(channel)) continue;
      if (driver_)
        driver_->Log(
            kLogInfo,
            "%s: Unable to process interval (start: %s, end %s), device %s (channel %u) - channel was "
            "stopped. Task will be processed later",
            kProcessItem, FormatLocalTime(begin).c_str(), FormatLocalTime(end).c_str(), address.c_str(),
            channel);
      // What was already replayed stays delivered: the parked item resumes after it.
      const uint64_t resumeAt = std::max(begin, position);
      if (resumeAt < end) {
        CScopedLock guard(pendingLock_);
        pending_.push_back({channel, resumeAt, end});
      }
      break;
    }
  }
  LogWorkItem(channel, begin, end, "finished.");
}

}  // namespace vantrel
