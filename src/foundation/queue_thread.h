// A thread that processes items handed to it from any thread, in posting order. The queue owns
// every item posted to it: processed, dropped by a limit, refused or cleared, each is deleted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <new>
#include <string>

#include "foundation/base_thread.h"
#include "foundation/event.h"
#include "foundation/recursive_lock.h"

namespace vantrel {

// T must have a virtual destructor when items of derived classes are posted.
template <class T>
class CQueueThread : public CBaseThread {
 public:
  explicit CQueueThread(IDebugMessage* logger) : CBaseThread(logger), itemEvent_(false) {}

  // Items still queued here are not processed; they are deleted.
  ~CQueueThread() override {
    JoinThread(5000);
    ClearQueue();
  }

  // Takes ownership of `item` whatever the result. `limit` 0 means unbounded; otherwise the
  // oldest discardable items (IsDiscardable) are dropped so that at most `limit` of them remain
  // after the append; items that are not discardable are never dropped and do not count.
  // Refused (and the item deleted) while the thread is stopped, and for a null item.
  bool PostItem(T* item, uint32_t limit) {
    if (!item) return false;
    if (IsStopRequested()) {
      delete item;
      return false;
    }
    std::deque<T*> dropped;
    bool queued = true;
    {
      CScopedLock guard(queueLock_);
      if (limit != 0) {
        size_t discardable = 0;
        for (T* waiting : queue_) discardable += IsDiscardable(waiting) ? 1 : 0;
        for (auto it = queue_.begin(); it != queue_.end() && discardable >= limit;) {
          if (!IsDiscardable(*it)) {
            ++it;
            continue;
          }
          OnItemDropped(*it);
          dropped.push_back(*it);
          it = queue_.erase(it);
          --discardable;
        }
      }
      try {
        queue_.push_back(item);
      } catch (const std::bad_alloc&) {
        queued = false;
      }
    }
    // Outside the lock, as in ClearQueue: an item's destructor may call out (a host frame goes
    // back to the host's allocator).
    for (T* doomed : dropped) delete doomed;
    if (!queued) {
      delete item;
      return false;
    }
    itemEvent_.Set();
    return true;
  }

  size_t GetQueuedCount() {
    CScopedLock guard(queueLock_);
    return queue_.size();
  }

 protected:
  void ThreadProc() override {
    for (;;) {
      if (IsStopRequested()) return;
      CEvent* events[2] = {&GetStopEvent(), &itemEvent_};
      // The time-out only bounds how long a missed stop could go unnoticed.
      if (CEvent::WaitForEvents(events, 2, 1000) != 1) continue;
      // One wake of the auto-reset event stands for everything queued so far.
      while (T* item = PopItem()) {
        if (IsStopRequested()) {
          delete item;
          break;
        }
        try {
          ProcessItem(item);
        } catch (...) {
        }
        delete item;
      }
    }
  }

  // Runs on the queue thread, outside the queue lock. The item is deleted afterwards.
  virtual void ProcessItem(T* item) = 0;
  // An item pushed out by a post's limit, just before it is deleted; runs on the posting thread
  // under the queue lock, so it must not post to this queue.
  virtual void OnItemDropped(T* /*item*/) {}
  // Whether a post's limit may push `item` out; runs under the queue lock.
  virtual bool IsDiscardable(const T* /*item*/) const { return true; }

 public:
  virtual bool StartQueueThread(const std::string& name) {
    itemEvent_.Reset();
    // Items posted before the first start would otherwise wait for the next post.
    if (GetQueuedCount() != 0) itemEvent_.Set();
    return StartThread(name);
  }

  virtual bool StopQueueThread(uint32_t timeoutMs) {
    GetStopEvent().Set();
    ClearQueue();
    return JoinThread(timeoutMs);
  }

 protected:
  T* PopItem() {
    CScopedLock guard(queueLock_);
    if (queue_.empty()) return nullptr;
    T* item = queue_.front();
    queue_.pop_front();
    return item;
  }

  void ClearQueue() {
    std::deque<T*> doomed;
    {
      CScopedLock guard(queueLock_);
      doomed.swap(queue_);
    }
    // Item destructors run outside the lock so they may post or log freely.
    for (T* item : doomed) delete item;
  }

 private:
  CEvent itemEvent_;  // auto-reset: set once per post
  CRecursiveLock queueLock_;
  std::deque<T*> queue_;  // guarded by queueLock_
};

}  // namespace vantrel
