#include "audio/audio_capture_channel.h"

#include <cctype>
#include <string>

#include "core/driver_services.h"

namespace vantrel {

CAudioCaptureChannel::CAudioCaptureChannel(IDriver* driver, uint32_t hostChannelIndex, uint32_t channel,
                                           ipcapture::IIPAudioCallback* callback, uint64_t context)
    : CBaseAudioRTSPChannel(driver, hostChannelIndex, channel, callback),
      context_(context),
      rcp_(deviceInfo_),
      parser_(driver, channel, this) {
  (void)context_;
}

CAudioCaptureChannel::~CAudioCaptureChannel() { StopChannel(); }

bool CAudioCaptureChannel::Stop() {
  // A camera that does not answer would hold the worker in its request for a whole time-out.
  GetStopEvent().Set();
  rcp_.Abort();
  return CBaseAudioRTSPChannel::Stop();
}

bool CAudioCaptureChannel::EnableAudio() {
  // An abort is kept until reset; Stop raises the stop event before it aborts, so a stop after
  // this reset still fails the request.
  rcp_.ResetAbort();
  if (GetStopEvent().IsSet()) return false;
  if (!rcp_.SetRcpFlag(kAudioEnableCommand, 1, 0).IsSuccess()) return false;
  parser_.SetFormat(format_);
  parser_.SetDecoderConfig({});
  parser_.Reset();
  return true;
}

AudioFormatBlock CAudioCaptureChannel::FormatForDescription(const MediaDescription& media,
                                                            const SdpAudioCodec& codec) {
  std::string encoding = media.encoding;
  for (char& c : encoding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // Taking AAC for G.711 would hand the host noise labelled as speech.
  if (encoding.find("mpeg4-generic") == std::string::npos || codec.sampleRate == 0) return G711AudioFormat();
  AudioFormatBlock format;
  format.tag = kAudioTagAac;
  format.sampleRate = codec.sampleRate;
  format.bitRate = kNominalAacBitRate;
  format.bitsPerSample = 16;
  format.channels = codec.channels == 0 ? 1 : codec.channels;
  return format;
}

void CAudioCaptureChannel::OnAudioDescription(const MediaDescription& media, const SdpAudioCodec& codec,
                                              const SdpMpeg4Audio& mpeg4) {
  const AudioFormatBlock format = FormatForDescription(media, codec);
  if (format.tag != kAudioTagAac) return;
  parser_.SetFormat(format);
  parser_.SetDecoderConfig(mpeg4.config);
  parser_.Reset();
}

void CAudioCaptureChannel::ProcessData(const uint8_t* payload, uint32_t size, uint16_t sequenceNumber) {
  // Packets still queued while the channel stops would only be refused, each with an error
  // message about a frame nobody wants any more.
  if (GetStopEvent().IsSet()) return;
  parser_.ProcessData(payload, size, sequenceNumber);
}

}  // namespace vantrel
