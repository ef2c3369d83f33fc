// The parsed session description handed from the RTSP client to its owner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

enum MediaKind : uint32_t {
  kMediaNone = 0,
  kMediaVideo = 1,
  kMediaAudio = 2,
  kMediaMetadata = 3,  // "metadata", "data" or "application"
};

struct MediaDescription {
  uint16_t port = 0;              // second token of "m="; later from the SETUP Transport when 0
  std::string protocol;           // third token of "m=", e.g. "RTP/AVP"
  std::string connectionAddress;  // "c=" line or the SETUP Transport "destination"
  std::string control;            // "a=control:"
  uint8_t payloadType = 0;        // "a=rtpmap"
  std::string encoding;           // rest of "a=rtpmap": name/clock rate[/channels]
  // "a=x-dimensions:W,H": a Motion JPEG picture beyond what the RTP JPEG header can carry
  // (2040 pixels); 0 when absent.
  uint32_t width = 0;
  uint32_t height = 0;
};

struct SdpInfo {
  MediaDescription video;
  MediaDescription audio;
  MediaDescription metadata;
  std::vector<uint8_t> sequenceParameterSet;  // H.264, first element of sprop-parameter-sets
  std::vector<uint8_t> pictureParameterSet;   // H.264, second element
  std::vector<uint8_t> configuration;         // MPEG-4 video "config"

  // The description of a kind (1 video, 2 audio, 3 metadata); null for any other number.
  MediaDescription* Media(uint32_t kind) {
    switch (kind) {
      case kMediaVideo:
        return &video;
      case kMediaAudio:
        return &audio;
      case kMediaMetadata:
        return &metadata;
      default:
        return nullptr;
    }
  }
  const MediaDescription* Media(uint32_t kind) const { return const_cast<SdpInfo*>(this)->Media(kind); }
};

}  // namespace vantrel
