// Shared pieces of the depacketizer tests: a client that records what it was handed and a
// builder for RTP packets.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "streaming/media_parser_client.h"
#include "streaming/rtp_packet.h"
#include "support/fake_driver.h"
#include "support/fake_frame_allocator.h"

namespace vantrel::testing {

class RecordingClient : public IMediaParserClient {
 public:
  bool OnFrame(ipcapture::IIPFrame* frame) override {
    if (throwOnFrame) {
      throwOnFrame = false;
      throw std::runtime_error("host callback failed");
    }
    auto* f = static_cast<FakeFrame*>(frame);
    frames.push_back({f->Payload(), f->FourCC(), f->width, f->height, f->sizeClass, f->allocatedFourcc});
    return accept;
  }
  void GetRequestedSize(uint32_t& w, uint32_t& h) override {
    w = requestedWidth;
    h = requestedHeight;
  }
  std::string GetStreamName() override { return "Test::LiveStream"; }
  void GetFrameTime(uint32_t rtpTimestamp, SYSTEMTIME* time) override {
    timestamps.push_back(rtpTimestamp);
    *time = SYSTEMTIME{};
    time->wYear = 2026;
  }

  struct Frame {
    std::vector<uint8_t> data;
    std::string fourcc;
    uint32_t width, height, sizeClass, allocatedFourcc;
  };
  std::vector<Frame> frames;
  std::vector<uint32_t> timestamps;
  bool accept = true;
  bool throwOnFrame = false;  // the next OnFrame throws once
  uint32_t requestedWidth = 0, requestedHeight = 0;
};

// Driver, allocator and client wired together, as a channel would.
struct ParserHarness {
  ParserHarness() { driver.allocator = &allocator; }
  FakeDriver driver;
  FakeFrameAllocator allocator;
  RecordingClient client;
};

inline CRTPPacket MakePacket(uint16_t sequence, uint32_t timestamp, bool marker,
                             const std::vector<uint8_t>& payload, uint8_t payloadType = 96) {
  CRTPPacket packet;
  packet.SetSequenceNumber(sequence);
  packet.SetTimestamp(timestamp);
  packet.SetMarker(marker);
  packet.SetPayloadType(payloadType);
  packet.SetPayload(payload.data(), payload.size());
  return packet;
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace vantrel::testing
