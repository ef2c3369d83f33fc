#include "streaming/http_media_parser.h"

#include "core/driver_services.h"

namespace vantrel {

bool CHttpMediaParser::CheckBufferSize(size_t adding) {
  if (frame_.size() + adding <= kMaxFrameSize) return true;
  if (driver_ != nullptr)
    driver_->Log(kLogError, "%s: Frame buffer overflow detected, device %s",
                 "vantrel::CHttpMediaParser::CheckBufferSize", driver_->GetDeviceAddress().c_str());
  return false;
}

}  // namespace vantrel
