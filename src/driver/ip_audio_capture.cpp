#include "driver/ip_audio_capture.h"

#include "audio/audio_input_channel.h"
#include "driver/channel_creators.h"
#include "foundation/teardown_queue.h"

namespace vantrel {

CIPAudioCapture::CIPAudioCapture(IAudioChannelCreator* creator, uint32_t maxChannels)
    : creator_(creator), maxChannels_(maxChannels) {}

CIPAudioCapture::~CIPAudioCapture() {
  std::map<uint32_t, IAudioInputChannel*> doomed;
  {
    CScopedLock guard(lock_);
    doomed.swap(channels_);
  }
  for (auto& entry : doomed) Dispose(entry.second, entry.second->Stop());
}

void CIPAudioCapture::Dispose(IAudioInputChannel* channel, bool stopped) {
  if (stopped) {
    delete channel;
    return;
  }
  // The channel's destructor waits for its threads, one of which is still in the host's
  // callback that asked for the close.
  CTeardownQueue::Post([channel] { delete channel; });
}

void* CIPAudioCapture::ScalarDeletingDestructor(unsigned int flags) {
  if (flags & 1) {
    delete this;
  } else {
    this->~CIPAudioCapture();
  }
  return this;
}

uint32_t CIPAudioCapture::GetChannelCount() {
  CScopedLock guard(lock_);
  return static_cast<uint32_t>(channels_.size());
}

bool CIPAudioCapture::OpenChannel(uint32_t channel, uint32_t hostChannelIndex,
                                  ipcapture::IIPAudioCallback* callback, uint64_t context) {
  {
    CScopedLock guard(lock_);
    if (channels_.count(channel) != 0 || opening_.count(channel) != 0) return true;
    if (channels_.size() + opening_.size() >= maxChannels_ || !creator_) return false;
    opening_.insert(channel);
  }
  IAudioInputChannel* created = nullptr;
  bool kept = false;
  try {
    created = creator_->CreateAudioInputChannel(channel, hostChannelIndex, callback, context);
    if (created && created->Start()) {
      CScopedLock guard(lock_);
      channels_.emplace(channel, created);
      kept = true;
    }
  } catch (...) {
    // Out of memory while keeping it: the channel goes below like a failed start.
  }
  {
    CScopedLock guard(lock_);
    opening_.erase(channel);
  }
  if (kept) return true;
  if (created) Dispose(created, created->Stop());
  return false;
}

bool CIPAudioCapture::CloseChannel(uint32_t channel) {
  IAudioInputChannel* closing = nullptr;
  {
    CScopedLock guard(lock_);
    auto it = channels_.find(channel);
    if (it == channels_.end()) return false;
    closing = it->second;
    channels_.erase(it);
  }
  const bool stopped = closing->Stop();
  Dispose(closing, stopped);
  return stopped;
}

uint32_t CIPAudioCapture::GetChannelStatus(uint32_t channel) {
  CScopedLock guard(lock_);
  auto it = channels_.find(channel);
  return it == channels_.end() ? 0 : it->second->GetStatus();
}

}  // namespace vantrel
