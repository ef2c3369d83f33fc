// Feeds an RFC 4571 framed RTP capture (2-byte length, then the packet) through one of our
// depacketizers and writes every delivered frame, back to back, to an output file that ffmpeg
// can read (Annex B H.264, concatenated JPEG, MPEG-4 Visual / H.263 elementary stream).
// Prints one line per frame ("frame <n> <fourcc> <width>x<height> class <c> bytes <size>") and a
// summary line, for the fixture script that checks the result against the source.
//
//   depacketize_tool <h264|jpeg|mp4v|h263> <in.rtp> <out> [--sprop SPS64,PPS64] [--config HEX]
//                    [--jpeg-q Q] [--split N]
//   --jpeg-q Q   strip in-band quantisation tables and send Q instead (tests tables from Q)
//   --split N    pass the capture through the interleaved "$" parser in chunks of N bytes first
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "streaming/base64.h"
#include "streaming/h264_rtp_media_parser.h"
#include "streaming/jpeg_rtp_media_parser.h"
#include "streaming/media_parser_client.h"
#include "streaming/mpeg4_rtp_media_parser.h"
#include "streaming/rtsp_stream_parser.h"
#include "streaming/sdp_response_parser.h"
#include "support/fake_driver.h"
#include "support/fake_frame_allocator.h"

using namespace vantrel;

namespace {

class Client : public IMediaParserClient {
 public:
  explicit Client(std::FILE* out) : out_(out) {}
  bool OnFrame(ipcapture::IIPFrame* frame) override {
    auto* f = static_cast<testing::FakeFrame*>(frame);
    const auto payload = f->Payload();
    std::fwrite(payload.data(), 1, payload.size(), out_);
    std::printf("frame %d %s %ux%u class %u bytes %zu\n", frames, f->FourCC().c_str(), f->width, f->height,
                f->sizeClass, payload.size());
    ++frames;
    return true;
  }
  void GetRequestedSize(uint32_t& w, uint32_t& h) override { w = h = 0; }
  std::string GetStreamName() override { return "tool"; }
  void GetFrameTime(uint32_t, SYSTEMTIME* t) override { *t = SYSTEMTIME{}; }
  int frames = 0;

