// Tear-down that cannot run where it was asked for. A stop the host calls from inside one of
// an object's own callbacks (StopChannel from OnFrame, CloseChannel from the audio status
// callback) must not free the object while that callback's thread still runs in it, and that
// thread cannot join itself. The owner unlinks the object at once (so the stop returns and no
// later call reaches it) and posts the object's final stop-and-delete here; one process-wide
// thread runs the items in order, each after the callback that asked for it has returned
// (the item's own stop waits for it through the object's callback gate).
//
// Driver Close drains the queue, as its items log through the driver; the last delete of a
// driver in the process shuts the thread down, so no driver code runs once the host may unload
// the DLL.
#pragma once

#include <cstdint>
#include <functional>

namespace vantrel {

class CTeardownQueue {
 public:
  // Queues `item`; starts the thread when none runs. Never blocks on the item.
  static void Post(std::function<void()> item);
  // Waits until every item posted before the call has run. False after `timeoutMs`, or at once
  // when called from the queue's own thread (an item cannot wait for itself) or from inside a
  // host callback: a stop the host made from that callback has posted an item that waits for the
  // callback to return, and the items run in order, so waiting could only run out its bound (the
  // driver's Close from inside a callback). A later Drain from outside then finishes the work.
  static bool Drain(uint32_t timeoutMs);
  // Drains and ends the thread (a later Post starts a new one). False when the thread did not
  // end within `timeoutMs`; it is then left running, never terminated.
  static bool Shutdown(uint32_t timeoutMs);
  // True on the queue's own thread.
  static bool IsQueueThread();
};

}  // namespace vantrel
