#include "audio/ip_audio_sender.h"

#include <windows.h>

#include "audio/base_audio_output_channel.h"
#include "core/audio_channel_creator.h"
#include "foundation/event.h"
#include "foundation/teardown_queue.h"

namespace vantrel {

CIPAudioSender::CIPAudioSender(IAudioChannelCreator* creator, uint32_t maxChannels)
    : creator_(creator), maxChannels_(maxChannels) {}

CIPAudioSender::~CIPAudioSender() {
  std::map<uint32_t, IAudioOutputChannel*> doomed;
  {
    CScopedLock guard(lock_);
    doomed.swap(channels_);
  }
  for (auto& [number, channel] : doomed) {
    WaitUnused(channel);
    Dispose(channel, channel->Stop());
  }
}

IAudioOutputChannel* CIPAudioSender::Use(uint32_t channel) {
  CScopedLock guard(lock_);
  auto it = channels_.find(channel);
  if (it == channels_.end()) return nullptr;
  ++inUse_[it->second];
  return it->second;
}

void CIPAudioSender::Unuse(IAudioOutputChannel* channel) {
  CScopedLock guard(lock_);
  auto it = inUse_.find(channel);
  if (it != inUse_.end() && --it->second == 0) {
    inUse_.erase(it);
    unused_.Set();
  }
}

void CIPAudioSender::WaitUnused(IAudioOutputChannel* channel) {
  for (;;) {
    {
      CScopedLock guard(lock_);
      if (inUse_.count(channel) == 0) return;
      unused_.Reset();
    }
    unused_.Wait(kWaitUnusedRecheckMs);
  }
}

void CIPAudioSender::Dispose(IAudioOutputChannel* channel, bool stopped) {
  if (stopped) {
    delete channel;
    return;
  }
  // The channel's destructor waits for its thread without limit: the host's callback that
  // asked for the close is then still on that thread's stack.
  CTeardownQueue::Post([channel] { delete channel; });
}

void* CIPAudioSender::ScalarDeletingDestructor(unsigned int flags) {
  if (flags & 1) {
    delete this;
  } else {
    this->~CIPAudioSender();
  }
  return this;
}

uint32_t CIPAudioSender::GetChannelCount() {
  CScopedLock guard(lock_);
  return static_cast<uint32_t>(channels_.size());
}

bool CIPAudioSender::OpenChannel(uint32_t channel, uint32_t parameter,
                                 ipcapture::IIPAudioStatusCallback* callback,
                                 ipcapture::IIPAudioFormatList* formats) {
  {
    CScopedLock guard(lock_);
    if (channels_.count(channel) || opening_.count(channel)) return true;
    if (channels_.size() + opening_.size() >= maxChannels_ || !creator_) return false;
    opening_[channel].thread = GetCurrentThreadId();
  }
  // Outside the lock: the start reports "connecting" to the host's callback.
  IAudioOutputChannel* made = creator_->CreateAudioOutputChannel(channel, parameter, callback, formats);
  if (made) {
    CScopedLock guard(lock_);
    opening_[channel].made = made;
  }
  const bool started = made && made->Start();
  bool closed = false;
  {
    CScopedLock guard(lock_);
    closed = opening_[channel].closed;
    opening_.erase(channel);
    if (started && !closed) {
      channels_[channel] = made;
      return true;
    }
  }
  if (made) Dispose(made, made->Stop());
  // Closed by the host from the start's own report: the open itself went through.
  return started && closed;
}

bool CIPAudioSender::CloseChannel(uint32_t channel) {
  IAudioOutputChannel* closing = nullptr;
  CManualEvent pause;  // never set
  for (;;) {
    IAudioOutputChannel* insideStart = nullptr;
    bool startingElsewhere = false;
    {
      CScopedLock guard(lock_);
      auto opening = opening_.find(channel);
      if (opening != opening_.end()) {
        Opening& o = opening->second;
        if (o.thread != GetCurrentThreadId()) {
          startingElsewhere = true;
        } else if (o.made && !o.closed) {
          o.closed = true;
          insideStart = o.made;
        } else {
          return false;
        }
      } else {
        auto it = channels_.find(channel);
        if (it == channels_.end()) return false;
        closing = it->second;
        channels_.erase(it);
      }
    }
    if (insideStart) {
      // From the start's own status report: the start is further up this stack, so the channel
      // only shuts its reports off here, at once, and the open finishes the tear-down.
      insideStart->Stop();
      return false;
    }
    if (!startingElsewhere) break;
    // A start never waits for the camera: it is done shortly.
    pause.Wait(1);
  }
  WaitUnused(closing);
  const bool stopped = closing->Stop();
  Dispose(closing, stopped);
  return stopped;
}

bool CIPAudioSender::Send(ipcapture::IIPAudioFrame* frame) {
  if (!frame) return false;
  IAudioOutputChannel* target = Use(frame->GetChannel() & 0xFF);
  if (!target) return false;
  const bool sent = target->SendAudio(frame);
  Unuse(target);
  return sent;
}

bool CIPAudioSender::GetAudioFormat(uint32_t channel, ipcapture::IIPAudioFormat* format) {
  IAudioOutputChannel* target = Use(channel);
  if (!target) return false;
  const bool filled = target->GetAudioFormat(format);
  Unuse(target);
  return filled;
}

uint32_t CIPAudioSender::GetChannelStatus(uint32_t channel) {
  CScopedLock guard(lock_);
  auto it = channels_.find(channel);
  return it == channels_.end() ? 0 : it->second->GetStatus();
}

}  // namespace vantrel
