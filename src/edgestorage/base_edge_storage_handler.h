// Finds the gaps in what the host received from one device and has them replayed from the
// camera's storage. Live channels register and report every frame; when all of them fall
// silent for longer than the signal time-out and then come back, one work item per channel
// covering the silence goes to a queue thread, which runs it through the device's replay task.
//
// Threads: channel threads call the IEdgeStorageCallback operations and (un)register; the
// monitor thread watches for outages; the queue thread ("Video receiving thread") runs the
// task. The handler must outlive every channel registered with it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "channels/camera_channel.h"
#include "edgestorage/edge_storage_task_item.h"
#include "foundation/base_thread.h"
#include "foundation/event.h"
#include "foundation/queue_thread.h"
#include "foundation/recursive_lock.h"

namespace vantrel {

class IDriver;

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

  // `driver` is borrowed and outlives the handler; at most `queueLimit` gaps wait at once.
  CBaseEdgeStorageHandler(IDriver* driver, uint32_t queueLimit);
  ~CBaseEdgeStorageHandler() override;

  // IEdgeStorageHandler
  void RegisterChannel(IEdgeMonitorChannel* channel) override;
  void UnregisterChannel(IEdgeMonitorChannel* channel) override;
  ipcapture::IIPVideoCallback* GetChannelCallback(uint32_t channel) override;

  // IEdgeStorageCallback
  void OnFrameSeen(uint32_t channel, uint64_t time) override;
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
  };
  struct PendingItem {
    uint32_t channel;
    uint64_t begin;
    uint64_t end;
  };

  void LogWorkItem(uint32_t channel, uint64_t begin, uint64_t end, const char* what);
  bool IsRegistered(uint32_t channel);
  // Newest report of every channel that has reported; empty when none has.
  std::map<uint32_t, uint64_t> SnapshotAliveTimes();

  IDriver* const driver_;  // borrowed: outlives the handler
  const uint32_t queueLimit_;
  TEdgeStorageQueueHandler<CBaseEdgeStorageHandler> queue_;

  CRecursiveLock tableLock_;
  std::map<uint32_t, ChannelEntry> channels_;  // guarded by tableLock_

  CRecursiveLock reconnectLock_;
  uint64_t reconnectTime_ = 0;  // guarded by reconnectLock_; 0 = none held

  CRecursiveLock syncLock_;
  bool timeSynchronised_ = false;  // guarded by syncLock_
  uint64_t lastSyncAttempt_ = 0;

  CRecursiveLock pendingLock_;
  std::vector<PendingItem> pending_;  // guarded by pendingLock_

  CRecursiveLock threadsLock_;  // one start or stop of the two threads at a time

  CEvent recheckEvent_;
  CEvent wakeEvent_;
  CEvent aliveEvent_;
};

}  // namespace vantrel
