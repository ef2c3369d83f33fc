#include "streaming/jpeg_rtp_media_parser.h"

#include <cstring>

#include "core/driver_services.h"
#include "foundation/byte_reader.h"
#include "streaming/jpeg_header_builder.h"
#include "streaming/media_parser_client.h"
#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {

namespace {

// Reads height and width from an SOF0 marker whose FF is at `at`; needs `after` bytes after it.
bool ReadSof0(const uint8_t* data, size_t size, size_t after, uint32_t& width, uint32_t& height) {
  for (size_t i = 0; i + 1 < size; ++i) {
    if (data[i] != 0xFF || data[i + 1] != 0xC0) continue;
    if (size - i - 1 < after) return false;
    height = (uint32_t{data[i + 5]} << 8) | data[i + 6];
    width = (uint32_t{data[i + 7]} << 8) | data[i + 8];
    return true;
  }
  return false;
}

}  // namespace

CJpegRTPMediaParser::CJpegRTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {
  header_.reserve(CJpegHeaderBuilder::kMaxHeaderSize);
}

void CJpegRTPMediaParser::Reset() { ResetFrame(); }

void CJpegRTPMediaParser::ResetFrame() {
  frame_.clear();
  width_ = 0;
  height_ = 0;
  frameStarted_ = false;
  extensionHeaderSeen_ = false;
  sizeKnown_ = false;
  headerLength_ = 8;
}

void CJpegRTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
  if (!CheckSequence(packet)) ResetFrame();
  const uint8_t* payload = packet.GetPayload();
  const size_t size = packet.GetPayloadLength();
  bool ok = true;
  if (packet.HasExtension() && packet.GetExtensionLength() != 0) {
    const std::vector<uint8_t>& ext = packet.GetExtensionData();
    if (packet.GetExtensionProfile() == kHeaderExtensionProfile) {
      extensionHeaderSeen_ = true;
      if (size <= headerLength_) {
        frame_.assign({0xFF, 0xD8});
        frame_.insert(frame_.end(), ext.begin(), ext.end());
        frameStarted_ = true;
        ok = CheckBufferSize();
        if (!ok) ResetFrame();
      } else {
        // SOF0 needs 8 bytes after the marker for the two sizes; ">8" as the cameras send it.
        uint32_t w = 0, h = 0;
        if (ReadSof0(ext.data(), ext.size(), 9, w, h)) {
          width_ = w;
          height_ = h;
          sizeKnown_ = true;
        }
        ok = TakePayload(payload, size);
      }
    } else if (packet.GetExtensionProfile() == kContinuationProfile) {
      if (!extensionHeaderSeen_) return;
      frame_.insert(frame_.end(), ext.begin(), ext.end());
      ok = CheckBufferSize();
      if (!ok) ResetFrame();
    } else {
      return;
    }
  } else {
    ok = TakePayload(payload, size);
  }
  if (ok && !frame_.empty() && packet.GetMarker()) {
    ProcessFrame(packet.GetTimestamp());
    ResetFrame();
  }
}

bool CJpegRTPMediaParser::TakePayload(const uint8_t* payload, size_t size) {
  if (payload == nullptr || size < 4) return false;
  const uint32_t offset = (uint32_t{payload[1]} << 16) | (uint32_t{payload[2]} << 8) | payload[3];
  // A frame whose JPEG header came in the extension starts with SOI; its packets' RTP/JPEG
  // headers are not image bytes.
  const bool headerFromExtension = frame_.size() >= 2 && frame_[0] == 0xFF && frame_[1] == 0xD8;
  if (offset == 0 && !headerFromExtension) {
    if (size > 11) headerLength_ = (payload[4] >= 64 && payload[4] <= 127) ? 12 : 8;
    frame_.insert(frame_.end(), payload, payload + size);
    frameStarted_ = true;
  } else if (frameStarted_ || (headerFromExtension && offset == 0)) {
    size_t skip = headerLength_;
    if (headerFromExtension && offset == 0) {
      headerLength_ = (size > 11 && payload[4] >= 64 && payload[4] <= 127) ? 12 : 8;
      skip = headerLength_;
      // In-band tables of the first packet belong to the header the extension already gave.
      if (size >= skip + 4 && payload[5] >= 128 && payload[skip] == 0) {
        const size_t tables = (size_t{payload[skip + 2]} << 8) | payload[skip + 3];
        skip += 4 + tables;
      }
      frameStarted_ = true;
    }
    if (size > skip) frame_.insert(frame_.end(), payload + skip, payload + size);
  }
  if (!CheckBufferSize()) {
    ResetFrame();
    return false;
  }
  return true;
}

