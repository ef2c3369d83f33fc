#include "driver/ip_video_capture.h"

#include <cstring>
#include <utility>

#include "driver/channel_creators.h"
#include "foundation/teardown_queue.h"

namespace vantrel {

namespace {

constexpr char kEdgeStorageProperty[] = "EdgeStorageState";

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    const auto ca = static_cast<unsigned char>(*a);
    const auto cb = static_cast<unsigned char>(*b);
    // ASCII only: the host's locale must not change what the property is called.
    const auto la = (ca >= 'A' && ca <= 'Z') ? ca + ('a' - 'A') : ca;
    const auto lb = (cb >= 'A' && cb <= 'Z') ? cb + ('a' - 'A') : cb;
    if (la != lb) return false;
  }
  return *a == *b;
}

bool IsEdgeStorageProperty(const char* name, const void* value, uint32_t size) {
  return name && value && size == sizeof(uint16_t) && EqualsIgnoringCase(name, kEdgeStorageProperty);
}

}  // namespace

CIPVideoCapture::CIPVideoCapture(IVideoChannelCreator* creator, uint32_t channelCount)
    : creator_(creator), table_(channelCount) {}

CIPVideoCapture::~CIPVideoCapture() {
  for (uint32_t channel = 0; channel < table_.size(); ++channel) StopChannel(channel);
  // The spare stream slot survives StopChannel; its worker must end before the table goes.
  for (auto& entry : table_) {
    VideoRef spare;
    {
      CScopedLock guard(lock_);
      spare = std::move(entry.streams[kStreamSlots - 1]);
    }
    StopAndRelease(std::move(spare));
  }
  edgeHandler_.reset();
}

void CIPVideoCapture::StopAndRelease(VideoRef video) {
  if (!video) return;
  // After BeginStop no host callback of the channel starts. Its worker is given a short while;
  // one still in a request that only ends at its time-out (WinHTTP under Wine notices a closed
  // handle only then), or a stop from inside the channel's own callback, finishes on the
  // tear-down queue instead of holding the host.
  if (video->BeginStop(kStopWaitMs)) {
    video->Stop();
    return;
  }
  // A host thread still holding a reference (a PauseChannel racing us) is fine: the item keeps
  // its own, and the object dies with the last one, off the callback's stack.
  CTeardownQueue::Post([video = std::move(video)]() mutable {
    video->Stop();
    video.reset();
  });
}

void CIPVideoCapture::StopAndRelease(MotionRef motion) {
  if (!motion) return;
  // False: called on the motion thread (from its host callback), which cannot wait for itself.
  if (motion->Stop()) return;
  CTeardownQueue::Post([motion = std::move(motion)]() mutable {
    motion->Stop();
    motion.reset();
  });
}

CIPVideoCapture::VideoRef CIPVideoCapture::RecordingStream(uint32_t channel) {
  CScopedLock guard(lock_);
  return table_[channel].streams[kRecStream];
}

void* CIPVideoCapture::ScalarDeletingDestructor(unsigned int flags) {
  if (flags & 1) {
    delete this;
  } else {
    this->~CIPVideoCapture();
  }
  return this;
}

uint32_t CIPVideoCapture::GetChannelCount() { return static_cast<uint32_t>(table_.size()); }

bool CIPVideoCapture::ReadSettings(ipcapture::IIPVideoSettings* settings, uint32_t streamIndex,
                                   VideoSettings* record, bool* motionWanted) {
  if (!settings) return false;
  ipcapture::IIPVideoFormat* format = settings->GetFormat();
  ipcapture::IIPVideoRate* rate = settings->GetRate();
  if (!format || !rate) return false;
  ipcapture::IIPVideoSize* size = format->GetSize();
  if (!size) return false;
  record->frameRate = rate->GetFrameRate() & 0xFFFF;
  record->width = size->GetWidth() & 0xFFFF;
  record->height = size->GetHeight() & 0xFFFF;
  record->quality = rate->GetQuality() & 0xFFFF;
  record->format = format->GetStreamFormat();
  record->streamIndex = streamIndex;
  if (motionWanted) *motionWanted = rate->GetMotionDetection() != 0;
  return true;
}

IEdgeStorageHandler* CIPVideoCapture::GetOrCreateEdgeHandler() {
  {
    CScopedLock guard(lock_);
    if (edgeHandler_) return edgeHandler_.get();
  }
  std::unique_ptr<IEdgeStorageHandler> created(creator_->CreateEdgeStorageHandler());
  CScopedLock guard(lock_);
  // Two host threads may have raced here; the first handler made stays, the other is dropped.
  if (!edgeHandler_) edgeHandler_ = std::move(created);
  return edgeHandler_.get();
}

