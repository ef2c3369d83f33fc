// A queue thread that switches outputs on behalf of an object that holds it: each queued item
// carries two 32-bit values (output index and requested state) that are passed to a member
// function of the object on the queue thread.
#pragma once

#include <cstdint>

#include "foundation/queue_thread.h"

namespace vantrel {

// How the handler reads an item's two values. The default fits an item class whose only data
// members are two public 32-bit fields (index first); an item laid out otherwise supplies an
// overload of this function next to its own class.
template <class TItem>
void GetOutputItemValues(const TItem& item, uint32_t& first, uint32_t& second) {
  const auto& [a, b] = item;
  first = static_cast<uint32_t>(a);
  second = static_cast<uint32_t>(b);
}

template <class T, class TItem>
class TOutputHandler : public CQueueThread<TItem> {
 public:
  using Method = void (T::*)(uint32_t, uint32_t);

  explicit TOutputHandler(IDebugMessage* logger) : CQueueThread<TItem>(logger) {}
  // ProcessItem belongs to this class, so the thread must end before this part is destroyed.
  ~TOutputHandler() override { this->StopQueueThread(5000); }

  // Bind before StartQueueThread.
  void Bind(T* object, Method method) {
    object_ = object;
    method_ = method;
  }

 protected:
  void ProcessItem(TItem* item) override {
    if (!object_ || !method_ || !item) return;
    uint32_t first = 0, second = 0;
    GetOutputItemValues(*item, first, second);
    (object_->*method_)(first, second);
  }

 private:
  T* object_ = nullptr;  // borrowed: the object owns this handler
  Method method_ = nullptr;
};

}  // namespace vantrel
