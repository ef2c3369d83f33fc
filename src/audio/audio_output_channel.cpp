#include "audio/audio_output_channel.h"

#include "core/driver_services.h"
#include "vantrel/ipcapture/audio_types.h"

namespace vantrel {

namespace {

DEVICE_INFO DeviceOf(IDriver* driver) { return driver ? driver->GetDeviceInfo() : DEVICE_INFO(); }

}  // namespace

CAudioOutputChannel::CAudioOutputChannel(IDriver* driver, uint32_t channel, uint32_t hostChannelIndex,
                                         ipcapture::IIPAudioStatusCallback* callback,
                                         ipcapture::IIPAudioFormatList* formats)
    : CBaseAudioOutputChannel(hostChannelIndex, driver, channel, callback, formats),
      device_(DeviceOf(driver)),
      receiver_(device_),
      rcp_(device_),
      format_(G711AudioFormat()) {}

CAudioOutputChannel::~CAudioOutputChannel() {
  // The queue thread uses the receiver: it must end before the members go, however long that
  // takes after a Stop that could not wait for it (this then runs on the tear-down queue).
  Stop();
  JoinThread(kStopWaitMs);
}

bool CAudioOutputChannel::Start() {
  // Aborts are kept until reset: a channel started again after a stop talks to the camera anew.
  rcp_.ResetAbort();
  receiver_.ResetAbort();
  return CBaseAudioOutputChannel::Start();
}

void CAudioOutputChannel::AbortCamera() {
  rcp_.Abort();
  receiver_.Abort();
}

uint32_t CAudioOutputChannel::FormatTag() const { return format_.tag; }

bool CAudioOutputChannel::GetAudioFormat(ipcapture::IIPAudioFormat* format) {
  if (!format) return false;
  format->SetFourCC(FormatTag());
  format->SetSampleRate(format_.sampleRate);
  format->SetBitRate(format_.bitRate);
  format->SetStereo(format_.channels == 2);
  return true;
}

bool CAudioOutputChannel::IsEntryUsable(ipcapture::IIPAudioFormatEntry* entry) {
  return entry && entry->IsUsable() && entry->GetFourCC() == FormatTag();
}

bool CAudioOutputChannel::FrameMatchesFormat(ipcapture::IIPAudioFrame* frame) {
  return frame->GetFourCC() == FormatTag() && frame->GetSampleRate() == format_.sampleRate &&
         frame->IsStereo() == (format_.channels == 2) && frame->GetBitRate() == format_.bitRate;
}

bool CAudioOutputChannel::EnableAudio() {
  if (httpsOnly_.load() || IsStopRequested()) return false;
  const CResultDef enabled = rcp_.SetRcpFlag(kRcpAudioEnable, 1, 0);
  if (!enabled.IsSuccess()) {
    // An unreachable or refusing camera leaves the host at status 5; the integrator needs the why.
    if (GetDriver() && !IsStopRequested() && !refusalLogged_.exchange(true))
      GetDriver()->Log(kLogWarning, "%s: the camera %s did not switch its audio output on: %s",
                       "vantrel::CAudioOutputChannel::EnableAudio", device_.address.c_str(),
                       enabled.message.empty() ? "no answer" : enabled.message.c_str());
    return false;
  }
  if (rcp_.GetSender().IsSecure()) {
    // Retrying cannot help, and every attempt would write the camera's audio switch again.
    httpsOnly_.store(true);
    if (GetDriver())
      GetDriver()->Log(
          kLogError, "%s: Audio output to %s requires HTTPS, which the streaming connection does not support",
          "vantrel::CAudioOutputChannel::EnableAudio", device_.address.c_str());
    return false;
  }
  if (IsStopRequested()) return false;
  if (!receiver_.ConnectAudioSend(false, &GetStopEvent())) {
    // A connect that a stop broke off is no news for the integrator.
    if (GetDriver() && !IsStopRequested() && !refusalLogged_.exchange(true))
      GetDriver()->Log(kLogWarning, "%s: the camera %s did not accept the audio stream (error 0x%X)",
                       "vantrel::CAudioOutputChannel::EnableAudio", device_.address.c_str(),
                       receiver_.GetConnectError());
    return false;
  }
  refusalLogged_.store(false);
  liveness_.Restart();
  return true;
}

bool CAudioOutputChannel::SendFrame(ipcapture::IIPAudioFrame* frame) {
  if (liveness_.ElapsedMs() > device_.timeout) {
    bool ok = false;
    const uint32_t enabled = rcp_.GetRcpFlag(kRcpAudioEnable, 0, &ok);
    if (!ok || enabled < 1) {
      if (GetDriver())
        GetDriver()->Log(kLogWarning, "%s: the camera %s no longer acknowledges audio output",
                         "vantrel::CAudioOutputChannel::SendFrame", device_.address.c_str());
      ChangeStatus({kAudioConnecting, kAudioRunning}, kAudioSignalLost);
      return false;
    }
    liveness_.Restart();
  }
  if (IsStopRequested()) return false;
  return receiver_.Send(frame->GetData(), frame->GetDataSize(), &GetStopEvent());
}

bool CAudioOutputChannel::RefuseSecureTransport(bool secure) {
  if (!secure) return false;
  // Retrying cannot help, and every attempt would write the camera's audio switch again.
  if (!httpsOnly_.exchange(true) && GetDriver())
    GetDriver()->Log(kLogError,
                     "%s: Audio output to %s requires HTTPS, which the streaming connection does not support",
                     "vantrel::CAudioOutputChannel::EnableAudio", device_.address.c_str());
  return true;
}

void CAudioOutputChannel::DisconnectStreamer() { receiver_.Disconnect(); }

}  // namespace vantrel
