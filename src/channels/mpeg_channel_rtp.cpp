#include "channels/mpeg_channel_rtp.h"

#include "core/driver_services.h"

namespace vantrel {

CMPEGChannelRTP::CMPEGChannelRTP(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback)
    : CCommonChannel(channel, driver, callback), receiver_(deviceInfo_) {
  NewParser();
}

void CMPEGChannelRTP::NewParser() {
  auto parser = std::make_shared<CMpeg4RTPMediaParser>(GetDriver());
  parser->SetClient(this);
  CScopedLock guard(parserLock_);
  parser_ = std::move(parser);
}

std::shared_ptr<CMpeg4RTPMediaParser> CMPEGChannelRTP::CurrentParser() {
  CScopedLock guard(parserLock_);
  return parser_;
}

CMPEGChannelRTP::~CMPEGChannelRTP() {
  // The worker and the library thread call into us and our parser.
  Stop();
  receiver_.Disconnect();
}

uint32_t CMPEGChannelRTP::Transport() {
  return rcp_.GetSender().IsSecure() ? CRcpStreamReceiver::kTransportHttps : 0;
}

bool CMPEGChannelRTP::OpenSession() {
  NewParser();
  if (GetStopEvent().IsSet()) return false;
  streamPaused_ = false;
  if (receiver_.ConnectVideo(this, static_cast<uint8_t>(encoderInstance_), 0, Transport())) return true;
  Log(kLogError, "%s: Unable to connect the RCP+ video stream of %s", "vantrel::CMPEGChannelRTP::OpenSession",
      description_.c_str());
  return false;
}

bool CMPEGChannelRTP::OpenMulticastSession() {
  NewParser();
  if (GetStopEvent().IsSet()) return false;
  return receiver_.ConnectVideo(this, static_cast<uint8_t>(encoderInstance_), 0,
                                CRcpStreamReceiver::kTransportMulticast);
}

void CMPEGChannelRTP::Disconnect() {
  receiver_.Disconnect();
  CBaseRTSPChannel::Disconnect();
}

void CMPEGChannelRTP::Interrupt() {
  receiver_.Abort();
  CCommonChannel::Interrupt();
}

void CMPEGChannelRTP::Rearm() {
  receiver_.ResetAbort();
  CCommonChannel::Rearm();
}

bool CMPEGChannelRTP::IsStreamAlive() {
  if (IsPaused()) return true;
  // A connection the camera ended delivers nothing more: reconnect now rather than after the
  // frame timer runs out.
  if (receiver_.ConnectionEnded()) {
    Log(kLogWarning, "%s: The camera ended the RCP+ video stream of %s (error 0x%X)",
        "vantrel::CMPEGChannelRTP::IsStreamAlive", description_.c_str(), receiver_.GetConnectError());
    return false;
  }
  return GetFrameTimer().ElapsedMs() < deviceInfo_.signalTimeout / 2;
}

bool CMPEGChannelRTP::PrepareCamera() {
  if (streamingMode_ == CConfiguration::kStreamingMulticast) return true;
  // A read first: it tells whether the camera's RCP+ answered over HTTPS, and it writes nothing.
  if (!ReadEncoderInstance()) return false;
  if (Transport() == CRcpStreamReceiver::kTransportHttps) {
    // Setting the encoder up would only rewrite the camera's settings on every round for a
    // stream that cannot come; the round fails as for a connection that cannot be made.
    if (!httpsLogged_) {
      httpsLogged_ = true;
      const std::string device = GetDriver() ? GetDriver()->GetDeviceAddress() : deviceInfo_.address;
      Log(kLogError, kHttpsUnsupported, "vantrel::CMPEGChannelRTP::PrepareCamera", device.c_str());
    }
    return false;
  }
  UpdateDewarpingMode();
  // Older encoders do not know the stream-coding switch; the stream still comes.
  rcp_.SetRcpDword(kRcpStreamCoding, 1, encoderInstance_);
  return UpdateResolution() && UpdateProfile() && ApplyProfile();
}

bool CMPEGChannelRTP::ApplySettingsChange(uint32_t changes) {
  ApplyPauseState();
  bool resolutionDone = false;
  bool rateDone = false;
  if (changes & kSizeChanged) resolutionDone = UpdateResolution();
  if (changes & kFrameRateChanged) rateDone = UpdateFrameRate();
  if (rateDone || resolutionDone) return ApplyProfile();
  return false;
}

bool CMPEGChannelRTP::ApplyProfile() {
  if (!rcp_.SetRcpDword(kRcpCoderSelect, streamCoder_, encoderInstance_).IsSuccess())
    Log(kLogDetail, "%s: Unable to apply profile %u for %s", "vantrel::CMPEGChannelRTP::ApplyProfile",
        streamCoder_, description_.c_str());
  return true;
}

bool CMPEGChannelRTP::Pause() {
  if (IsPaused()) return false;
  // From here on payloads are dropped and no frame reaches the host.
  SetPaused(true);
  if (streamingMode_ == CConfiguration::kStreamingMulticast) {
    // The multicast loop has no wake-up for this; the disconnect never waits for the frame
    // callback of this very thread (see CRcpStreamReceiver).
    receiver_.Disconnect();
    return true;
  }
  GetSettingsChangedEvent().Set();
  return true;
}

bool CMPEGChannelRTP::Resume() {
  if (!IsPaused()) return false;
  // The time spent paused is no silence of the camera: without a fresh start the first liveness
  // check after a long pause would tear down the stream that was just asked for again.
  GetFrameTimer().Restart();
  SetPaused(false);
  GetSettingsChangedEvent().Set();
  return true;
}

void CMPEGChannelRTP::ApplyPauseState() {
  const bool paused = IsPaused();
  if (paused == streamPaused_ || GetStopEvent().IsSet()) return;
  streamPaused_ = paused;
  if (paused) {
    receiver_.Disconnect();
    return;
  }
  ClearTimeConversion();
  NewParser();
  // A failed connect is a failed round: the liveness check reconnects as for any lost stream.
  if (!receiver_.ConnectVideo(this, static_cast<uint8_t>(encoderInstance_), 0, Transport()))
    Log(kLogError, "%s: Unable to connect the RCP+ video stream of %s", "vantrel::CMPEGChannelRTP::Resume",
        description_.c_str());
}

void CMPEGChannelRTP::OnRtpPayload(const uint8_t* payload, uint32_t length, uint16_t sequenceNumber,
                                   uint32_t timestamp, bool marker) {
  if (IsPaused()) return;
  dataEvent_.Set();
  // Held by reference, not under a lock: the parser hands its frames to the host.
  const std::shared_ptr<CMpeg4RTPMediaParser> parser = CurrentParser();
  if (!parser) return;
  try {
    parser->ProcessPayload(payload, length, sequenceNumber, timestamp, marker);
  } catch (...) {
    // One broken packet must not take the library's thread down; the next key frame resyncs.
  }
}

}  // namespace vantrel
