// The audio capture channel the driver makes for the host: G.711 mu-law from the camera's
// audio input, or AAC when the camera's session description names it, parsed into host audio
// frames.
//
// Threads: as CBaseAudioRTSPChannel. The worker disarms the parser before every session (a stale
// stream's packets are dropped from then on) and the RTSP client thread sets it up from the
// session's description, which arms it; the packet thread feeds it. The parser has its own lock.
#pragma once

#include <cstdint>

#include "audio/audio_format.h"
#include "audio/base_audio_rtsp_channel.h"
#include "audio/base_rtp_audio_parser.h"
#include "control/rcp_http.h"

namespace vantrel {

class CAudioCaptureChannel : public CBaseAudioRTSPChannel, public IAudioParserClient {
 public:
  static constexpr uint16_t kAudioEnableCommand = 0x000C;
  // What an AAC stream reports as its bit rate; the description names none.
  static constexpr uint32_t kNominalAacBitRate = 128000;

  // `context` is the host's and is kept only to hand back unchanged.
  CAudioCaptureChannel(IDriver* driver, uint32_t hostChannelIndex, uint32_t channel,
                       ipcapture::IIPAudioCallback* callback, uint64_t context);
  ~CAudioCaptureChannel() override;

  // IAudioParserClient, on the packet thread.
  bool DeliverFrame(ipcapture::IIPAudioFrame* frame) override { return DeliverAudioFrame(frame); }
  bool IsTakingFrames() override { return !GetStopEvent().IsSet() && GetStatus() == kAudioRunning; }

  // The format the parser gets for a session's description: the camera's default G.711, or
  // AAC with the description's rate, channels and configuration.
  static AudioFormatBlock FormatForDescription(const MediaDescription& media, const SdpAudioCodec& codec);
  // The description names G.711 A-law (which the parser turns into the host's mu-law).
  static bool IsALawDescription(const MediaDescription& media, const SdpAudioCodec& codec);

 protected:
  bool EnableAudio() override;
  void AbortRequests() override { rcp_.Abort(); }
  void OnAudioDescription(const MediaDescription& media, const SdpAudioCodec& codec,
                          const SdpMpeg4Audio& mpeg4) override;
  void ProcessData(const uint8_t* payload, uint32_t size, uint16_t sequenceNumber) override;
  void ProcessPacket(const CRTPPacket& packet) override;

 private:
  const uint64_t context_;
  CRcpHttp rcp_;  // worker thread; Stop may abort it
  CBaseRTPAudioParser parser_;
};

}  // namespace vantrel