void CJpegRTPMediaParser::EnsureEndMarker() {
  for (size_t i = frame_.size(); i-- > 0;) {
    if (frame_[i] == 0xFF) {
      if (i + 1 < frame_.size() && frame_[i + 1] == 0xD9) return;
      break;
    }
  }
  frame_.push_back(0xFF);
  frame_.push_back(0xD9);
}

bool CJpegRTPMediaParser::CompleteImage() {
  if (frame_.size() < 9) {
    frame_.clear();
    return false;
  }
  if (frame_[0] == 0xFF && frame_[1] == 0xD8) {
    uint32_t w = 0, h = 0;
    if (ReadSof0(frame_.data(), frame_.size(), 9, w, h)) {
      width_ = w;
      height_ = h;
    }
    EnsureEndMarker();
    return true;
  }
  JpegHeaderInfo info;
  if (!CJpegHeaderBuilder::Build(frame_.data(), frame_.size(), sizeKnown_ ? width_ : sessionWidth_,
                                 sizeKnown_ ? height_ : sessionHeight_, header_, info, &tables_)) {
    // Dropped either way; without a word the integrator sees a camera that is online and black.
    if (!unusableLogged_ && driver_ != nullptr) {
      unusableLogged_ = true;
      driver_->Log(kLogWarning,
                   "%s: JPEG frame of device %s dropped: its RTP/JPEG header cannot be made into a picture",
                   "vantrel::CJpegRTPMediaParser::CompleteImage", driver_->GetDeviceAddress().c_str());
    }
    return false;
  }
  unusableLogged_ = false;
  width_ = info.width;
  height_ = info.height;
  // Replace the consumed RTP/JPEG headers by the JFIF header, in place.
  if (header_.size() >= info.consumed) {
    const size_t grow = header_.size() - info.consumed;
    frame_.insert(frame_.begin(), grow, 0);
  } else {
    frame_.erase(frame_.begin(),
                 frame_.begin() + static_cast<std::ptrdiff_t>(info.consumed - header_.size()));
  }
  std::memcpy(frame_.data(), header_.data(), header_.size());
  EnsureEndMarker();
  return true;
}

void CJpegRTPMediaParser::ProcessFrame(uint32_t timestamp) {
  if (!CompleteImage() || client_ == nullptr) return;
  ipcapture::IIPFrame* frame = AllocateFrame(MakeFourCC("JPEG"), frame_.size());
  if (frame == nullptr) {
    if (driver_ != nullptr)
      driver_->Log(kLogError, "%s: Frame allocation error, device %s",
                   "vantrel::CJpegRTPMediaParser::ProcessFrame", driver_->GetDeviceAddress().c_str());
    return;
  }
  uint8_t* data = frame->GetData();
  if (data != nullptr) {
    std::memcpy(data, frame_.data(), frame_.size());
    SYSTEMTIME time{};
    client_->GetFrameTime(timestamp, &time);
    frame->SetDataSize(static_cast<uint32_t>(frame_.size()));
    frame->SetWidth(width_);
    frame->SetHeight(height_);
    frame->SetSizeClass(SizeClassOf(width_, height_));
    frame->SetFourCC(MakeFourCC("JPEG"));
    frame->SetTime(&time);
    if (!client_->OnFrame(frame)) ResetFrame();
  }
  ReleaseFrame(frame);
}

}  // namespace vantrel
