// MPEG-4 / H.263 depacketizer.
//
// ProcessPayload takes RFC 2190 style payloads (driven by the RCP+ MPEG channel): a 4, 8 or 12
// byte payload header whose first byte carries F, P, SBIT and EBIT:
//   +-+-+-----+-----+
//   |F|P|SBIT |EBIT |   F=0: 4-byte header (mode A); F=1,P=0: 8 (mode B); F=1,P=1: 12 (mode C)
//   +-+-+-----+-----+
// A packet ending in a partial byte (EBIT) and the next starting with one (SBIT) share that
// byte: the two halves are merged.
//
// ProcessPacket takes RFC 3016 (MP4V-ES) packets from an RTSP session: the payload is the
// elementary stream itself. Pictures end at the marker bit / end flag. Intra pictures are
// recognised from the H.263 picture header or from the MPEG-4 VOP header; the size comes from
// the H.263 source format, from an in-band VOL header or from the SDP's "config".
#pragma once

#include <cstdint>
#include <vector>

#include "streaming/mp4_parser.h"
#include "streaming/rtp_media_parser.h"

namespace vantrel {

class IDriver;

class CMpeg4RTPMediaParser : public CRTPMediaParser {
 public:
  explicit CMpeg4RTPMediaParser(IDriver* driver);

  void ProcessPacket(const CRTPPacket& packet) override;
  void Reset() override;

  void ProcessPayload(const uint8_t* payload, size_t size, uint16_t sequenceNumber, uint32_t timestamp,
                      bool endOfFrame);

  uint32_t GetWidth() const { return width_; }
  uint32_t GetHeight() const { return height_; }
  bool IsWaitingForKeyFrame() const { return waitForKeyFrame_; }

 private:
  void Append(const uint8_t* data, size_t size);
  void ReturnToWaiting();
  // Delivers one picture (a frame buffer, or one VOP of it); ends the frame's wait for a key
  // frame on an intra picture.
  void ProcessPicture(const uint8_t* data, size_t size, uint32_t timestamp);

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  bool waitForKeyFrame_ = true;
  bool intraPicture_ = false;
  uint8_t previousEbit_ = 0;
  uint8_t previousLastByte_ = 0;
  CMP4Parser mp4Parser_;
  std::vector<uint8_t> withConfiguration_;  // reused: SDP configuration + key frame
};

}  // namespace vantrel
