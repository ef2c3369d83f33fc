// A small reorder window in front of the depacketizer's sequence check. UDP may swap two
// datagrams; without the window the swap reads as a loss and the rest of the group of pictures is
// discarded. In-order packets pass straight through without being copied; only a packet that
// arrives ahead of a gap is held, and only until the gap fills, more than kMaxHeld packets wait,
// or the oldest has waited kMaxHoldMs (checked as packets arrive). Duplicates and packets that
// come after their place was given up are dropped. Portable, so it is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "streaming/rtp_packet.h"

namespace vantrel {

class CRtpReorderBuffer {
 public:
  static constexpr size_t kMaxHeld = 4;
  static constexpr uint64_t kMaxHoldMs = 50;
  // A packet further behind than this is a restarted stream, not a late one: it starts afresh.
  static constexpr uint16_t kRestartDistance = 1000;

  using Deliver = std::function<void(const CRTPPacket&)>;

  // `nowMs` is any monotonic millisecond clock. The in-order case is inline and calls `deliver`
  // directly, so a stream without reordering pays one comparison per packet.
  template <typename F>
  void Push(const CRTPPacket& packet, uint64_t nowMs, F&& deliver) {
    if (started_ && held_.empty() && packet.GetSequenceNumber() == expected_) {
      ++expected_;
      deliver(packet);
      return;
    }
    PushSlow(packet, nowMs, Deliver(std::ref(deliver)));
  }
  // Hands over what is held, in order (a stream that stops, a session that ends).
  void Flush(const Deliver& deliver);
  void Reset();
  size_t Held() const { return held_.size(); }
  uint64_t Dropped() const { return dropped_; }

 private:
  struct HeldPacket {
    CRTPPacket packet;
    uint64_t arrivedMs;
  };
  void PushSlow(const CRTPPacket& packet, uint64_t nowMs, const Deliver& deliver);
  void ReleaseInOrder(const Deliver& deliver);

  bool started_ = false;
  uint16_t expected_ = 0;         // the sequence number that would be in order
  std::vector<HeldPacket> held_;  // sorted by distance from expected_
  uint64_t dropped_ = 0;
};

}  // namespace vantrel
