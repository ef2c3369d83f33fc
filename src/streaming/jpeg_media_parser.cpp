#include "streaming/jpeg_media_parser.h"

#include <cstring>

#include "core/driver_services.h"
#include "streaming/media_parser_client.h"
#include "streaming/rtp_media_parser.h"
#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {

void CJpegMediaParser::ProcessData(const uint8_t* data, size_t size) {
  if (data == nullptr) return;
  // Start of the bytes of this block that belong to the current image.
  size_t start = 0;
  for (size_t p = 0; p < size; ++p) {
    const uint8_t byte = data[p];
    if (skipLengthBytes_ < 2) {
      skipRemaining_ = (skipRemaining_ << 8) | byte;
      if (++skipLengthBytes_ == 2) skipRemaining_ = skipRemaining_ >= 2 ? skipRemaining_ - 2 : 0;
      continue;
    }
    if (skipRemaining_ > 0) {
      --skipRemaining_;
      continue;
    }
    if (sofRemaining_ > 0) {
      sof_[sizeof(sof_) - sofRemaining_] = byte;
      if (--sofRemaining_ == 0) {
        height_ = (uint32_t{sof_[3]} << 8) | sof_[4];
        width_ = (uint32_t{sof_[5]} << 8) | sof_[6];
      }
    }
    if (!previousWasFF_) {
      previousWasFF_ = byte == 0xFF;
      continue;
    }
    previousWasFF_ = byte == 0xFF;
    switch (byte) {
      case 0xC0:
        sofRemaining_ = sizeof(sof_);
        break;
      case 0xD8:
        // The FF may have been the last byte of the previous block, already appended.
        frame_.clear();
        frame_.push_back(0xFF);
        insideImage_ = true;
        sofRemaining_ = 0;
        skipLengthBytes_ = 2;
        skipRemaining_ = 0;
        start = p;
        break;
      case 0xD9:
        if (insideImage_ && Append(data + start, p + 1 - start)) DeliverImage();
        frame_.clear();
        insideImage_ = false;
        start = p + 1;
        break;
      default:
        if (insideImage_ && ((byte >= 0xE0 && byte <= 0xEF) || byte == 0xFE)) {
          skipLengthBytes_ = 0;
          skipRemaining_ = 0;
        }
        break;
    }
  }
  if (insideImage_ && !Append(data + start, size - start)) {
    insideImage_ = false;
    frame_.clear();
  }
}

bool CJpegMediaParser::Append(const uint8_t* data, size_t size) {
  // Checked before growing, so a block of any size never takes the buffer past the cap.
  if (!CheckBufferSize(size)) return false;
  frame_.insert(frame_.end(), data, data + size);
  return true;
}

void CJpegMediaParser::DeliverImage() {
  if (client_ == nullptr || frame_.empty() || driver_ == nullptr) return;
  ipcapture::IIPFrameAllocator* allocator = driver_->GetFrameAllocator();
  if (allocator == nullptr || width_ == 0 || height_ == 0) return;
  const uint32_t fourcc = MakeFourCC("JPEG");
  ipcapture::IIPFrame* frame =
      allocator->Allocate(fourcc, static_cast<uint32_t>(frame_.size()), client_->GetStreamName().c_str());
  if (frame == nullptr) return;
  SYSTEMTIME time{};
  client_->GetFrameTime(0, &time);
  frame->SetWidth(width_);
  frame->SetHeight(height_);
  frame->SetSizeClass(SizeClassOf(width_, height_));
  frame->SetDataSize(static_cast<uint32_t>(frame_.size()));
  frame->SetFourCC(fourcc);
  frame->SetTime(&time);
  uint8_t* data = frame->GetData();
  if (data != nullptr) {
    std::memcpy(data, frame_.data(), frame_.size());
    client_->OnFrame(frame);
  }
  allocator->Release(frame);
}

}  // namespace vantrel
