// Ownership of a driver sub-object that the host reaches through one or more interfaces. The
// interfaces may still be incomplete where the owner is declared: the concrete type is known
// only where the object is made, so the deleter (and the pointer adjustment to each interface)
// is fixed there.
#pragma once

#include <tuple>

namespace vantrel {

template <typename... Interfaces>
class TOwnedSubObject {
 public:
  TOwnedSubObject() = default;
  ~TOwnedSubObject() { Reset(); }
  TOwnedSubObject(const TOwnedSubObject&) = delete;
  TOwnedSubObject& operator=(const TOwnedSubObject&) = delete;

  // Takes `object` over (null just empties the holder).
  template <typename T>
  void Reset(T* object) {
    Reset();
    if (!object) return;
    interfaces_ = std::tuple<Interfaces*...>(static_cast<Interfaces*>(object)...);
    destroy_ = [](void* p) { delete static_cast<T*>(p); };
    object_ = object;
  }
  // The same, for an object that must be stopped (T::Stop) before its owner lets it go.
  template <typename T>
  void ResetStoppable(T* object) {
    Reset(object);
    if (object) stop_ = [](void* p) { static_cast<T*>(p)->Stop(); };
  }

  // Destroys the object. The holder is emptied first, so while the object's destructor runs
  // every accessor already hands out null.
  void Reset() {
    void* object = object_;
    void (*destroy)(void*) = destroy_;
    object_ = nullptr;
    interfaces_ = {};
    destroy_ = nullptr;
    stop_ = nullptr;
    if (object) destroy(object);
  }

  void Stop() {
    if (object_ && stop_) stop_(object_);
  }

  template <typename I>
  I* Get() const {
    return std::get<I*>(interfaces_);
  }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  void* object_ = nullptr;
  std::tuple<Interfaces*...> interfaces_{};
  void (*destroy_)(void*) = nullptr;
  void (*stop_)(void*) = nullptr;
};

}  // namespace vantrel
