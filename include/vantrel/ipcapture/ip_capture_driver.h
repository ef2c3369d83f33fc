// The driver object as the host sees it. Layout is the host's (MSVC): slot 0 is ONE vtable
// entry, the scalar deleting destructor (bit 0 of flags: free the memory), so these classes
// declare no C++ destructor. Each version only appends slots, so one object pointer serves
// every version; never reorder or insert.
#pragma once

#include <cstdint>

#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {
// Digital I/O and PTZ live in the plain namespace on the host's side.
class ICaptureIOApi;
class IIPPTZDriver;
class IIPPTZDriverEx;
}  // namespace vantrel

namespace vantrel::ipcapture {

class IIPVideoCapture;
class IIPVideoCaptureEx;
class IIPVideoCaptureEx2;
class IIPAudioCapture2;
class IIPAudioSender;

class IIPCaptureDriver {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  // Slot 1. The driver keeps the sink and the allocator (borrowed) until it is destroyed.
  virtual bool Open(IIPDebugSink* debugSink, IIPFrameAllocator* frameAllocator, IIPOpenParams* params) = 0;
  virtual void Close() = 0;                        // slot 2
  virtual IIPVideoCapture* GetVideoCapture() = 0;  // slot 3
  virtual ICaptureIOApi* GetIOApi() = 0;           // slot 4

 protected:
  ~IIPCaptureDriver() = default;
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
 public:
  virtual void* GetReservedEx() = 0;         // slot 5: always null
  virtual IIPPTZDriver* GetPTZDriver() = 0;  // slot 6

 protected:
  ~IIPCaptureDriverEx() = default;
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
 public:
  virtual void* GetReservedEx2() = 0;                  // slot 7: always null
  virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;  // slot 8

 protected:
  ~IIPCaptureDriverEx2() = default;
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
 public:
  virtual IIPPTZDriverEx* GetPTZDriverEx() = 0;  // slot 9

 protected:
  ~IIPCaptureDriverEx3() = default;
};

class IIPCaptureDriverEx4 : public IIPCaptureDriverEx3 {
 public:
  virtual IIPAudioCapture2* GetAudioCapture2() = 0;  // slot 10
  virtual IIPAudioSender* GetAudioSender() = 0;      // slot 11

 protected:
  ~IIPCaptureDriverEx4() = default;
};

class IIPCaptureDriverEx5 : public IIPCaptureDriverEx4 {
 public:
  virtual IIPVideoCaptureEx2* GetVideoCaptureEx2() = 0;  // slot 12

 protected:
  ~IIPCaptureDriverEx5() = default;
};

}  // namespace vantrel::ipcapture
