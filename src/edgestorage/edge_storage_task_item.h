// The work that goes from the edge-storage handler to the replay task: one gap of one channel.
#pragma once

#include <cstdint>

namespace vantrel {

// A stretch the host lacks: from the channel's last live frame before an outage to its first
// live frame after it (UTC FILETIME values).
struct CEdgeStorageTaskItem {
  virtual ~CEdgeStorageTaskItem() = default;
  uint32_t channel = 0;
  uint64_t begin = 0;
  uint64_t end = 0;
};

// What the handler asks of the device's replay task. All but Abandon, Resume, Stop and
// SyncronizeTime run on the handler's queue thread, one item at a time.
class IEdgeStorageTask {
 public:
  virtual ~IEdgeStorageTask() = default;
  virtual void TakeItem(uint32_t channel, uint64_t begin, uint64_t end) = 0;
  // True when the item is done (replayed, or impossible for good); `position` gets the newest
  // replayed frame time.
  virtual bool ProcessTaskItem(uint64_t* position) = 0;
  // Whether the camera answered the last run's last request over HTTP: a run that could not
  // reach the camera at all says nothing about whether the replay can ever finish.
  virtual bool LastRunAnswered() = 0;
  // Ends the current item early when it belongs to `channel` (any thread): requests in flight
  // are aborted, and the run under way reports "not done" even if the channel comes back.
  virtual void AbandonChannel(uint32_t channel) = 0;
  // The channel registered again: its item may be replayed again from the next run on.
  virtual void ResumeChannel(uint32_t channel) = 0;
  // Ends the current item and aborts what it waits for (the handler is stopping).
  virtual void Stop() = 0;
  // Sets the camera's clock once; true when it is set. Waits on the network: never call it on a
  // thread that delivers frames.
  virtual bool SyncronizeTime() = 0;
};

}  // namespace vantrel
