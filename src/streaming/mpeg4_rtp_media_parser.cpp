#include "streaming/mpeg4_rtp_media_parser.h"

#include <cstring>

#include "core/driver_services.h"
#include "streaming/media_parser_client.h"
#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {

namespace {

constexpr uint8_t kLowBitMask[8] = {0xFF, 0x7F, 0x3F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
constexpr uint8_t kHighBitMask[8] = {0xFF, 0xFE, 0xFC, 0xF8, 0xF0, 0xE0, 0xC0, 0x80};
constexpr uint32_t kSmallWidth = 380;

// Position of the next VOP start code (00 00 01 B6) at or after `from`, or `size`.
size_t NextVop(const uint8_t* data, size_t size, size_t from) {
  for (size_t i = from; i + 3 < size; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6) return i;
  return size;
}

}  // namespace

CMpeg4RTPMediaParser::CMpeg4RTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CMpeg4RTPMediaParser::Reset() {
  ReturnToWaiting();
  intraPicture_ = false;
  previousEbit_ = 0;
  previousLastByte_ = 0;
}

void CMpeg4RTPMediaParser::ReturnToWaiting() {
  waitForKeyFrame_ = true;
  width_ = 0;
  height_ = 0;
  frame_.clear();
}

void CMpeg4RTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
  if (!CheckSequence(packet)) ReturnToWaiting();
  if (packet.GetPayloadLength() > 0) Append(packet.GetPayload(), packet.GetPayloadLength());
  if (!packet.GetMarker() || frame_.empty()) return;
  // RFC 3016 lets a packet carry several VOPs; each becomes a frame of its own, the headers in
  // front of the first (VOS, VOL, GOV) staying with it.
  size_t begin = 0;
  size_t at = NextVop(frame_.data(), frame_.size(), 0);
  if (at < frame_.size()) at = NextVop(frame_.data(), frame_.size(), at + 4);
  while (at < frame_.size()) {
    ProcessPicture(frame_.data() + begin, at - begin, packet.GetTimestamp());
    begin = at;
    at = NextVop(frame_.data(), frame_.size(), at + 4);
  }
  ProcessPicture(frame_.data() + begin, frame_.size() - begin, packet.GetTimestamp());
  frame_.clear();
}

void CMpeg4RTPMediaParser::ProcessPayload(const uint8_t* payload, size_t size, uint16_t sequenceNumber,
                                          uint32_t timestamp, bool endOfFrame) {
  if (!CheckSequence(sequenceNumber)) {
    ReturnToWaiting();
    // The saved partial byte belongs to a packet before the gap.
    previousEbit_ = 0;
  }
  if (payload == nullptr) size = 0;
  const uint8_t first = size > 0 ? payload[0] : 0;
  const uint8_t ebit = first & 0x07;
  const uint8_t sbit = (first >> 3) & 0x07;
  const size_t headerLength = !(first & 0x80) ? 4 : ((first & 0x40) ? 12 : 8);
  if (size > headerLength) {
    const uint8_t* data = payload + headerLength;
    size_t count = size - headerLength;
    const uint8_t lastByte = payload[size - 1];
    if (previousEbit_ != 0) {
      const uint8_t merged = static_cast<uint8_t>((data[0] & kLowBitMask[sbit]) |
                                                  (previousLastByte_ & kHighBitMask[previousEbit_]));
      Append(&merged, 1);
      ++data;
      --count;
    }
    if (ebit != 0 && count > 0) --count;
    if (count > 0) Append(data, count);
    previousEbit_ = ebit;
    previousLastByte_ = lastByte;
  } else {
    previousEbit_ = 0;
    previousLastByte_ = 0;
  }
  if (endOfFrame) {
    if (!frame_.empty()) ProcessPicture(frame_.data(), frame_.size(), timestamp);
    frame_.clear();
  }
}

void CMpeg4RTPMediaParser::Append(const uint8_t* data, size_t size) {
  if (frame_.empty()) intraPicture_ = false;
  frame_.insert(frame_.end(), data, data + size);
  if (!CheckBufferSize()) ReturnToWaiting();
}

void CMpeg4RTPMediaParser::ProcessPicture(const uint8_t* data, size_t size, uint32_t timestamp) {
  if (client_ == nullptr || size == 0) return;
  // Intra detection looks at the whole picture: an MPEG-4 Visual picture may carry its VOS, VOL
  // and GOV headers before the VOP header.
  intraPicture_ = CMP4Parser::IsIntraPicture(data, size);
  if (waitForKeyFrame_) {
    if (!intraPicture_) return;
    waitForKeyFrame_ = false;
  }
  uint32_t fourcc = 0;
  const uint8_t* picture = data;
  size_t pictureSize = size;
  if (intraPicture_) {
    uint32_t w = 0, h = 0;
    if (mp4Parser_.GetPictureSize(data, size, w, h) || CMP4Parser::GetShortHeaderSize(data, size, w, h)) {
      width_ = w;
      height_ = h;
    } else if (mp4Parser_.GetPictureSize(configuration_.data(), configuration_.size(), w, h)) {
      // The VOL came only in the SDP: put it in front of the key frame so that it decodes on
      // its own, as the H.264 parser does with the parameter sets.
      width_ = w;
      height_ = h;
      withConfiguration_.assign(configuration_.begin(), configuration_.end());
      withConfiguration_.insert(withConfiguration_.end(), data, data + size);
      picture = withConfiguration_.data();
      pictureSize = withConfiguration_.size();
    } else {
      // The caller empties the buffer after the picture(s): clearing it here would pull it away
      // from under a packet with several VOPs.
      waitForKeyFrame_ = true;
      width_ = 0;
      height_ = 0;
      return;
    }
    fourcc = MakeFourCC(width_ <= kSmallWidth ? "DIVX" : "DIVD");
  } else {
    fourcc = MakeFourCC(width_ <= kSmallWidth ? "DIVI" : "DIVP");
  }
  const uint32_t sizeClass = width_ <= kSmallWidth ? 2 : 4;

  ipcapture::IIPFrame* frame = AllocateFrame(fourcc, pictureSize);
  if (frame == nullptr) return;
  SYSTEMTIME time{};
  client_->GetFrameTime(timestamp, &time);
  frame->SetWidth(width_);
  frame->SetHeight(height_);
  frame->SetSizeClass(sizeClass);
  frame->SetDataSize(static_cast<uint32_t>(pictureSize));
  frame->SetFourCC(fourcc);
  frame->SetTime(&time);
  uint8_t* target = frame->GetData();
  bool delivered = false;
  if (target != nullptr) {
    std::memcpy(target, picture, pictureSize);
    delivered = client_->OnFrame(frame);
  }
  if (!delivered) {
    waitForKeyFrame_ = true;
    width_ = 0;
    height_ = 0;
  }
  ReleaseFrame(frame);
}

}  // namespace vantrel
