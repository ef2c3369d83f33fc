#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/base_rtp_audio_parser.h"
#include "streaming/rtp_packet.h"
#include "streaming_fuzz_support.h"
#include "vantrel/ipcapture/audio_types.h"

// Input: one byte choosing the format (bit 0: AAC, bits 1-3: bit rate, bit 4: stereo, bit 5:
// a decoder configuration from the stream, bit 6: the host refuses every third frame, bit 7:
// another AU header layout and A-law), then
// RFC 4571 framed RTP packets whose payloads go to the audio parser with their sequence
// numbers. Checks that buffers stay inside their bounds and every frame is released.
namespace {

class CountingFrame final : public vantrel::ipcapture::IIPAudioFrame {
 public:
  explicit CountingFrame(uint32_t size) : buffer(size) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  uint8_t* GetData() override { return buffer.data(); }
  uint32_t GetDataSize() override { return size; }
  void SetDataSize(uint32_t n) override {
    if (n > buffer.size()) __builtin_trap();
    size = n;
  }
  uint32_t GetFourCC() override { return 0; }
  void SetFormat(uint32_t, uint32_t, bool) override {}
  uint32_t GetSampleRate() override { return 0; }
  uint32_t GetBitsPerSample() override { return 0; }
  bool IsStereo() override { return false; }
  void SetBitRate(uint32_t) override {}
  uint32_t GetBitRate() override { return 0; }
  void SetChannel(uint32_t) override {}
  uint32_t GetChannel() override { return 0; }
  void SetTime(const SYSTEMTIME*) override {}
  void GetTime(SYSTEMTIME*) override {}
  void SetDecoderConfig(const uint8_t* bytes, uint32_t n) override {
    if (n >= 256) __builtin_trap();
    for (uint32_t i = 0; i < n; ++i) checksum += bytes[i];
  }
  std::vector<uint8_t> buffer;
  uint32_t size = 0;
  unsigned checksum = 0;
};

class CountingAllocator final : public vantrel::ipcapture::IIPFrameAllocator {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  vantrel::ipcapture::IIPFrame* Allocate(uint32_t, uint32_t, const char*) override { return nullptr; }
  void* AllocateAudio(uint32_t, uint32_t size, const char*) override {
    ++live;
    return new CountingFrame(size);
  }
  void Reserved4() override {}
  void Reserved5() override {}
  void Release(void* frame) override {
    --live;
    delete static_cast<CountingFrame*>(frame);
  }
  int live = 0;
};

class Client final : public vantrel::IAudioParserClient {
 public:
  bool DeliverFrame(vantrel::ipcapture::IIPAudioFrame* frame) override {
    auto* f = static_cast<CountingFrame*>(frame);
    for (uint32_t i = 0; i < f->size; ++i) checksum += f->buffer[i];
    return !refuse || ++count % 3 != 0;
  }
  bool refuse = false;
  unsigned count = 0;
  unsigned checksum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static constexpr uint32_t kBitRates[] = {0, 16, 8000, 16000, 64000, 128000, 320000, 0xFFFFFFFFu};
  const uint8_t mode = data[0];
  vantrel::testing::FakeDriver driver;
  CountingAllocator allocator;
  driver.allocator = &allocator;
  Client client;
  client.refuse = (mode & 0x40) != 0;
  {
    vantrel::CBaseRTPAudioParser parser(&driver, 1, &client);
    vantrel::AudioFormatBlock format = vantrel::G711AudioFormat();
    if (mode & 1) format.tag = vantrel::kAudioTagAac;
    format.sampleRate = (mode & 1) ? 44100 : 8000;
    format.bitRate = kBitRates[(mode >> 1) & 7];
    format.channels = (mode & 0x10) ? 2 : 1;
    parser.SetFormat(format);
    if (mode & 0x20) parser.SetDecoderConfig(std::vector<uint8_t>(data + 1, data + (size > 9 ? 9 : size)));
    // Bit 7: the AU header layout of AAC-lbr (6/2/2) with CTS and DTS deltas; G.711 as A-law.
    if (mode & 0x80) {
      parser.SetAuHeaderLayout({6, 2, 2, 3, 3});
      parser.SetALaw(true);
    }
    vantrel::CRTPPacket packet;
    vantrel::fuzzing::ForEachFramedPacket(data + 1, size - 1, [&](const uint8_t* p, size_t n) {
      if (!packet.Parse(p, n)) return;
      parser.ProcessPacket(packet.GetPayload(), packet.GetPayloadLength(), packet.GetSequenceNumber(),
                           packet.GetPayloadType(), packet.GetSsrc());
      if (parser.BufferedAac() > parser.GetThreshold()) __builtin_trap();
      if (parser.BufferedSamples() >= parser.GetThreshold()) __builtin_trap();
    });
  }
  if (allocator.live != 0) __builtin_trap();
  return 0;
}
