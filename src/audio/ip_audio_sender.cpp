#include "audio/ip_audio_sender.h"

#include "audio/base_audio_output_channel.h"
#include "core/audio_channel_creator.h"

namespace vantrel {

CIPAudioSender::CIPAudioSender(IAudioChannelCreator* creator, uint32_t maxChannels)
    : creator_(creator), maxChannels_(maxChannels) {}

CIPAudioSender::~CIPAudioSender() {
  CScopedLock guard(lock_);
  for (auto& [number, channel] : channels_) {
    channel->Stop();
    delete channel;
  }
  channels_.clear();
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
  CScopedLock guard(lock_);
  if (channels_.count(channel)) return true;
  if (channels_.size() >= maxChannels_ || !creator_) return false;
  IAudioOutputChannel* made = creator_->CreateAudioOutputChannel(channel, parameter, callback, formats);
  if (!made) return false;
  if (!made->Start()) {
    made->Stop();
    delete made;
    return false;
  }
  channels_[channel] = made;
  return true;
}

bool CIPAudioSender::CloseChannel(uint32_t channel) {
  CScopedLock guard(lock_);
  auto it = channels_.find(channel);
  if (it == channels_.end()) return false;
  IAudioOutputChannel* closing = it->second;
  channels_.erase(it);
  const bool stopped = closing->Stop();
  delete closing;
  return stopped;
}

bool CIPAudioSender::Send(ipcapture::IIPAudioFrame* frame) {
  if (!frame) return false;
  CScopedLock guard(lock_);
  auto it = channels_.find(frame->GetChannel() & 0xFF);
  return it != channels_.end() && it->second->SendAudio(frame);
}

bool CIPAudioSender::GetAudioFormat(uint32_t channel, ipcapture::IIPAudioFormat* format) {
  CScopedLock guard(lock_);
  auto it = channels_.find(channel);
  return it != channels_.end() && it->second->GetAudioFormat(format);
}

uint32_t CIPAudioSender::GetChannelStatus(uint32_t channel) {
  CScopedLock guard(lock_);
  auto it = channels_.find(channel);
  return it == channels_.end() ? 0 : it->second->GetStatus();
}

}  // namespace vantrel