 private:
  std::FILE* out_;
};

// Drops the quantisation table header and tables of offset-0 packets and sets Q.
void RewriteJpegQ(CRTPPacket& packet, int q) {
  std::vector<uint8_t> p(packet.GetPayload(), packet.GetPayload() + packet.GetPayloadLength());
  if (p.size() < 8 || p[5] < 128) return;
  const size_t header = p[4] >= 64 ? 12 : 8;
  const uint32_t offset = (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  p[5] = static_cast<uint8_t>(q);
  if (offset == 0 && p.size() >= header + 4) {
    const size_t tables = (size_t{p[header + 2]} << 8) | p[header + 3];
    p.erase(p.begin() + static_cast<std::ptrdiff_t>(header),
            p.begin() + static_cast<std::ptrdiff_t>(std::min(p.size(), header + 4 + tables)));
  }
  packet.SetPayload(p.data(), p.size());
}

class Collector : public IRTSPClientUser {
 public:
  bool SdpInfoReceived(const SdpInfo&) override { return true; }
  void OnInterleavedPacket(const CRTPPacket& packet) override { packets.push_back(packet.Serialize()); }
  void OnSessionEnded() override {}
  std::vector<std::vector<uint8_t>> packets;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <h264|jpeg|mp4v|h263> <in.rtp> <out> [options]\n", argv[0]);
    return 2;
  }
  const std::string kind = argv[1];
  std::ifstream in(argv[2], std::ios::binary);
  const std::vector<uint8_t> capture((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::FILE* out = std::fopen(argv[3], "wb");
  if (!out) return 2;
  std::vector<uint8_t> sps, pps, config;
  int jpegQ = 0;
  size_t split = 0;
  for (int i = 4; i + 1 < argc; i += 2) {
    const std::string opt = argv[i], value = argv[i + 1];
    if (opt == "--sprop") {
      const size_t comma = value.find(',');
      if (!Base64Decode(value.substr(0, comma), sps) || !Base64Decode(value.substr(comma + 1), pps)) return 2;
    } else if (opt == "--config") {
      if (!DecodeHexPairs(value, config)) return 2;
    } else if (opt == "--jpeg-q") {
      jpegQ = std::atoi(value.c_str());
    } else if (opt == "--split") {
      split = static_cast<size_t>(std::atoi(value.c_str()));
    }
  }

  // RFC 4571 framing to packets; optionally re-framed as interleaved RTSP to exercise that parser.
  std::vector<std::vector<uint8_t>> packets;
  for (size_t at = 0; at + 2 <= capture.size();) {
    const size_t length = (size_t{capture[at]} << 8) | capture[at + 1];
    if (at + 2 + length > capture.size()) break;
    packets.emplace_back(capture.begin() + static_cast<std::ptrdiff_t>(at + 2),
                         capture.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
    at += 2 + length;
  }
  if (split > 0) {
    std::vector<uint8_t> stream = {'R', 'T', 'S', 'P', '/', '1', '.', '0', ' ', '2', '0', '0', '\r', '\n'};
    for (const auto& p : packets) {
      stream.insert(stream.end(),
                    {'$', 0, static_cast<uint8_t>(p.size() >> 8), static_cast<uint8_t>(p.size())});
      stream.insert(stream.end(), p.begin(), p.end());
      stream.insert(stream.end(), {'$', 1, 0, 4, 0x80, 0xC8, 0, 0});  // RTCP on channel 1: skipped
    }
    Collector collector;
    CRTSPStreamParser parser(&collector, 0);
    for (size_t at = 0; at < stream.size(); at += split)
      parser.Process(stream.data() + at, std::min(split, stream.size() - at));
    if (collector.packets.size() != packets.size()) {
      std::fprintf(stderr, "interleaved parser found %zu of %zu packets\n", collector.packets.size(),
                   packets.size());
      return 1;
    }
    packets = std::move(collector.packets);
  }

  testing::FakeDriver driver;
  testing::FakeFrameAllocator allocator;
  driver.allocator = &allocator;
  Client client(out);
  CH264RTPMediaParser h264(&driver);
  CJpegRTPMediaParser jpeg(&driver);
  CMpeg4RTPMediaParser mpeg4(&driver);
  for (CRTPMediaParser* p : {static_cast<CRTPMediaParser*>(&h264), static_cast<CRTPMediaParser*>(&jpeg),
                             static_cast<CRTPMediaParser*>(&mpeg4)})
    p->SetClient(&client);
  h264.SetParameterSets(sps, pps, {});
  mpeg4.SetParameterSets({}, {}, config);

  size_t bad = 0;
  CRTPPacket packet;
  for (const auto& bytes : packets) {
    if (!packet.Parse(bytes.data(), bytes.size())) {
      ++bad;
      continue;
    }
    if (kind == "h264") {
      h264.ProcessPacket(packet);
    } else if (kind == "jpeg") {
      if (jpegQ > 0) RewriteJpegQ(packet, jpegQ);
      jpeg.ProcessPacket(packet);
    } else if (kind == "mp4v") {
      mpeg4.ProcessPacket(packet);
    } else if (kind == "h263") {
      mpeg4.ProcessPayload(packet.GetPayload(), packet.GetPayloadLength(), packet.GetSequenceNumber(),
                           packet.GetTimestamp(), packet.GetMarker());
    }
  }
  std::fclose(out);
  std::printf("packets %zu rejected %zu frames %d live %zu log %zu\n", packets.size(), bad, client.frames,
              allocator.LiveCount(), driver.Lines().size());
  return bad == 0 && allocator.LiveCount() == 0 ? 0 : 1;
}
