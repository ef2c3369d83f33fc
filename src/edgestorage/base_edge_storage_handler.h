// Finds the gaps in what the host received from one device and has them replayed from the
// camera's storage. Live channels register and report every frame; when all of them fall
// silent for longer than the signal time-out and then come back, one work item per channel
// covering the silence goes to a queue thread, which runs it through the device's replay task.
//
// Threads: channel threads call the IEdgeStorageCallback operations and (un)register; the
// monitor thread watches for outages and sets the camera's clock (never a frame thread: the
// request may take the device time-out); the queue thread ("Video receiving thread") runs the
// task. Replayed frames reach the host through the channel's callback gate, which the channel's
// last unregistration closes, so no replayed frame is delivered once StopChannel returned.
// The handler must outlive every channel registered with it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "channels/camera_channel.h"
#include "edgestorage/edge_storage_task_item.h"
#include "foundation/base_thread.h"
#include "foundation/callback_gate.h"
#include "foundation/event.h"
#include "foundation/queue_thread.h"
#include "foundation/recursive_lock.h"

namespace vantrel {

class IDriver;
namespace ipcapture {
class IIPFrame;
}  // namespace ipcapture

template <class Owner>
class TEdgeStorageQueueHandler : public CQueueThread<CEdgeStorageTaskItem> {
 public:
  TEdgeStorageQueueHandler(Owner* owner, IDebugMessage* logger)
      : CQueueThread<CEdgeStorageTaskItem>(logger), owner_(owner) {}
  ~TEdgeStorageQueueHandler() override { JoinThread(5000); }

 protected:
  void ProcessItem(CEdgeStorageTaskItem* item) override {
    owner_->ProcessEdgeStorageTaskItem(item->channel, item->begin, item->end);
  }
  void OnItemDropped(CEdgeStorageTaskItem* item) override {
    owner_->LogDroppedTaskItem(item->channel, item->begin, item->end);
  }

 private:
  Owner* const owner_;  // borrowed: the handler that embeds this queue
};

class CBaseEdgeStorageHandler : public CBaseThread, public IEdgeStorageHandler, public IEdgeStorageCallback {
 public:
  static constexpr uint32_t kRetryWaitMs = 10000;
  static constexpr uint32_t kQueueStopMs = 5000;
  // A camera that refuses its clock is asked again at most this often from a frame thread.
  static constexpr uint32_t kTimeSyncRetryMs = 10000;
  // A replay that fails is tried again after a pause that doubles up to the cap; after this
  // many failed runs the gap is given up (logged at warning level with its interval). Runs cut
  // short by the channel's own restart, and runs that got no answer from the camera at all (its
  // network, not its storage), do not count.
  static constexpr uint32_t kMaxFailedRuns = 5;
  static constexpr uint32_t kFirstRetryPauseMs = 1000;
  static constexpr uint32_t kMaxRetryPauseMs = 20000;

  // `driver` is borrowed and outlives the handler; at most `queueLimit` gaps wait at once.
  CBaseEdgeStorageHandler(IDriver* driver, uint32_t queueLimit);
  ~CBaseEdgeStorageHandler() override;

  // IEdgeStorageHandler
  void RegisterChannel(IEdgeMonitorChannel* channel) override;
  void UnregisterChannel(IEdgeMonitorChannel* channel) override;
  ipcapture::IIPVideoCallback* GetChannelCallback(uint32_t channel) override;

  // Hands a replayed frame to the channel's host callback inside the channel's gate; false when
  // the channel is not registered, its gate is closed or the host refused the frame.
  bool DeliverReplayedFrame(uint32_t channel, ipcapture::IIPFrame* frame);

  // IEdgeStorageCallback
  void OnFrameSeen(uint32_t channel, uint64_t time, uint64_t cameraTime) override;
  void OnSignalLost(uint32_t channel) override;
  void OnNewestFrameTime(uint32_t, uint64_t) override {}
  void OnDataSignalLost(uint32_t) override {}

  bool StartEdgeStorageThreads();
  void StopEdgeStorageThreads();

