#include "streaming/rtsp_stream_parser.h"

#include <algorithm>

namespace vantrel {

CRTSPStreamParser::CRTSPStreamParser(IRTSPClientUser* user, uint8_t channel)
    : user_(user), channel_(channel) {
  payload_.reserve(2048);
}

void CRTSPStreamParser::Process(const uint8_t* data, size_t size) {
  if (data == nullptr) return;
  size_t at = 0;
  while (at < size) {
    switch (state_) {
      case State::kSeek: {
        const uint8_t byte = data[at++];
        if (matched_ == 1 && byte == channel_) {
          matched_ = 0;
          state_ = State::kLength;
          lengthBytes_ = 0;
          length_ = 0;
        } else {
          // A mismatch is compared again with the pattern's first byte.
          matched_ = byte == '$' ? 1 : 0;
        }
        break;
      }
      case State::kLength:
        length_ = (length_ << 8) | data[at++];
        if (++lengthBytes_ == 2) {
          if (length_ == 0) {
            state_ = State::kSeek;
          } else {
            payload_.clear();
            state_ = State::kPayload;
          }
        }
        break;
      case State::kPayload: {
        const size_t take = std::min(length_ - payload_.size(), size - at);
        payload_.insert(payload_.end(), data + at, data + at + take);
        at += take;
        if (payload_.size() == length_) {
          state_ = State::kSeek;
          Deliver();
        }
        break;
      }
    }
  }
}

void CRTSPStreamParser::Deliver() {
  // A frame that is not RTP (a camera's RTCP on the same channel number, garbage) is dropped.
  if (packet_.Parse(payload_.data(), payload_.size()) && user_ != nullptr)
    user_->OnInterleavedPacket(packet_);
}

}  // namespace vantrel