bool CIPVideoCapture::StartChannel(uint32_t channel, ipcapture::IIPVideoCallback* callback,
                                   ipcapture::IIPVideoSettings* settings) {
  if (channel >= table_.size() || !creator_) return false;
  StopChannel(channel);

  IEdgeStorageHandler* handler = nullptr;
  if (edgeStorageEnabled_.load()) handler = GetOrCreateEdgeHandler();

  VideoSettings record;
  bool motionWanted = false;
  if (!ReadSettings(settings, kRecStream, &record, &motionWanted)) return false;

  VideoRef video(creator_->CreateVideoChannel(channel, callback, record));
  if (!video) return false;
  video->SetStreamOption(settings->GetStreamOption());
  bool result = video->Start(record);

  MotionRef motion;
  if (result && motionWanted) {
    motion.reset(creator_->CreateMotionChannel(channel, callback));
    if (motion) result = motion->Start();
  }

  // Registered before the table holds them: once there, another host thread's StopChannel may
  // unregister and destroy them at any moment.
  if (handler) {
    handler->RegisterChannel(video.get());
    if (motion) handler->RegisterChannel(motion.get());
  }
  VideoRef displacedVideo;
  MotionRef displacedMotion;
  {
    CScopedLock guard(lock_);
    Entry& entry = table_[channel];
    // Another host thread may have filled the slots since StopChannel above; what it put there
    // is stopped below rather than leaked or left running unowned.
    displacedVideo = std::exchange(entry.streams[kRecStream], std::move(video));
    displacedMotion = std::exchange(entry.motion, std::move(motion));
  }
  if (handler) {
    if (displacedMotion) handler->UnregisterChannel(displacedMotion.get());
    if (displacedVideo) handler->UnregisterChannel(displacedVideo.get());
  }
  StopAndRelease(std::move(displacedMotion));
  StopAndRelease(std::move(displacedVideo));
  return result;
}

bool CIPVideoCapture::StopChannel(uint32_t channel) {
  if (channel >= table_.size()) return false;
  VideoRef streams[3];
  MotionRef motion;
  IEdgeStorageHandler* handler = nullptr;
  {
    CScopedLock guard(lock_);
    Entry& entry = table_[channel];
    for (uint32_t i = 0; i < 3; ++i) streams[i] = std::move(entry.streams[i]);
    motion = std::move(entry.motion);
    handler = edgeHandler_.get();
  }
  const bool existed = streams[0] || streams[1] || streams[2] || motion;
  if (handler) {
    if (motion) handler->UnregisterChannel(motion.get());
    if (streams[kRecStream]) handler->UnregisterChannel(streams[kRecStream].get());
  }
  StopAndRelease(std::move(motion));
  for (uint32_t i : {kLiveStream, kRemoteStream, kRecStream}) StopAndRelease(std::move(streams[i]));
  return existed;
}

bool CIPVideoCapture::StartStream(uint32_t channel, uint32_t stream, ipcapture::IIPVideoCallback* callback,
                                  ipcapture::IIPVideoSettings* settings) {
  if (channel >= table_.size() || stream >= kStreamSlots || !creator_) return false;
  StopStream(channel, stream);

  VideoSettings record;
  if (!ReadSettings(settings, stream, &record, nullptr)) return false;
  VideoRef video(creator_->CreateVideoChannel(channel, callback, record));
  if (!video) return false;
  const bool result = video->Start(record);

  VideoRef displaced;
  {
    CScopedLock guard(lock_);
    displaced = std::exchange(table_[channel].streams[stream], std::move(video));
  }
  StopAndRelease(std::move(displaced));
  return result;
}

bool CIPVideoCapture::StopStream(uint32_t channel, uint32_t stream) {
  if (channel >= table_.size() || stream >= kStreamSlots) return false;
  VideoRef video;
  {
    CScopedLock guard(lock_);
    video = std::move(table_[channel].streams[stream]);
  }
  if (!video) return false;
  StopAndRelease(std::move(video));
  return true;
}

bool CIPVideoCapture::UpdateChannelSettings(uint32_t channel, ipcapture::IIPVideoSize* size,
                                            uint32_t frameRate) {
  if (channel >= table_.size() || !size) return false;
  const uint32_t width = size->GetWidth() & 0xFFFF;
  const uint32_t height = size->GetHeight() & 0xFFFF;
  const VideoRef video = RecordingStream(channel);
  return video && video->UpdateSettings(frameRate, width, height);
}

bool CIPVideoCapture::GetChannelState(uint32_t channel, uint32_t* state, uint32_t* extra, void* flag,
                                      uint32_t flagSize) {
  if (channel >= table_.size()) return false;
  if (extra) *extra = 0;
  if (flag && flagSize) std::memset(flag, 0, flagSize);
  const VideoRef video = RecordingStream(channel);
  if (!video) return false;
  const uint32_t current = video->GetState();
  // The host knows no "stopped": to it a stopped stream is one without signal.
  if (state) *state = current == kCameraStopped ? kCameraSignalLost : current;
  return true;
}

bool CIPVideoCapture::SetProperty(const char* name, void* value, uint32_t size) {
  if (!IsEdgeStorageProperty(name, value, size)) return false;
  uint16_t enabled = 0;
  std::memcpy(&enabled, value, sizeof(enabled));
  edgeStorageEnabled_.store(enabled > 0);
  return true;
}

bool CIPVideoCapture::GetProperty(const char* name, void* value, uint32_t size) {
  if (!IsEdgeStorageProperty(name, value, size)) return false;
  const uint16_t enabled = edgeStorageEnabled_.load() ? 1 : 0;
  std::memcpy(value, &enabled, sizeof(enabled));
  return true;
}

bool CIPVideoCapture::ResumeChannel(uint32_t channel) {
  if (channel >= table_.size()) return false;
  const VideoRef video = RecordingStream(channel);
  return video && video->Resume();
}

bool CIPVideoCapture::PauseChannel(uint32_t channel) {
  if (channel >= table_.size()) return false;
  const VideoRef video = RecordingStream(channel);
  return video && video->Pause();
}

}  // namespace vantrel
