// The capability query as the host sees it: the query object, the host's completion callback and
// the host's result object. Layout is the host's (MSVC): slot 0 is ONE vtable entry, the scalar
// deleting destructor, so no C++ destructor is declared; never reorder or insert slots.
#pragma once

#include <cstdint>

namespace vantrel::ipcapture {

// The host's completion callback. Called on the query thread (terminated: on the thread that
// stopped the query); the message lives only for the call.
class IIPCapabilityQueryCallback {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;        // slot 0
  virtual void OnQueryCompleted() = 0;                                   // slot 1
  virtual void OnQueryFailed(uint32_t status, const char* message) = 0;  // slot 2
  virtual void OnQueryThreadTerminated() = 0;                            // slot 3

 protected:
  ~IIPCapabilityQueryCallback() = default;
};

// Failure statuses handed to OnQueryFailed.
enum CapabilityQueryStatus : uint32_t {
  kQueryInvalidAddress = 0,
  kQueryLoginFailed = 1,
  kQueryDeviceOffline = 2,
  kQueryOtherError = 3,
};

// One text entry of the result; the strings are copied by the host.
class IIPCapabilityText {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual bool SetName(const char* name) = 0;                      // slot 1
  virtual bool SetSecond(const char* text) = 0;                    // slot 2: always written empty
  virtual bool SetValid(bool valid) = 0;                           // slot 3
  virtual bool SetValue(const char* value) = 0;                    // slot 4

 protected:
  ~IIPCapabilityText() = default;
};

// The frame rates the host offers for a new camera, as frame-rate codes.
class IIPFrameRateDefaults {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual bool AddFrameRate(uint32_t code) = 0;                    // slot 1
  virtual bool SetDefaultFrameRate(uint32_t code) = 0;             // slot 2

 protected:
  ~IIPFrameRateDefaults() = default;
};

// Kinds of the device texts written first into a result.
enum CapabilityDeviceText : uint32_t {
  kDeviceVendor = 1,
  kDeviceModel = 2,
  kDeviceVideoLines = 3,  // decimal
  kDeviceStreams = 4,     // decimal
};

// The host's result object, one per query. Returned objects stay the host's.
class IIPCapabilityResult {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;   // slot 0
  virtual bool SetNumber(uint32_t id, uint32_t value) = 0;          // slot 1
  virtual IIPCapabilityText* GetText(uint32_t id) = 0;              // slot 2: null on failure
  virtual IIPFrameRateDefaults* GetFrameRateDefaults() = 0;         // slot 3: null on failure
  virtual bool SetDeviceText(uint32_t kind, const char* text) = 0;  // slot 4

 protected:
  ~IIPCapabilityResult() = default;
};

// The query object (CreateCapabilityQueryModule). Slots 3 and 4 are the driver's own.
class IIPCapabilityQuery {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0: stops the query
  // Slot 1: 1 when the query thread started; 0 while a query runs or on failure. The strings
  // are copied; the result object must live until the callback reported the end.
  virtual uint32_t Start(const char* address, uint16_t port, const char* user, const char* password,
                         IIPCapabilityResult* result) = 0;
  virtual void Terminate() = 0;  // slot 2: aborts the running query, from any thread

 protected:
  ~IIPCapabilityQuery() = default;
};

}  // namespace vantrel::ipcapture

extern "C" {
uint32_t InitCapabilityQuery(vantrel::ipcapture::IIPCapabilityQueryCallback* callback, uint8_t flag);
uint32_t StartCapabilityQuery(const char* address, uint16_t port, const char* user, const char* password,
                              vantrel::ipcapture::IIPCapabilityResult* result);
uint32_t TerminateCapabilityQuery();
uint32_t UninitCapabilityQuery();
vantrel::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(
    vantrel::ipcapture::IIPCapabilityQueryCallback* callback, uint8_t flag);
void DeleteCapabilityQueryModule(vantrel::ipcapture::IIPCapabilityQuery* module);
}
