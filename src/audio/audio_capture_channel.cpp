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

CAudioCaptureChannel::~CAudioCaptureChannel() {
  // Also the deferred end of a close made from inside a callback (on the tear-down queue): the
  // threads that use the parser and rcp_ end before they go.
  Stop();
}

bool CAudioCaptureChannel::EnableAudio() {
  // Whatever still arrives from the previous session is dropped until this one's description.
  parser_.Disarm();
  // An abort is kept until reset; Stop raises the stop event before it aborts, so a stop after
  // this reset still fails the request.
  rcp_.ResetAbort();
  if (GetStopEvent().IsSet()) return false;
  return rcp_.SetRcpFlag(kAudioEnableCommand, 1, 0).IsSuccess();
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

bool CAudioCaptureChannel::IsALawDescription(const MediaDescription& media, const SdpAudioCodec& codec) {
  if (codec.tag == SdpAudioCodec::kNone && media.encoding.empty())
    return media.payloadType == CBaseRTPAudioParser::kPcmaPayloadType;
  std::string encoding = media.encoding;
  for (char& c : encoding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return encoding.rfind("pcma", 0) == 0;
}

void CAudioCaptureChannel::OnAudioDescription(const MediaDescription& media, const SdpAudioCodec& codec,
                                              const SdpMpeg4Audio& mpeg4) {
  const AudioFormatBlock format = FormatForDescription(media, codec);
  const bool aac = format.tag == kAudioTagAac;
  parser_.SetDecoderConfig(aac ? mpeg4.config : std::vector<uint8_t>());
  parser_.SetAuHeaderLayout({mpeg4.sizeLength, mpeg4.indexLength, mpeg4.indexDeltaLength,
                             mpeg4.ctsDeltaLength, mpeg4.dtsDeltaLength});
  const bool aLaw = !aac && IsALawDescription(media, codec);
  parser_.SetALaw(aLaw);
  if (aLaw)
    Log(kLogInfo, "%s: the camera %s sends G.711 A-law audio; it is converted to mu-law for the host",
        "vantrel::CAudioCaptureChannel::OnAudioDescription", deviceInfo_.address.c_str());
  // Last: setting the format arms the parser for this session's payloads.
  parser_.SetFormat(format);
}

void CAudioCaptureChannel::ProcessData(const uint8_t* payload, uint32_t size, uint16_t sequenceNumber) {
  // Packets still queued while the channel stops would only be refused, each with an error
  // message about a frame nobody wants any more.
  if (GetStopEvent().IsSet()) return;
  parser_.ProcessData(payload, size, sequenceNumber);
}

void CAudioCaptureChannel::ProcessPacket(const CRTPPacket& packet) {
  if (GetStopEvent().IsSet()) return;
  parser_.ProcessPacket(packet.GetPayload(), packet.GetPayloadLength(), packet.GetSequenceNumber(),
                        packet.GetPayloadType(), packet.GetSsrc());
}

}  // namespace vantrel
