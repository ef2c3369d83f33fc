#include "driver/ip_audio_capture.h"

#include "audio/audio_input_channel.h"
#include "driver/channel_creators.h"

namespace vantrel {

CIPAudioCapture::CIPAudioCapture(IAudioChannelCreator* creator, uint32_t maxChannels)
    : creator_(creator), maxChannels_(maxChannels) {}

CIPAudioCapture::~CIPAudioCapture() {
  CScopedLock guard(lock_);
  for (auto& entry : channels_) {
    entry.second->Stop();
    delete entry.second;
  }
  channels_.clear();
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
  CScopedLock guard(lock_);
  if (channels_.count(channel) != 0) return true;
  if (channels_.size() >= maxChannels_ || !creator_) return false;
  IAudioInputChannel* created = nullptr;
  try {
    created = creator_->CreateAudioInputChannel(channel, hostChannelIndex, callback, context);
    if (!created) return false;
    if (created->Start()) {
      channels_.emplace(channel, created);
      return true;
    }
  } catch (...) {
    // Out of memory while keeping it: the channel goes below like a failed start.
  }
  if (created) {
    created->Stop();
    delete created;
  }
  return false;
}

bool CIPAudioCapture::CloseChannel(uint32_t channel) {
  CScopedLock guard(lock_);
  auto it = channels_.find(channel);
  if (it == channels_.end()) return false;
  IAudioInputChannel* closing = it->second;
  channels_.erase(it);
  const bool stopped = closing->Stop();
  delete closing;
  return stopped;
}

uint32_t CIPAudioCapture::GetChannelStatus(uint32_t channel) {
  CScopedLock guard(lock_);
  auto it = channels_.find(channel);
  return it == channels_.end() ? 0 : it->second->GetStatus();
}

}  // namespace vantrel