  // On the queue thread.
  void ProcessEdgeStorageTaskItem(uint32_t channel, uint64_t begin, uint64_t end);

  // A gap pushed out of the full queue is lost for good: the integrator must be able to see it.
  void LogDroppedTaskItem(uint32_t channel, uint64_t begin, uint64_t end);

  // Introspection for the owner's tests.
  size_t GetQueuedCount() { return queue_.GetQueuedCount(); }
  size_t GetPendingCount();
  uint32_t GetRegistrationCount(uint32_t channel);
  // Tests shorten the retry schedule.
  void SetRetryPolicy(uint32_t maxFailedRuns, uint32_t firstPauseMs, uint32_t maxPauseMs) {
    maxFailedRuns_ = maxFailedRuns;
    firstRetryPauseMs_ = firstPauseMs;
    maxRetryPauseMs_ = maxPauseMs;
  }

 protected:
  void ThreadProc() override;
  // The device's replay task; null when the driver has none.
  virtual IEdgeStorageTask* GetTask();
  // Adds a gap to the queue (oldest gaps give way beyond the limit); false when not queued.
  bool QueueItem(uint32_t channel, uint64_t begin, uint64_t end);
  virtual uint64_t Now();

 private:
  struct ChannelEntry {
    ipcapture::IIPVideoCallback* callback = nullptr;  // the host's, borrowed while registered
    uint32_t count = 0;
    uint64_t lastAlive = 0;
    // The gap's edges: the camera's capture time of the frame when known (replayed frames carry
    // the camera's times, and the host's frame times lag them), else the host's frame time.
    uint64_t lastMark = 0;
    uint64_t reconnectMark = 0;  // first frame after the outage being watched; 0 = none yet
    // Shared with a delivery in progress, which may outlast the entry.
    std::shared_ptr<CCallbackGate> gate;
  };
  struct PendingItem {
    uint32_t channel;
    uint64_t begin;
    uint64_t end;
  };

  void LogWorkItem(uint32_t channel, uint64_t begin, uint64_t end, const char* what);
  bool IsRegistered(uint32_t channel);
  // Counts the channel's last unregistrations: a change tells a restart during a run.
  uint32_t GetStopCount(uint32_t channel);
  void LogGivenUp(uint32_t channel, uint64_t begin, uint64_t end, uint32_t runs);
  // On the monitor thread.
  void SynchroniseClock();
  struct AliveSnapshot {
    uint64_t alive = 0;
    uint64_t mark = 0;
  };
  // Newest report of every channel that has reported; empty when none has.
  std::map<uint32_t, AliveSnapshot> SnapshotAliveTimes();
  // The edge of the gap after an outage on `channel`: its first frame after it, or `fallback`.
  uint64_t ReconnectMark(uint32_t channel, uint64_t fallback);

  IDriver* const driver_;  // borrowed: outlives the handler
  const uint32_t queueLimit_;
  TEdgeStorageQueueHandler<CBaseEdgeStorageHandler> queue_;

  CRecursiveLock tableLock_;
  std::map<uint32_t, ChannelEntry> channels_;  // guarded by tableLock_
  std::map<uint32_t, uint32_t> stopCounts_;    // guarded by tableLock_

  CRecursiveLock reconnectLock_;
  uint64_t reconnectTime_ = 0;  // guarded by reconnectLock_; 0 = none held

  CRecursiveLock syncLock_;
  bool timeSynchronised_ = false;  // guarded by syncLock_
  uint64_t lastSyncAttempt_ = 0;
  CEvent syncEvent_;  // a frame thread asks the monitor thread to set the camera's clock

  uint32_t maxFailedRuns_ = kMaxFailedRuns;
  uint32_t firstRetryPauseMs_ = kFirstRetryPauseMs;
  uint32_t maxRetryPauseMs_ = kMaxRetryPauseMs;

  CRecursiveLock pendingLock_;
  std::vector<PendingItem> pending_;  // guarded by pendingLock_

  CRecursiveLock threadsLock_;  // one start or stop of the two threads at a time

  CEvent recheckEvent_;
  CEvent wakeEvent_;
  CEvent aliveEvent_;
};

}  // namespace vantrel
