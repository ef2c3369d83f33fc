#include "streaming/h264_rtp_media_parser.h"

#include <cstring>

#include "core/driver_services.h"
#include "foundation/byte_reader.h"
#include "streaming/h264_sps_reader.h"
#include "streaming/media_parser_client.h"
#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {

namespace {

constexpr uint8_t kStartCode[] = {0, 0, 1};
// Access unit delimiter (primary_pic_type 1) that starts every access unit we hand over.
constexpr uint8_t kAccessUnitDelimiter[] = {0, 0, 1, 0x09, 0x30};
constexpr uint32_t kMinWidth = 160;
constexpr uint32_t kMinHeight = 120;

enum NalType : uint8_t {
  kNalIdr = 5,
  kNalSei = 6,
  kNalSps = 7,
  kNalPps = 8,
  kNalAud = 9,
  kNalStapA = 24,
  kNalFuA = 28,
};

}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CH264RTPMediaParser::Reset() { DiscardFrame(); }

void CH264RTPMediaParser::DiscardFrame() {
  waitForKeyFrame_ = true;
  width_ = 0;
  height_ = 0;
  ClearFrame();
}

void CH264RTPMediaParser::ClearFrame() {
  frame_.clear();
  spsOffset_ = kNoSps;
  inFragmentedUnit_ = false;
}

void CH264RTPMediaParser::BeginNalUnit(uint8_t nalHeader) {
  // The delimiter opens the access unit: H.264 allows it only as the first NAL unit, and one
  // left at the end would make every frame end in an empty access unit that decoders reject.
  if (frame_.empty())
    frame_.insert(frame_.end(), kAccessUnitDelimiter, kAccessUnitDelimiter + sizeof(kAccessUnitDelimiter));
  frame_.insert(frame_.end(), kStartCode, kStartCode + 3);
  // Remembering where the first SPS went spares a scan of the whole access unit per frame.
  if ((nalHeader & 0x1F) == kNalSps && spsOffset_ == kNoSps) spsOffset_ = frame_.size();
}

void CH264RTPMediaParser::SetParameterSets(const std::vector<uint8_t>& sequenceParameterSet,
                                           const std::vector<uint8_t>& pictureParameterSet,
                                           const std::vector<uint8_t>&) {
  if (!sequenceParameterSet.empty() && !pictureParameterSet.empty()) {
    std::vector<uint8_t> annexB(kStartCode, kStartCode + 3);
    annexB.insert(annexB.end(), sequenceParameterSet.begin(), sequenceParameterSet.end());
    annexB.insert(annexB.end(), kStartCode, kStartCode + 3);
    annexB.insert(annexB.end(), pictureParameterSet.begin(), pictureParameterSet.end());
    uint32_t w = 0, h = 0;
    if (CH264SpsReader::FindAndParse(annexB.data(), annexB.size(), w, h)) {
      width_ = w;
      height_ = h;
      sequenceParameterSet_ = sequenceParameterSet;
      pictureParameterSet_ = pictureParameterSet;
    }
  }
  ApplyRequestedSizeIfUnknown();
}

void CH264RTPMediaParser::ApplyRequestedSizeIfUnknown() {
  if ((width_ < kMinWidth || height_ < kMinHeight) && client_ != nullptr)
    client_->GetRequestedSize(width_, height_);
}

void CH264RTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
  if (packet.GetPayloadType() == kIgnoredPayloadType) return;
  try {
    if (!CheckSequence(packet)) DiscardFrame();
    if (!Depacketize(packet.GetPayload(), packet.GetPayloadLength()) || !CheckBufferSize()) {
      DiscardFrame();
      return;
    }
    if (packet.GetMarker() && !frame_.empty()) ProcessFrame(packet.GetTimestamp());
  } catch (...) {
    // Half an access unit left behind would be glued in front of the next one and hand the
    // decoder a corrupt picture; the caller decides what the failure itself means.
    DiscardFrame();
    throw;
  }
}

void CH264RTPMediaParser::AppendNalUnit(const uint8_t* nal, size_t size) {
  BeginNalUnit(nal[0]);
  frame_.insert(frame_.end(), nal, nal + size);
}

void CH264RTPMediaParser::InsertParameterSets() {
  if (!frame_.empty() || sequenceParameterSet_.empty() || pictureParameterSet_.empty()) return;
  AppendNalUnit(sequenceParameterSet_.data(), sequenceParameterSet_.size());
  AppendNalUnit(pictureParameterSet_.data(), pictureParameterSet_.size());
}

