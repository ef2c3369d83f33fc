// Pieces the streaming fuzz targets share: a driver, allocator and client that accept every
// frame (touching each delivered byte so ASan sees the copy), and the RFC 4571 framing the seeds
// use (2-byte big-endian length, then an RTP packet), so real captures seed the depacketizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "../tests/support/fake_driver.h"
#include "../tests/support/fake_frame_allocator.h"
#include "streaming/media_parser_client.h"
#include "streaming/rtp_packet.h"

namespace vantrel::fuzzing {

class SinkClient : public IMediaParserClient {
 public:
  bool OnFrame(ipcapture::IIPFrame* frame) override {
    auto* f = static_cast<testing::FakeFrame*>(frame);
    for (uint8_t b : f->Payload()) checksum += b;
    return true;
  }
  void GetRequestedSize(uint32_t& w, uint32_t& h) override { w = h = 0; }
  std::string GetStreamName() override { return "fuzz"; }
  void GetFrameTime(uint32_t, SYSTEMTIME* t) override { *t = SYSTEMTIME{}; }
  unsigned checksum = 0;
};

struct Harness {
  Harness() {
    driver.allocator = &allocator;
    // Released frames are not kept: a long fuzz run must not grow.
  }
  ~Harness() {
    if (allocator.LiveCount() != 0) __builtin_trap();  // a frame was never released
  }
  testing::FakeDriver driver;
  testing::FakeFrameAllocator allocator;
  SinkClient client;
};

// Calls `handle` with each RFC 4571 framed packet of the input.
template <typename Handle>
void ForEachFramedPacket(const uint8_t* data, size_t size, Handle handle) {
  size_t at = 0;
  while (at + 2 <= size) {
    const size_t length = (size_t{data[at]} << 8) | data[at + 1];
    at += 2;
    if (length > size - at) break;
    handle(data + at, length);
    at += length;
  }
}

}  // namespace vantrel::fuzzing
