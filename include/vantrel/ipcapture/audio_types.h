// The host's audio objects the driver works with, for capture and for output: the audio frame,
// the format object it fills, the list of formats the host offers and the per-channel status
// callback. Host (MSVC) layout: slot 0 is ONE vtable entry, the scalar deleting destructor, so
// no C++ destructor is declared here, and nothing is returned by value.
#pragma once

#include <cstdint>

#include "vantrel/platform_types.h"

namespace vantrel::ipcapture {

// One block of audio samples. Capture allocates it from the host's frame allocator (slot 3)
// and returns it there right after delivery. A frame the host hands to the audio sender and the
// sender accepts is the driver's from then on: it goes back to the host's frame allocator
// (Release, slot 6) once sent or discarded; a refused frame stays the host's.
class IIPAudioFrame {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual uint8_t* GetData() = 0;                                  // slot 1: buffer of GetCapacity bytes
  virtual uint32_t GetCapacity() = 0;                              // slot 2
  virtual uint32_t GetDataSize() = 0;                              // slot 3
  virtual void SetDataSize(uint32_t size) = 0;                     // slot 4
  virtual uint32_t GetFormatTag() = 0;               // slot 5: four characters, the first in the lowest byte
  virtual void SetFormatTag(uint32_t tag) = 0;       // slot 6
  virtual uint32_t GetSampleRate() = 0;              // slot 7: Hz
  virtual void SetSampleRate(uint32_t rate) = 0;     // slot 8
  virtual uint32_t GetBitsPerSample() = 0;           // slot 9
  virtual void SetBitsPerSample(uint32_t bits) = 0;  // slot 10
  virtual bool IsStereo() = 0;                       // slot 11
  virtual void SetStereo(bool stereo) = 0;           // slot 12
  virtual uint32_t GetBitRate() = 0;                 // slot 13: bit/s
  virtual void SetBitRate(uint32_t rate) = 0;        // slot 14
  virtual uint32_t GetChannel() = 0;                 // slot 15: low byte = channel number
  virtual void SetChannel(uint32_t channel) = 0;     // slot 16
  virtual void GetTime(SYSTEMTIME* utc) = 0;         // slot 17
  virtual void SetTime(const SYSTEMTIME* utc) = 0;   // slot 18
  // Slot 19: decoder configuration (AAC AudioSpecificConfig); copied by the host.
  virtual void SetDecoderConfig(const uint8_t* bytes, uint32_t size) = 0;

 protected:
  ~IIPAudioFrame() = default;
};

// Filled by the driver with the format a channel works in.
class IIPAudioFormat {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual void SetFormatTag(uint32_t tag) = 0;                     // slot 1
  virtual void SetSampleRate(uint32_t rate) = 0;                   // slot 2
  virtual void SetBitRate(uint32_t rate) = 0;                      // slot 3
  virtual void SetStereo(bool stereo) = 0;                         // slot 4

 protected:
  ~IIPAudioFormat() = default;
};

// One format the host offers.
class IIPAudioFormatEntry {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual bool IsUsable() = 0;                                     // slot 1
  virtual uint32_t GetFormatTag() = 0;                             // slot 2

 protected:
  ~IIPAudioFormatEntry() = default;
};

// The formats the host can send, in its order of preference.
class IIPAudioFormatList {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual uint32_t GetCount() = 0;                                 // slot 1
  virtual IIPAudioFormatEntry* GetEntry(uint32_t index) = 0;       // slot 2: null past the end

 protected:
  ~IIPAudioFormatList() = default;
};

// Status of an audio channel (0 stopped, 1 connecting, 2 running, 3 stopping, 4 error, 5 signal
// lost or failed), reported on every change with the host's channel index.
class IIPAudioStatusCallback {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;         // slot 0
  virtual void OnStatus(uint32_t hostChannelIndex, uint32_t status) = 0;  // slot 1

 protected:
  ~IIPAudioStatusCallback() = default;
};

}  // namespace vantrel::ipcapture
