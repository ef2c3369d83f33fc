// The audio sender the host reaches through the driver: one output channel per opened camera
// output, each made by the driver.
//
// Threads: any host thread. A channel is unlinked from the map before it is stopped, so no
// later call reaches it; CloseChannel returns within the channel's stop bound (5000 ms plus a
// status callback already running).
#pragma once

#include <cstdint>
#include <map>

#include "foundation/event.h"
#include "foundation/recursive_lock.h"
#include "vantrel/ipcapture/audio_sender.h"

namespace vantrel {

class IAudioChannelCreator;
class IAudioOutputChannel;

class CIPAudioSender : public ipcapture::IIPAudioSender {
 public:
  // `creator` (the driver) is borrowed and outlives this object; at most `maxChannels` open.
  CIPAudioSender(IAudioChannelCreator* creator, uint32_t maxChannels);
  CIPAudioSender(const CIPAudioSender&) = delete;
  CIPAudioSender& operator=(const CIPAudioSender&) = delete;
  virtual ~CIPAudioSender();

  void* ScalarDeletingDestructor(unsigned int flags) override;
  uint32_t GetChannelCount() override;
  bool OpenChannel(uint32_t channel, uint32_t parameter, ipcapture::IIPAudioStatusCallback* callback,
                   ipcapture::IIPAudioFormatList* formats) override;
  bool CloseChannel(uint32_t channel) override;
  bool Send(ipcapture::IIPAudioFrame* frame) override;
  bool GetAudioFormat(uint32_t channel, ipcapture::IIPAudioFormat* format) override;
  uint32_t GetChannelStatus(uint32_t channel) override;
  bool Unsupported7() override { return false; }
  bool Unsupported8() override { return false; }

 private:
  // Deletes a stopped channel now, or leaves it to the tear-down queue when its Stop could not
  // wait for its thread (a close from inside its own callback, or a thread past the bound).
  static void Dispose(IAudioOutputChannel* channel, bool stopped);
  // A channel in use by a host call that reaches the host itself (a frame given back to the
  // allocator, the host's format object filled): the call runs outside lock_, and a close waits
  // for it (it is the host's own time) before the channel stops.
  IAudioOutputChannel* Use(uint32_t channel);
  void Unuse(IAudioOutputChannel* channel);
  void WaitUnused(IAudioOutputChannel* channel);
  // The wake is exact; the re-check only bounds what a handle failure could cost.
  static constexpr uint32_t kWaitUnusedRecheckMs = 100;

  IAudioChannelCreator* const creator_;
  const uint32_t maxChannels_;
  // Guards the map only: never held while a channel starts or stops, so that the host's other
  // channels (Send, GetChannelStatus) never wait for a camera, and a channel's status callback
  // may call back in.
  CRecursiveLock lock_;
  std::map<uint32_t, IAudioOutputChannel*> channels_;  // owned; guarded by lock_
  // Being made and started, with the thread that does it: the start reports "connecting" to the
  // host's callback on that thread, and the host may close the channel from there.
  struct Opening {
    unsigned long thread = 0;
    IAudioOutputChannel* made = nullptr;
    bool closed = false;  // closed from inside the start's own callback
  };
  std::map<uint32_t, Opening> opening_;             // guarded by lock_
  std::map<IAudioOutputChannel*, uint32_t> inUse_;  // calls in flight; guarded by lock_
  // Set when a channel's last call in flight ends: wakes WaitUnused, which resets it under lock_
  // before it looks, so no wake is lost.
  CManualEvent unused_;
};

}  // namespace vantrel
