// The host's privacy-zone list, handed to a channel as its stream option. Host objects in the
// host's (MSVC) layout: slot 0 is ONE vtable entry, the scalar deleting destructor, so no C++
// destructor is declared; placeholder slots keep the numbering of slots the driver never calls.
#pragma once

#include <cstdint>

namespace vantrel::ipcapture {

// One rectangle; every value is in percent of the picture (0 to 100).
class IIPZone {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual void Reserved1() = 0;                                    // slot 1
  virtual void Reserved2() = 0;                                    // slot 2
  virtual void Reserved3() = 0;                                    // slot 3
  virtual float GetX() = 0;                                        // slot 4
  virtual float GetY() = 0;                                        // slot 5
  virtual float GetWidth() = 0;                                    // slot 6
  virtual float GetHeight() = 0;                                   // slot 7

 protected:
  ~IIPZone() = default;
};

class IIPZoneList {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  // Slot 1: null past the last zone. The zone stays the host's.
  virtual IIPZone* GetZone(uint32_t index) = 0;

 protected:
  ~IIPZoneList() = default;
};

}  // namespace vantrel::ipcapture
