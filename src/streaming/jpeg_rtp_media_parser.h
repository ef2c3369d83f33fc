// Motion JPEG over RTP (RFC 2435). Two forms arrive from cameras:
//  - plain RTP/JPEG: every packet starts with the 8-byte main header (+4 restart header for
//    types 64..127; + quantisation table header and tables in the first packet when Q >= 128).
//    The first packet is kept whole; the JFIF header is rebuilt from it when the frame ends.
//  - JPEG header in an RTP header extension: profile 0xFFD8 carries the JPEG header after SOI
//    (continued in 0xFFFF extensions). The frame is SOI + that header + the scan data; the
//    RTP/JPEG headers of such a frame's packets are stripped, since they are not JPEG bytes.
//
//    RTP/JPEG main header:
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   | Type-specific |              Fragment Offset                  |
//   |      Type     |       Q       |     Width     |     Height    |
//
// A fragment with a non-zero offset before the frame's first fragment is ignored; a sequence
// gap drops the frame. A frame ends at the marker bit.
#pragma once

#include <cstdint>
#include <vector>

#include "streaming/jpeg_header_builder.h"
#include "streaming/rtp_media_parser.h"

namespace vantrel {

class IDriver;

class CJpegRTPMediaParser : public CRTPMediaParser {
 public:
  static constexpr uint16_t kHeaderExtensionProfile = 0xFFD8;
  static constexpr uint16_t kContinuationProfile = 0xFFFF;

  explicit CJpegRTPMediaParser(IDriver* driver);

  void ProcessPacket(const CRTPPacket& packet) override;
  void Reset() override;
  // The session's picture size from the SDP ("a=x-dimensions"), used when the RTP JPEG header
  // cannot carry it (beyond 2040 pixels); 0, 0 when the session has none.
  void SetSessionSize(uint32_t width, uint32_t height) {
    sessionWidth_ = width;
    sessionHeight_ = height;
  }

  uint32_t GetWidth() const { return width_; }
  uint32_t GetHeight() const { return height_; }

 private:
  void ResetFrame();
  bool TakePayload(const uint8_t* payload, size_t size);
  bool CompleteImage();
  void EnsureEndMarker();
  void ProcessFrame(uint32_t timestamp);

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t headerLength_ = 8;
  bool frameStarted_ = false;
  bool extensionHeaderSeen_ = false;
  bool sizeKnown_ = false;
  uint32_t sessionWidth_ = 0;
  uint32_t sessionHeight_ = 0;
  std::vector<uint8_t> header_;  // reused JFIF header area
  JpegTableCache tables_;        // in-band tables by Q, for frames that name only the Q
  bool unusableLogged_ = false;  // once per run of frames that cannot be rebuilt
};

}  // namespace vantrel
