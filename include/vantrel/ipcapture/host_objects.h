// Objects of the host that the driver calls. Their layout is the host's (MSVC): slot 0 is ONE
// vtable entry, the scalar deleting destructor, so these classes declare no C++ destructor and
// the driver never destroys them. Slots the driver does not call are placeholders that keep the
// numbering; their meaning is the host's.
#pragma once

#include <cstdint>

#include "vantrel/platform_types.h"

namespace vantrel::ipcapture {

// Message handed to IIPDebugSink::Post. Lives only for the call; the sink copies what it keeps.
class CDebugInfoIf {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual uint8_t GetLevel() = 0;                                  // slot 1
  virtual const char* GetText() = 0;                               // slot 2: null for an empty message

 protected:
  ~CDebugInfoIf() = default;
};

class IIPDebugSink {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual void Post(CDebugInfoIf* info) = 0;                       // slot 1

 protected:
  ~IIPDebugSink() = default;
};

// A frame buffer of the host, filled by a media parser and released right after delivery.
class IIPFrame {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual void Reserved1() = 0;                                    // slot 1
  virtual uint8_t* GetData() = 0;                                  // slot 2: buffer of the allocated size
  virtual void Reserved3() = 0;                                    // slot 3
  virtual void SetDataSize(uint32_t size) = 0;                     // slot 4
  virtual void Reserved5() = 0;                                    // slot 5
  virtual void SetTime(const SYSTEMTIME* utc) = 0;                 // slot 6
  virtual void GetTime(SYSTEMTIME* utc) = 0;                       // slot 7
  virtual void Reserved8() = 0;                                    // slot 8
  virtual void Reserved9() = 0;                                    // slot 9
  virtual void SetFourCC(uint32_t fourcc) = 0;        // slot 10: first character in the lowest byte
  virtual void Reserved11() = 0;                      // slot 11
  virtual void SetHeight(uint32_t height) = 0;        // slot 12
  virtual void Reserved13() = 0;                      // slot 13
  virtual void SetWidth(uint32_t width) = 0;          // slot 14
  virtual void Reserved15() = 0;                      // slot 15
  virtual void SetSizeClass(uint32_t sizeClass) = 0;  // slot 16: 1 to 4

 protected:
  ~IIPFrame() = default;
};

class IIPFrameAllocator {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual void Reserved1() = 0;                                    // slot 1
  // Slot 2: a frame with a payload buffer of `size` bytes, or null.
  virtual IIPFrame* Allocate(uint32_t fourcc, uint32_t size, const char* owner) = 0;
  // Slot 3: the allocation audio capture uses; same arguments, the frame is the host's audio frame.
  virtual void* AllocateAudio(uint32_t fourcc, uint32_t size, const char* owner) = 0;
  virtual void Reserved4() = 0;           // slot 4
  virtual void Reserved5() = 0;           // slot 5
  virtual void Release(void* frame) = 0;  // slot 6

 protected:
  ~IIPFrameAllocator() = default;
};

class IIPCameraInfo {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual void Reserved1() = 0;                                    // slot 1
  virtual const char* GetModel() = 0;                              // slot 2
  virtual uint32_t GetChannelCount() = 0;                          // slot 3
  virtual void Reserved4() = 0;                                    // slot 4
  virtual uint32_t GetHostId1() = 0;                               // slot 5
  virtual uint32_t GetHostId2() = 0;                               // slot 6

 protected:
  ~IIPCameraInfo() = default;
};

class IIPConnectionInfo {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual const char* GetAddress() = 0;                            // slot 1
  virtual uint32_t GetPort() = 0;                                  // slot 2
  virtual void Reserved3() = 0;                                    // slot 3
  virtual uint32_t GetDefaultVideoFormat() = 0;                    // slot 4
  virtual const char* GetUserName() = 0;                           // slot 5
  virtual const char* GetPassword() = 0;                           // slot 6

 protected:
  ~IIPConnectionInfo() = default;
};

class IIPOpenParams {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual IIPCameraInfo* GetCameraInfo() = 0;                      // slot 1
  virtual IIPConnectionInfo* GetConnectionInfo() = 0;              // slot 2
  virtual void Reserved3() = 0;                                    // slot 3
  virtual const char* GetParameter(uint32_t number) = 0;           // slot 4: null when absent

 protected:
  ~IIPOpenParams() = default;
};

}  // namespace vantrel::ipcapture
