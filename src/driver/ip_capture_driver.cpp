#include "driver/ip_capture_driver.h"

#include <windows.h>

#include <cstdarg>
#include <new>

#include "audio/audio_capture_channel.h"
#include "audio/audio_output_channel.h"
#include "audio/ip_audio_sender.h"
#include "channels/h264_channel_rtsp.h"
#include "channels/mjpeg_channel_http.h"
#include "channels/mjpeg_channel_rtsp.h"
#include "channels/mpeg_channel_rtp.h"
#include "driver/debug_info.h"
#include "driver/ip_audio_capture.h"
#include "driver/ip_video_capture.h"
#include "driver/parameter_text.h"
#include "edgestorage/base_edge_storage_handler.h"
#include "edgestorage/edge_storage_task.h"
#include "events/motion_channel.h"
#include "foundation/callback_gate.h"
#include "foundation/teardown_queue.h"

namespace vantrel {

CIPCaptureDriver::CIPCaptureDriver() : hostDirectory_(ReadHostDirectory()) {}

CIPCaptureDriver::~CIPCaptureDriver() = default;

void* CIPCaptureDriver::ScalarDeletingDestructor(unsigned int flags) {
  if (flags & 1) {
    delete this;
  } else {
    this->~CIPCaptureDriver();
  }
  return this;
}

bool CIPCaptureDriver::Open(ipcapture::IIPDebugSink* debugSink, ipcapture::IIPFrameAllocator* frameAllocator,
                            ipcapture::IIPOpenParams* params) {
  // The sink is kept before the parameters are read so that a refusal can be reported.
  debugSink_ = debugSink;
  frameAllocator_ = frameAllocator;
  if (!ReadOpenParams(params)) {
    Log(kLogError, "%s: the host's open parameters are missing or incomplete",
        "vantrel::CIPCaptureDriver::Open");
    return false;
  }
  hostVersion_ = ReadHostCoreVersion();

  if (!CreateVideoCapture()) return false;
  if (!CreateIOHandler()) return false;
  if (!CreatePTZHandler()) return false;
  return RunAudioStep(params);
}

bool CIPCaptureDriver::ReadOpenParams(ipcapture::IIPOpenParams* params) {
  if (!params) return false;
  ipcapture::IIPConnectionInfo* connection = params->GetConnectionInfo();
  ipcapture::IIPCameraInfo* camera = params->GetCameraInfo();
  if (!connection || !camera) return false;

  // Everything is read before anything is kept, so a refused open changes nothing.
  const uint32_t defaultVideoFormat = connection->GetDefaultVideoFormat();
  const char* address = connection->GetAddress();
  const uint32_t port = connection->GetPort();
  const char* user = connection->GetUserName();
  const char* password = connection->GetPassword();
  const uint32_t hostId1 = camera->GetHostId1();
  const uint32_t hostId2 = camera->GetHostId2();
  const uint32_t channelCount = camera->GetChannelCount();
  const char* model = camera->GetModel();
  if (!address || !user || !password || !model) return false;

  defaultVideoFormat_ = defaultVideoFormat;
  deviceInfo_.address = address;
  deviceInfo_.port = port;
  deviceInfo_.user = user;
  deviceInfo_.password = password;
  deviceInfo_.model = model;
  hostId1_ = hostId1;
  hostId2_ = hostId2;
  channelCount_ = channelCount;

  // Numbered parameters run from 1 up to the first one the host does not have.
  parameters_.clear();
  for (uint32_t number = 1; number <= kMaxNumberedParameters; ++number) {
    const char* text = params->GetParameter(number);
    if (!text) break;
    parameters_[number] = text;
  }
  return true;
}

bool CIPCaptureDriver::CreateVideoCapture() {
  // A second Open replaces the object; the old one stops its channels as it goes.
  try {
    videoCapture_.Reset(new (std::nothrow) CIPVideoCapture(this, channelCount_));
  } catch (...) {
    videoCapture_.Reset();
  }
  return static_cast<bool>(videoCapture_);
}

bool CIPCaptureDriver::RunAudioStep(ipcapture::IIPOpenParams* params) {
  // 101 and 102 are asked directly: the stored numbers stop at the first gap.
  const char* audioInput = params->GetParameter(101);
  const char* audioOutput = params->GetParameter(102);
  const AudioStepPlan plan = PlanAudioStep(audioInput, audioOutput);
  if (plan.captureCount != 0 && !audioCapture_) {
    audioCapture_.Reset(new (std::nothrow) CIPAudioCapture(this, plan.captureCount));
  }
  if (plan.senderCount != 0 && !audioSender_) {
    audioSender_.Reset(new (std::nothrow) CIPAudioSender(this, plan.senderCount));
  }
  if (AudioStepSucceeded(plan, static_cast<bool>(audioCapture_), static_cast<bool>(audioSender_)))
    return true;
  Log(kLogError, "%s: no audio object for the host's audio parameters (input \"%s\", output \"%s\")",
      "vantrel::CIPCaptureDriver::Open", audioInput ? audioInput : "", audioOutput ? audioOutput : "");
  return false;
}

void CIPCaptureDriver::Close() {
  videoCapture_.Reset();
  ioHandler_.Reset();
  ptzHandler_.Reset();
  audioCapture_.Reset();
  audioSender_.Reset();
  if (edgeStorageTask_) {
    edgeStorageTask_.Stop();
    edgeStorageTask_.Reset();
  }
  // Stops the host asked for from inside a callback finish on the tear-down queue; they log
  // through this driver and use its allocator, so they must be done before it may go.
  // From inside a host callback they wait for that callback to return: the Delete finishes them.
  if (CCallbackGate::IsInsideAnyCallback()) {
    Log(kLogInfo, "%s: closed from inside a host callback; deferred channel stops finish later",
        "vantrel::CIPCaptureDriver::Close");
  } else if (!CTeardownQueue::Drain(kCloseDrainMs)) {
    Log(kLogWarning, "%s: deferred channel stops did not finish within %u ms",
        "vantrel::CIPCaptureDriver::Close", static_cast<unsigned>(kCloseDrainMs));
  }
}

void CIPCaptureDriver::LogDriverOpened(const std::string& firmware) {
  const std::string name = GetDriverName();
  if (name.empty() || deviceInfo_.model.empty()) return;
  std::string text = "DRIVER IS OPENED (name: " + name + ", device model: " + deviceInfo_.model;
  if (!firmware.empty()) text += ", FW: " + firmware;
  text += ", address: " + deviceInfo_.address + ":" + std::to_string(deviceInfo_.port) + ")";
  // Finished text: the model or firmware may carry a percent sign.
  Log(kLogDriverOpened, "%s", text.c_str());
}

ipcapture::IIPVideoCapture* CIPCaptureDriver::GetVideoCapture() {
  return videoCapture_.Get<ipcapture::IIPVideoCapture>();
}

ICaptureIOApi* CIPCaptureDriver::GetIOApi() { return ioHandler_.Get<ICaptureIOApi>(); }

IIPPTZDriver* CIPCaptureDriver::GetPTZDriver() { return ptzHandler_.Get<IIPPTZDriver>(); }

ipcapture::IIPVideoCaptureEx* CIPCaptureDriver::GetVideoCaptureEx() {
  return videoCapture_.Get<ipcapture::IIPVideoCaptureEx>();
}

IIPPTZDriverEx* CIPCaptureDriver::GetPTZDriverEx() { return ptzHandler_.Get<IIPPTZDriverEx>(); }

ipcapture::IIPAudioCapture2* CIPCaptureDriver::GetAudioCapture2() {
  return audioCapture_.Get<ipcapture::IIPAudioCapture2>();
}

ipcapture::IIPAudioSender* CIPCaptureDriver::GetAudioSender() {
  return audioSender_.Get<ipcapture::IIPAudioSender>();
}

ipcapture::IIPVideoCaptureEx2* CIPCaptureDriver::GetVideoCaptureEx2() {
  return videoCapture_.Get<ipcapture::IIPVideoCaptureEx2>();
}

std::string CIPCaptureDriver::GetDeviceAddress() {
  return deviceInfo_.address + ":" + std::to_string(static_cast<uint16_t>(deviceInfo_.port));
}

void CIPCaptureDriver::Log(uint32_t level, const char* format, ...) {
  if (level == kLogDetail) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatLogText(format, args);
  va_end(args);
  SendToSink(level, text);
}

void CIPCaptureDriver::SendToSink(uint32_t level, const std::string& text) {
  if (!debugSink_) return;
  CDebugInfo info(MapLogLevel(level, hostVersion_), text);
  debugSink_->Post(&info);
}

std::string CIPCaptureDriver::GetDriverName() { return "LumivarIPCapture"; }

void CIPCaptureDriver::GetHostIdPair(uint32_t* hostId1, uint32_t* hostId2) {
  if (hostId1) *hostId1 = hostId1_;
  if (hostId2) *hostId2 = hostId2_;
}

CEdgeStorageTask* CIPCaptureDriver::GetEdgeStorageTask() { return edgeStorageTask_.Get<CEdgeStorageTask>(); }

std::string CIPCaptureDriver::GetParameter(uint32_t number) {
  auto it = parameters_.find(number);
  if (it == parameters_.end()) return {};
  return ParameterText(it->second);
}

int32_t CIPCaptureDriver::GetParameterInt(uint32_t number) {
  auto it = parameters_.find(number);
  if (it == parameters_.end()) return kParameterMissing;
  return ParameterInt(it->second);
}

uint32_t CIPCaptureDriver::GetCameraLine(uint32_t channel) { return channel + 1; }

VideoChannelKind CIPCaptureDriver::SelectVideoChannel(uint32_t format) {
  if (format == kVideoFormatDefault || format == kVideoFormatDefaultAlt) format = defaultVideoFormat_;
  switch (format) {
    case kVideoFormatMJPEG:
      // Only an explicit camera group 0 means HTTP; a missing value keeps RTSP.
      return GetParameterInt(5) == 0 ? VideoChannelKind::kMJPEGOverHTTP : VideoChannelKind::kMJPEGOverRTSP;
    case kVideoFormatMPEG4:
      return VideoChannelKind::kMPEG4OverRCP;
    case kVideoFormatH264:
      return VideoChannelKind::kH264OverRTSP;
    default:
      return VideoChannelKind::kNone;
  }
}

ICameraChannel* CIPCaptureDriver::CreateVideoChannel(uint32_t channel, ipcapture::IIPVideoCallback* callback,
                                                     VideoSettings& settings) {
  if (!callback) return nullptr;
  // The channel builds its camera set-up from the format it is started with, so it must see the
  // format that chose its class, not the host's "default" placeholder.
  if (settings.format == kVideoFormatDefault || settings.format == kVideoFormatDefaultAlt)
    settings.format = defaultVideoFormat_;
  // A kind whose class does not exist yet gives no channel.
  switch (SelectVideoChannel(settings.format)) {
    case VideoChannelKind::kMJPEGOverRTSP:
      return new (std::nothrow) CMJPEGChannelRTSP(channel, this, callback);
    case VideoChannelKind::kH264OverRTSP:
      return new (std::nothrow) CH264ChannelRTSP(channel, this, callback);
    case VideoChannelKind::kMJPEGOverHTTP:
      return new (std::nothrow) CMJPEGChannelHTTP(channel, this, callback);
    case VideoChannelKind::kMPEG4OverRCP:
      return new (std::nothrow) CMPEGChannelRTP(channel, this, callback);
    case VideoChannelKind::kNone:
      break;
  }
  return nullptr;
}

IMotionChannel* CIPCaptureDriver::CreateMotionChannel(uint32_t channel,
                                                      ipcapture::IIPVideoCallback* callback) {
  try {
    return new (std::nothrow) CMotionChannel(channel, this, callback);
  } catch (...) {
    return nullptr;
  }
}

IEdgeStorageHandler* CIPCaptureDriver::CreateEdgeStorageHandler() {
  auto* handler = new (std::nothrow) CBaseEdgeStorageHandler(this, channelCount_ * 10);
  if (!handler) return nullptr;
  CScopedLock guard(edgeStorageLock_);
  if (!edgeStorageTask_) {
    auto* task = new (std::nothrow) CEdgeStorageTask(this);
    if (!task) {
      delete handler;
      return nullptr;
    }
    edgeStorageTask_.ResetStoppable(task);
  }
  // A handler dropped by a racing caller unlinks itself; the next one made takes its place.
  CEdgeStorageTask* task = edgeStorageTask_.Get<CEdgeStorageTask>();
  if (!task->HasHandler()) task->SetHandler(handler);
  return handler;
}

IAudioInputChannel* CIPCaptureDriver::CreateAudioInputChannel(uint32_t channel, uint32_t parameter,
                                                              void* callback, uint64_t context) {
  // The channel takes the host's index first and the channel number second.
  return new (std::nothrow) CAudioCaptureChannel(
      this, parameter, channel, static_cast<ipcapture::IIPAudioCallback*>(callback), context);
}

IAudioOutputChannel* CIPCaptureDriver::CreateAudioOutputChannel(uint32_t channel, uint32_t parameter,
                                                                void* statusCallback, void* formats) {
  return new (std::nothrow) CAudioOutputChannel(
      this, channel, parameter, static_cast<ipcapture::IIPAudioStatusCallback*>(statusCallback),
      static_cast<ipcapture::IIPAudioFormatList*>(formats));
}

std::string ReadHostDirectory() {
  char path[512] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path) - 1);
  if (length == 0) return {};
  std::string text(path, length < sizeof(path) - 1 ? length : sizeof(path) - 1);
  const size_t slash = text.find_last_of('\\');
  if (slash == std::string::npos) return text;
  return text.substr(0, slash + 1);
}

}  // namespace vantrel
