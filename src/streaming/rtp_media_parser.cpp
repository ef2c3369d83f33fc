#include "streaming/rtp_media_parser.h"

#include "core/driver_services.h"
#include "streaming/media_parser_client.h"
#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {

uint32_t SizeClassOf(uint32_t width, uint32_t height) {
  if (width < 200) return 1;
  if (width < 400) return 2;
  if (width >= 1024) return 4;
  return width > 2ull * height ? 3 : 4;
}

CRTPMediaParser::CRTPMediaParser(IDriver* driver) : driver_(driver) {}

void CRTPMediaParser::SetParameterSets(const std::vector<uint8_t>& sequenceParameterSet,
                                       const std::vector<uint8_t>& pictureParameterSet,
                                       const std::vector<uint8_t>& configuration) {
  sequenceParameterSet_ = sequenceParameterSet;
  pictureParameterSet_ = pictureParameterSet;
  configuration_ = configuration;
}

bool CRTPMediaParser::CheckSequence(uint16_t sequenceNumber) {
  const bool ok =
      sequenceCheckOff_ || firstPacket_ || sequenceNumber == static_cast<uint16_t>(lastSequence_ + 1);
  firstPacket_ = false;
  lastSequence_ = sequenceNumber;
  return ok;
}

bool CRTPMediaParser::CheckBufferSize() {
  if (frame_.size() <= kMaxFrameSize) return true;
  if (driver_ != nullptr) {
    const DEVICE_INFO& info = driver_->GetDeviceInfo();
    driver_->Log(kLogError, "%s: Frame buffer overflow detected, device %s:%u",
                 "vantrel::CRTPMediaParser::CheckBufferSize", info.address.c_str(), info.port);
  }
  return false;
}

ipcapture::IIPFrame* CRTPMediaParser::AllocateFrame(uint32_t fourcc, size_t size) {
  ipcapture::IIPFrameAllocator* allocator = driver_ != nullptr ? driver_->GetFrameAllocator() : nullptr;
  if (allocator == nullptr || client_ == nullptr) return nullptr;
  return allocator->Allocate(fourcc, static_cast<uint32_t>(size), client_->GetStreamName().c_str());
}

void CRTPMediaParser::ReleaseFrame(ipcapture::IIPFrame* frame) {
  ipcapture::IIPFrameAllocator* allocator = driver_ != nullptr ? driver_->GetFrameAllocator() : nullptr;
  if (allocator != nullptr && frame != nullptr) allocator->Release(frame);
}

}  // namespace vantrel
