// The host's audio objects the driver calls: the audio frame (made by the frame allocator's
// audio allocation and given back through its release slot), the format object and the list of
// offered formats an output channel is opened with, and the per-channel callbacks. Layout is
// the host's (MSVC): slot 0 is ONE vtable entry, the scalar deleting destructor, so these
// classes declare no C++ destructor and the driver never destroys them. Slots the driver does
// not call are the host's and kept only as placeholders.
#pragma once

#include <cstdint>

#include "vantrel/platform_types.h"

namespace vantrel::ipcapture {

// One buffer of audio samples (or one AAC access unit) with its format.
class IIPAudioFrame {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual uint8_t* GetData() = 0;                                  // slot 1: the allocated size
  virtual uint32_t GetDataSize() = 0;                              // slot 2
  virtual void SetDataSize(uint32_t size) = 0;                     // slot 3: at most the allocated size
  virtual uint32_t GetFourCC() = 0;                                // slot 4: first character lowest
  virtual void SetFormat(uint32_t sampleRate, uint32_t bitsPerSample, bool stereo) = 0;  // slot 5
  virtual uint32_t GetSampleRate() = 0;                                                  // slot 6
  virtual uint32_t GetBitsPerSample() = 0;                                               // slot 7
  virtual bool IsStereo() = 0;                                                           // slot 8
  virtual void SetBitRate(uint32_t bitsPerSecond) = 0;                                   // slot 9
  virtual uint32_t GetBitRate() = 0;                                                     // slot 10
  virtual void SetChannel(uint32_t channel) = 0;                                         // slot 11
  virtual uint32_t GetChannel() = 0;                // slot 12: output channel in the low byte
  virtual void SetTime(const SYSTEMTIME* utc) = 0;  // slot 13
  virtual void GetTime(SYSTEMTIME* utc) = 0;        // slot 14
  // Slot 15: the decoder configuration (AAC: the MPEG-4 AudioSpecificConfig); the host copies it.
  virtual void SetDecoderConfig(const uint8_t* bytes, uint32_t size) = 0;

 protected:
  ~IIPAudioFrame() = default;
};

// Where an output channel writes the format it sends.
class IIPAudioFormat {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual void SetFourCC(uint32_t fourcc) = 0;                     // slot 1
  virtual void SetSampleRate(uint32_t sampleRate) = 0;             // slot 2
  virtual void SetBitRate(uint32_t bitsPerSecond) = 0;             // slot 3
  virtual void SetStereo(bool stereo) = 0;                         // slot 4

 protected:
  ~IIPAudioFormat() = default;
};

// One format the host offers for audio output.
class IIPAudioFormatEntry {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual bool IsUsable() = 0;                                     // slot 1
  virtual uint32_t GetFourCC() = 0;                                // slot 2

 protected:
  ~IIPAudioFormatEntry() = default;
};

class IIPAudioFormatList {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual uint32_t GetCount() = 0;                                 // slot 1
  virtual IIPAudioFormatEntry* GetEntry(uint32_t index) = 0;       // slot 2: null past the end

 protected:
  ~IIPAudioFormatList() = default;
};

// Given with an audio capture channel; called on the driver's reception threads.
class IIPAudioCallback {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  // Slot 1: one frame, valid for the call only; false refuses it.
  virtual bool OnAudioFrame(IIPAudioFrame* frame) = 0;
  // Slot 2: the channel's status changed (0 stopped, 1 connecting, 2 running, 3 stopping,
  // 4 error, 5 signal lost or failed).
  virtual void OnChannelStatus(uint32_t hostChannelIndex, uint32_t status) = 0;

 protected:
  ~IIPAudioCallback() = default;
};

// Given with an audio output channel.
class IIPAudioStatusCallback {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;                // slot 0
  virtual void OnChannelStatus(uint32_t hostChannelIndex, uint32_t status) = 0;  // slot 1

 protected:
  ~IIPAudioStatusCallback() = default;
};

}  // namespace vantrel::ipcapture
