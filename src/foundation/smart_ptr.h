// A shared owner of a heap object with an intrusive-free reference count. Used where several
// holders (a channel and its RTSP client, a handler and its reader) share one object. Copying
// and releasing from different threads is safe; a single holder is used by one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace vantrel {

template <class T>
class TSmartPtr {
 public:
  TSmartPtr() = default;
  // Takes ownership of a newly created object (null gives an empty holder).
  explicit TSmartPtr(T* object) { Adopt(object); }
  TSmartPtr(const TSmartPtr& other) { ShareFrom(other); }
  TSmartPtr(TSmartPtr&& other) noexcept : count_(other.count_), object_(other.object_) {
    other.count_ = nullptr;
    other.object_ = nullptr;
  }
  virtual ~TSmartPtr() { Release(); }

  TSmartPtr& operator=(const TSmartPtr& other) {
    // Share first: releasing first would delete the object when `other` is this holder or
    // another holder of the last reference, and then copy a dangling pointer.
    TSmartPtr copy(other);
    Swap(copy);
    return *this;
  }
  TSmartPtr& operator=(TSmartPtr&& other) noexcept {
    if (this != &other) {
      Release();
      Swap(other);
    }
    return *this;
  }

  // Drops the held object (if any) and takes ownership of `object`. Taking the object already
  // held here changes nothing.
  void Reset(T* object = nullptr) {
    if (object && object == object_) return;
    Release();
    Adopt(object);
  }

  void Release() {
    std::atomic<int32_t>* count = count_;
    T* object = object_;
    count_ = nullptr;
    object_ = nullptr;
    if (!count) return;
    int32_t before = count->load();
    // Never below 0: a count already at 0 belongs to an object that is gone.
    while (before > 0 && !count->compare_exchange_weak(before, before - 1)) {
    }
    if (before == 1) {
      delete object;
      delete count;
    }
  }

  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }
  bool IsEmpty() const { return object_ == nullptr; }
  // Holders sharing the object, 0 when empty.
  int32_t GetRefCount() const { return count_ ? count_->load() : 0; }

 private:
  void Adopt(T* object) {
    if (!object) return;
    count_ = new std::atomic<int32_t>(1);
    object_ = object;
  }

  void ShareFrom(const TSmartPtr& other) {
    if (!other.count_ || !other.object_) return;
    int32_t current = other.count_->load();
    while (current >= 1 && !other.count_->compare_exchange_weak(current, current + 1)) {
    }
    if (current < 1) return;
    count_ = other.count_;
    object_ = other.object_;
  }

  void Swap(TSmartPtr& other) noexcept {
    std::swap(count_, other.count_);
    std::swap(object_, other.object_);
  }

  std::atomic<int32_t>* count_ = nullptr;  // shared by every holder of object_
  T* object_ = nullptr;
};

}  // namespace vantrel
