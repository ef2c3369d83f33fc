// Splits the RTP packets of one interleaved channel out of an RTSP TCP connection ("$" framing,
// RFC 2326 section 10.12):
//
//   +------+---------+-----------------+----------------------+
//   | '$'  | channel | length (16, BE) | RTP packet (length)  |
//   +------+---------+-----------------+----------------------+
//
// Everything else on the connection (RTSP responses, RTCP on channel + 1, other channels) is
// skipped by seeking the two-byte pattern '$' channel. Bytes may arrive in any split; the
// machine keeps its state between calls. A zero length is skipped; a length up to 65535 is
// always accepted, so the packet buffer is bounded by the framing itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/rtp_packet.h"
#include "streaming/sdp_info.h"

namespace vantrel {

// What the RTSP client calls on its owner. Called on the RTSP client thread.
class IRTSPClientUser {
 public:
  virtual ~IRTSPClientUser() = default;
  // The session description after SETUP; false stops the session before PLAY.
  virtual bool SdpInfoReceived(const SdpInfo& info) = 0;
  // One RTP packet taken from the RTSP connection (transport mode 2).
  virtual void OnInterleavedPacket(const CRTPPacket& packet) = 0;
  // The session has ended, or failed to start.
  virtual void OnSessionEnded() = 0;
  // A sender report on the RTCP channel (transport mode 2): `ntp` is the instant of `rtpTimestamp`.
  virtual void OnSenderReport(uint64_t ntp, uint32_t rtpTimestamp) { (void)ntp, (void)rtpTimestamp; }
};

class CRTSPStreamParser {
 public:
  // `user` is borrowed; it outlives the parser (the RTSP client's owner).
  CRTSPStreamParser(IRTSPClientUser* user, uint8_t channel);
  virtual ~CRTSPStreamParser() = default;

  CRTSPStreamParser(const CRTSPStreamParser&) = delete;
  CRTSPStreamParser& operator=(const CRTSPStreamParser&) = delete;

  void Process(const uint8_t* data, size_t size);

 private:
  enum class State { kSeek, kLength, kPayload };

  void Deliver();

  IRTSPClientUser* const user_;
  const uint8_t channel_;
  State state_ = State::kSeek;
  size_t matched_ = 0;  // bytes of '$' channel matched so far
  size_t lengthBytes_ = 0;
  size_t length_ = 0;
  std::vector<uint8_t> payload_;  // reused from packet to packet
  CRTPPacket packet_;             // reused, so steady-state framing does not allocate
};

}  // namespace vantrel
