#include "streaming/rtp_reorder_buffer.h"

#include <algorithm>

namespace vantrel {

void CRtpReorderBuffer::Reset() {
  started_ = false;
  held_.clear();
}

void CRtpReorderBuffer::ReleaseInOrder(const Deliver& deliver) {
  // Everything held that now follows on without a gap.
  size_t taken = 0;
  while (taken < held_.size() && held_[taken].packet.GetSequenceNumber() == expected_) {
    deliver(held_[taken].packet);
    ++expected_;
    ++taken;
  }
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(taken));
}

void CRtpReorderBuffer::Flush(const Deliver& deliver) {
  // The gap is given up: what is held goes on in order, and the depacketizer sees the loss.
  for (const HeldPacket& h : held_) deliver(h.packet);
  if (!held_.empty()) expected_ = static_cast<uint16_t>(held_.back().packet.GetSequenceNumber() + 1);
  held_.clear();
}

void CRtpReorderBuffer::PushSlow(const CRTPPacket& packet, uint64_t nowMs, const Deliver& deliver) {
  const uint16_t sequence = packet.GetSequenceNumber();
  if (!started_) {
    started_ = true;
    expected_ = sequence;
  }
  const uint16_t ahead = static_cast<uint16_t>(sequence - expected_);
  if (ahead == 0) {
    deliver(packet);
    ++expected_;
    if (!held_.empty()) ReleaseInOrder(deliver);
    return;
  }
  if (ahead >= 0x8000) {
    // Behind what is in order: a duplicate or a packet whose gap was given up, unless the stream
    // jumped back far enough to be a new one.
    if (static_cast<uint16_t>(expected_ - sequence) < kRestartDistance) {
      ++dropped_;
      return;
    }
    Flush(deliver);
    expected_ = sequence;
    deliver(packet);
    ++expected_;
    return;
  }
  // Ahead of a gap: held in order of sequence, duplicates dropped.
  auto at = std::lower_bound(held_.begin(), held_.end(), ahead, [&](const HeldPacket& h, uint16_t distance) {
    return static_cast<uint16_t>(h.packet.GetSequenceNumber() - expected_) < distance;
  });
  if (at != held_.end() && at->packet.GetSequenceNumber() == sequence) {
    ++dropped_;
    return;
  }
  held_.insert(at, HeldPacket{packet, nowMs});
  if (held_.size() > kMaxHeld || nowMs - std::min_element(held_.begin(), held_.end(),
                                                          [](const HeldPacket& a, const HeldPacket& b) {
                                                            return a.arrivedMs < b.arrivedMs;
                                                          })
                                             ->arrivedMs >=
                                     kMaxHoldMs) {
    // The missing packet is lost: skip to the first held one and go on from there.
    expected_ = held_.front().packet.GetSequenceNumber();
    ReleaseInOrder(deliver);
  }
}

}  // namespace vantrel
