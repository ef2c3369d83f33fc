// Base of the RTP depacketizers: the frame being assembled, the parameter sets from the SDP,
// the sequence check and the frame-size cap. Used only on the thread that delivers its packets
// (the RTP receiver's queue thread, or the RTSP client thread for interleaved RTP).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/rtp_packet.h"

namespace vantrel {

class IDriver;
class IMediaParserClient;

namespace ipcapture {
class IIPFrame;
}

// First character in the lowest byte, as the host reads FourCCs.
constexpr uint32_t MakeFourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) | (uint32_t(uint8_t(s[2])) << 16) |
         (uint32_t(uint8_t(s[3])) << 24);
}

// Host size class of an H.264 or JPEG picture (1 smallest to 4).
uint32_t SizeClassOf(uint32_t width, uint32_t height);

class CRTPMediaParser {
 public:
  // A stream that never sets the marker bit stops growing the frame here.
  static constexpr size_t kMaxFrameSize = 10485760;  // 0xA00000

  // `driver` is borrowed: the driver outlives every channel and its parser.
  explicit CRTPMediaParser(IDriver* driver);
  virtual ~CRTPMediaParser() = default;

  CRTPMediaParser(const CRTPMediaParser&) = delete;
  CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

  virtual void ProcessPacket(const CRTPPacket& packet) = 0;
  virtual void Reset() = 0;
  // The SDP's sequence parameter set, picture parameter set and configuration, in that order.
  virtual void SetParameterSets(const std::vector<uint8_t>& sequenceParameterSet,
                                const std::vector<uint8_t>& pictureParameterSet,
                                const std::vector<uint8_t>& configuration);

  // `client` is borrowed: the channel that owns this parser.
  void SetClient(IMediaParserClient* client) { client_ = client; }
  // Replayed recordings may arrive with holes in the numbering that are not losses.
  void SetSequenceCheckOff(bool off) { sequenceCheckOff_ = off; }

  // True when checking is off, for the first packet, or when the number follows the previous
  // one; the number is remembered in every case.
  bool CheckSequence(uint16_t sequenceNumber);
  bool CheckSequence(const CRTPPacket& packet) { return CheckSequence(packet.GetSequenceNumber()); }
  // False (with the overflow message) once the frame buffer is above kMaxFrameSize.
  bool CheckBufferSize();

  const std::vector<uint8_t>& GetFrameBuffer() const { return frame_; }

 protected:
  // Copies `data` into a frame allocated from the host; false with nothing allocated when the
  // driver has no allocator or the allocation fails. The caller fills and releases the frame.
  ipcapture::IIPFrame* AllocateFrame(uint32_t fourcc, size_t size);
  void ReleaseFrame(ipcapture::IIPFrame* frame);

  uint16_t lastSequence_ = 0;
  bool firstPacket_ = true;
  IDriver* const driver_;
  IMediaParserClient* client_ = nullptr;
  std::vector<uint8_t> frame_;
  std::vector<uint8_t> sequenceParameterSet_;
  std::vector<uint8_t> pictureParameterSet_;
  std::vector<uint8_t> configuration_;
  bool sequenceCheckOff_ = false;
};

}  // namespace vantrel