void CH264RTPMediaParser::HandleNalUnit(const uint8_t* nal, size_t size) {
  inFragmentedUnit_ = false;
  switch (nal[0] & 0x1F) {
    case kNalIdr:
      InsertParameterSets();
      AppendNalUnit(nal, size);
      break;
    case kNalSei:
    case kNalAud:
      break;
    case kNalSps:
      sequenceParameterSet_.assign(nal, nal + size);
      break;
    case kNalPps:
      pictureParameterSet_.assign(nal, nal + size);
      break;
    default:
      AppendNalUnit(nal, size);
      break;
  }
}

bool CH264RTPMediaParser::Depacketize(const uint8_t* payload, size_t size) {
  if (payload == nullptr || size == 0) return false;
  const uint8_t type = payload[0] & 0x1F;
  if (type >= 1 && type <= 23) {
    if (size < 2) return false;
    HandleNalUnit(payload, size);
    return true;
  }
  if (type == kNalStapA) {
    if (size < 3) return false;
    ByteReader reader(payload + 1, size - 1);
    while (reader.Remaining() >= 2) {
      uint16_t unitSize = 0;
      std::span<const uint8_t> unit;
      reader.ReadU16(unitSize);
      if (!reader.ReadBytes(unitSize, unit)) return false;
      // An empty aggregation unit carries no NAL header to classify; skip it.
      if (!unit.empty()) HandleNalUnit(unit.data(), unit.size());
    }
    return true;
  }
  if (type == kNalFuA) {
    if (size < 3) return false;
    const uint8_t indicator = payload[0], header = payload[1];
    const uint8_t fragmentType = header & 0x1F;
    if (header & 0x80) {  // start bit
      inFragmentedUnit_ = true;
      // SEI and delimiters are dropped however they are packetized: a fragmented SEI left in
      // front of an IDR slice would keep the parameter sets out of the key frame.
      skippingFragmentedUnit_ = fragmentType == kNalSei || fragmentType == kNalAud;
      if (skippingFragmentedUnit_) return true;
      const uint8_t nalHeader = static_cast<uint8_t>((indicator & 0xE0) | fragmentType);
      if (fragmentType == kNalIdr && frame_.empty() && (payload[2] & 0x80)) InsertParameterSets();
      BeginNalUnit(nalHeader);
      frame_.push_back(nalHeader);
    } else if (!inFragmentedUnit_) {
      return false;
    } else if (skippingFragmentedUnit_) {
      return true;
    }
    frame_.insert(frame_.end(), payload + 2, payload + size);
    return true;
  }
  return false;  // 0, 25, 26, 27, 29, 30, 31: not supported
}

void CH264RTPMediaParser::ProcessFrame(uint32_t timestamp) {
  ipcapture::IIPFrameAllocator* allocator = driver_ != nullptr ? driver_->GetFrameAllocator() : nullptr;
  if (allocator == nullptr || client_ == nullptr || frame_.empty()) {
    // Without anyone to deliver to, the access unit is dropped rather than left to grow into
    // the next one.
    ClearFrame();
    return;
  }

  uint32_t fourcc = MakeFourCC("I264");
  uint32_t w = 0, h = 0;
  if (spsOffset_ != kNoSps &&
      CH264SpsReader::ParseNalUnit(frame_.data() + spsOffset_, frame_.size() - spsOffset_, w, h)) {
    width_ = w;
    height_ = h;
    waitForKeyFrame_ = false;
    fourcc = MakeFourCC("H264");
  } else if (waitForKeyFrame_) {
    ClearFrame();
    return;
  }

  ipcapture::IIPFrame* frame = AllocateFrame(fourcc, frame_.size());
  if (frame == nullptr) {
    ClearFrame();
    return;
  }
  // The host's frame goes back to it even when the client throws.
  struct Release {
    CH264RTPMediaParser* self;
    ipcapture::IIPFrame* frame;
    ~Release() { self->ReleaseFrame(frame); }
  } release{this, frame};
  bool delivered = false;
  uint8_t* data = frame->GetData();
  if (data == nullptr) {
    driver_->Log(kLogError, "%s: Data copying error, device %s", "vantrel::CH264RTPMediaParser::ProcessFrame",
                 driver_->GetDeviceAddress().c_str());
  } else {
    std::memcpy(data, frame_.data(), frame_.size());
    ApplyRequestedSizeIfUnknown();
    SYSTEMTIME time{};
    client_->GetFrameTime(timestamp, &time);
    frame->SetWidth(width_);
    frame->SetHeight(height_);
    frame->SetSizeClass(SizeClassOf(width_, height_));
    frame->SetDataSize(static_cast<uint32_t>(frame_.size()));
    frame->SetFourCC(fourcc);
    frame->SetTime(&time);
    delivered = client_->OnFrame(frame);
  }
  if (!delivered) DiscardFrame();
  ClearFrame();
}

}  // namespace vantrel
