// The host's live-video interfaces: the video-capture object the driver serves, and the host
// objects it is handed (settings records, per-channel callback). All of them use the host's
// (MSVC) layout: slot 0 is ONE vtable entry, the scalar deleting destructor, so no C++
// destructor is declared here, and nothing is returned by value. Placeholder slots keep the
// numbering of slots the driver never calls.
#pragma once

#include <cstdint>

namespace vantrel::ipcapture {

class IIPFrame;
// The host's privacy-zone list; the video-capture object only passes it through to the channel.
class IIPZoneList;

// Requested picture size.
class IIPVideoSize {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual uint32_t GetWidth() = 0;                                 // slot 1
  virtual uint32_t GetHeight() = 0;                                // slot 2

 protected:
  ~IIPVideoSize() = default;
};

class IIPVideoFormat {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual void Reserved1() = 0;                                    // slot 1
  virtual void Reserved2() = 0;                                    // slot 2
  virtual IIPVideoSize* GetSize() = 0;                             // slot 3
  // Slot 4: 1 Motion JPEG, 2 MPEG-4, 3 H.264; 0 or 16 ask for the device's default.
  virtual uint32_t GetStreamFormat() = 0;

 protected:
  ~IIPVideoFormat() = default;
};

class IIPVideoRate {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual uint32_t GetFrameRate() = 0;                             // slot 1: the host's frame-rate code
  virtual void Reserved2() = 0;                                    // slot 2
  virtual uint32_t GetQuality() = 0;                               // slot 3
  virtual uint32_t GetMotionDetection() = 0;                       // slot 4: not 0 = wants motion frames

 protected:
  ~IIPVideoRate() = default;
};

// What the host asks of a stream when it starts it.
class IIPVideoSettings {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual IIPVideoFormat* GetFormat() = 0;                         // slot 1
  virtual IIPVideoRate* GetRate() = 0;                             // slot 2
  virtual void Reserved3() = 0;                                    // slot 3
  virtual void Reserved4() = 0;                                    // slot 4
  virtual IIPZoneList* GetStreamOption() = 0;                      // slot 5

 protected:
  ~IIPVideoSettings() = default;
};

// Per-channel sink of the host. Called on the thread that completed the frame.
class IIPVideoCallback {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  // Slot 1: true when the host took the frame. The frame stays the driver's to release.
  virtual bool OnFrame(IIPFrame* frame) = 0;
  // Slot 2: the input's motion channel has had no motion data for the motion time-out; the
  // argument is always 0. The next motion frames start with a fresh pair.
  virtual void OnMotionDataStopped(uint32_t reason) = 0;
  virtual void OnSignalLost() = 0;  // slot 3

 protected:
  ~IIPVideoCallback() = default;
};

// The video-capture object. Channel numbers are the 0-based camera inputs of the device; a
// number at or beyond GetChannelCount gives false (or 0) from every slot.
class IIPVideoCapture {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual uint32_t GetChannelCount() = 0;                          // slot 1
  // Slot 2: (re)starts the recording stream of the input, and its motion channel when asked for.
  virtual bool StartChannel(uint32_t channel, IIPVideoCallback* callback, IIPVideoSettings* settings) = 0;
  virtual bool StopChannel(uint32_t channel) = 0;  // slot 3
  // Slot 4: new size and frame-rate code for the running recording stream.
  virtual bool UpdateChannelSettings(uint32_t channel, IIPVideoSize* size, uint32_t frameRate) = 0;
  virtual void* GetReserved() = 0;  // slot 5: always null
  // Slot 6: state 0 receiving, 2 signal lost or stopped. `flag` is a buffer of `flagSize` bytes
  // that is zeroed; extra is always 0.
  virtual bool GetChannelState(uint32_t channel, uint32_t* state, uint32_t* extra, void* flag,
                               uint32_t flagSize) = 0;
  // Slots 7 and 8: the only property is "EdgeStorageState", a 16-bit value (size 2).
  virtual bool SetProperty(const char* name, void* value, uint32_t size) = 0;
  virtual bool GetProperty(const char* name, void* value, uint32_t size) = 0;

 protected:
  ~IIPVideoCapture() = default;
};

class IIPVideoCaptureEx : public IIPVideoCapture {
 public:
  virtual bool ResumeChannel(uint32_t channel) = 0;  // slot 9
  virtual bool PauseChannel(uint32_t channel) = 0;   // slot 10

 protected:
  ~IIPVideoCaptureEx() = default;
};

class IIPVideoCaptureEx2 : public IIPVideoCaptureEx {
 public:
  // Slot 11: stream 0 recording, 1 live, 2 remote; 3 is a spare slot kept apart from StopChannel.
  virtual bool StartStream(uint32_t channel, uint32_t stream, IIPVideoCallback* callback,
                           IIPVideoSettings* settings) = 0;
  virtual bool StopStream(uint32_t channel, uint32_t stream) = 0;  // slot 12

 protected:
  ~IIPVideoCaptureEx2() = default;
};

}  // namespace vantrel::ipcapture
