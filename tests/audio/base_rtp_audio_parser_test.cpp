// CBaseRTPAudioParser: G.711 buffering into half-second frames, the sequence check, RFC 3640
// access units with the decoder configuration, overflow handling and refused frames.
#include "audio/base_rtp_audio_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_audio_objects.h"
#include "support/fake_driver.h"

namespace vantrel {
namespace {

using testing::DeliveredAudio;
using testing::FakeAudioAllocator;
using testing::FakeDriver;

class RecordingClient : public IAudioParserClient {
 public:
  bool DeliverFrame(ipcapture::IIPAudioFrame* frame) override {
    frames.push_back(testing::Snapshot(frame));
    return accept;
  }
  std::vector<DeliveredAudio> frames;
  bool IsTakingFrames() override { return taking; }
  bool accept = true;
  bool taking = true;
};

class TestParser : public CBaseRTPAudioParser {
 public:
  using CBaseRTPAudioParser::CBaseRTPAudioParser;
  uint64_t NowMs() const override { return now; }
  uint64_t now = 1000000;
};

std::vector<uint8_t> Bytes(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

// One RFC 3640 payload: AU-headers-length 16, one AU header (13-bit size, index 0), the unit.
std::vector<uint8_t> AacPayload(const std::vector<uint8_t>& unit, uint16_t headerBits = 16) {
  std::vector<uint8_t> p(4 + unit.size());
  p[0] = static_cast<uint8_t>(headerBits >> 8);
  p[1] = static_cast<uint8_t>(headerBits);
  p[2] = static_cast<uint8_t>(unit.size() >> 5);
  p[3] = static_cast<uint8_t>((unit.size() & 0x1F) << 3);
  std::copy(unit.begin(), unit.end(), p.begin() + 4);
  return p;
}

AudioFormatBlock AacFormat(uint32_t rate, uint8_t channels, uint32_t bitRate = 128000) {
  return {kAudioTagAac, rate, bitRate, 16, channels, 0};
}

class AudioParserTest : public ::testing::Test {
 protected:
  AudioParserTest() : parser(&driver, 3, &client) {
    driver.allocator = &allocator;
    driver.info.address = "10.0.0.7";
    driver.info.port = 8080;
    parser.SetFormat(G711AudioFormat());
  }
  void Feed(const std::vector<uint8_t>& payload) {
    parser.ProcessData(payload.data(), static_cast<uint32_t>(payload.size()), sequence++);
  }

  FakeDriver driver;
  FakeAudioAllocator allocator;
  RecordingClient client;
  TestParser parser;
  uint16_t sequence = 100;
};

TEST_F(AudioParserTest, G711PayloadsBecomeHalfSecondFrames) {
  struct Case {
    const char* name;
    std::vector<size_t> payloads;
    std::vector<size_t> frames;
    size_t left;
  };
  const Case cases[] = {
      {"one byte is dropped", {1}, {}, 0},
      {"25 packets of 20 ms", std::vector<size_t>(25, 160), {4000}, 0},
      {"just below the threshold", std::vector<size_t>(24, 160), {}, 3840},
      {"the whole buffer goes out", {1000, 1000, 1000, 1500}, {4500}, 0},
      {"one big payload", {6000, 2}, {6000}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    parser.Reset();
    client.frames.clear();
    std::vector<uint8_t> sent;
    for (size_t n : c.payloads) {
      auto p = Bytes(n, static_cast<uint8_t>(sent.size()));
      if (n >= 2) sent.insert(sent.end(), p.begin(), p.end());
      Feed(p);
    }
    ASSERT_EQ(client.frames.size(), c.frames.size());
    size_t offset = 0;
    for (size_t i = 0; i < c.frames.size(); ++i) {
      const DeliveredAudio& f = client.frames[i];
      EXPECT_EQ(f.bytes, std::vector<uint8_t>(sent.begin() + offset, sent.begin() + offset + c.frames[i]));
      offset += c.frames[i];
      EXPECT_EQ(f.fourcc, kAudioTagG711MuLaw);
      EXPECT_EQ(f.sampleRate, 8000u);
      EXPECT_EQ(f.bitsPerSample, 16u);
      EXPECT_FALSE(f.stereo);
      EXPECT_EQ(f.bitRate, 64000u);
      EXPECT_EQ(f.channel, 3u);
      EXPECT_TRUE(f.config.empty());
    }
    EXPECT_EQ(parser.BufferedSamples(), c.left);
  }
  EXPECT_EQ(allocator.allocated, allocator.released);
  EXPECT_EQ(allocator.lastOwner, "10.0.0.7:8080");
}

TEST_F(AudioParserTest, ThresholdFollowsTheBitRate) {
  parser.SetFormat({kAudioTagG711MuLaw, 8000, 32000, 16, 1, 0});
  EXPECT_EQ(parser.GetThreshold(), 2000u);
  // A format without a rate keeps a usable threshold instead of flushing every payload.
  parser.SetFormat({kAudioTagG711MuLaw, 8000, 0, 16, 1, 0});
  EXPECT_EQ(parser.GetThreshold(), CBaseRTPAudioParser::kDefaultThreshold);
}

TEST_F(AudioParserTest, SequenceGapEmptiesTheBufferFirst) {
  struct Case {
    uint16_t first, second;
    size_t buffered;
  };
  const Case cases[] = {{10, 11, 320}, {10, 12, 160}, {65535, 0, 320}, {10, 10, 160}, {10, 9, 160}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.second));
    parser.Reset();
    parser.ProcessData(Bytes(160).data(), 160, c.first);
    parser.ProcessData(Bytes(160).data(), 160, c.second);
    EXPECT_EQ(parser.BufferedSamples(), c.buffered);
  }
  // After a gap the next packet counts as the first of a new run.
  parser.Reset();
  parser.ProcessData(Bytes(160).data(), 160, 1);
  parser.ProcessData(Bytes(160).data(), 160, 5);
  parser.ProcessData(Bytes(160).data(), 160, 6);
  EXPECT_EQ(parser.BufferedSamples(), 320u);
}

TEST_F(AudioParserTest, AacUnitsCarryTheirConfiguration) {
  struct Case {
    const char* name;
    AudioFormatBlock format;
    std::vector<uint8_t> sdpConfig;
    std::vector<uint8_t> expected;
  };
  const std::vector<uint8_t> tooLong(256, 0x11);
  const Case cases[] = {
      {"44.1 kHz stereo without a configuration", AacFormat(44100, 2), {}, {0x12, 0x10}},
      {"16 kHz mono without a configuration", AacFormat(16000, 1), {}, {0x14, 0x08}},
      {"8 kHz mono", AacFormat(8000, 1), {}, {0x15, 0x88}},
      {"the stream's own configuration wins",
       AacFormat(44100, 2),
       {0x12, 0x10, 0x56, 0xE5},
       {0x12, 0x10, 0x56, 0xE5}},
      {"a configuration of 256 bytes is not used", AacFormat(48000, 1), tooLong, {0x11, 0x88}},
      {"an unknown rate gives none", AacFormat(12345, 1), {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    parser.SetFormat(c.format);
    parser.SetDecoderConfig(c.sdpConfig);
    client.frames.clear();
    const auto unit = Bytes(371, 7);
    Feed(AacPayload(unit));
    ASSERT_EQ(client.frames.size(), 1u);
    EXPECT_EQ(client.frames[0].fourcc, kAudioTagAac);
    EXPECT_EQ(client.frames[0].bytes, unit);
    EXPECT_EQ(client.frames[0].config, c.expected);
    EXPECT_EQ(client.frames[0].sampleRate, c.format.sampleRate);
    EXPECT_EQ(client.frames[0].stereo, c.format.channels == 2);
    EXPECT_EQ(parser.BufferedAac(), 0u);
  }
}

// RFC 3640 AAC-hbr packet: the AU-headers-length, one 16-bit header per unit (13-bit size,
// 3-bit index 0 then index-delta 0), then the units. `sizes` overrides the announced sizes.
std::vector<uint8_t> AacPacket(const std::vector<std::vector<uint8_t>>& units,
                               std::vector<size_t> sizes = {}) {
  if (sizes.empty())
    for (const auto& u : units) sizes.push_back(u.size());
  const size_t bits = 16 * sizes.size();
  std::vector<uint8_t> p{static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
  for (size_t n : sizes) {
    p.push_back(static_cast<uint8_t>(n >> 5));
    p.push_back(static_cast<uint8_t>((n & 0x1F) << 3));
  }
  for (const auto& u : units) p.insert(p.end(), u.begin(), u.end());
  return p;
}

TEST_F(AudioParserTest, AacEveryUnitOfAPacketAndFragmentedUnits) {
  parser.SetFormat(AacFormat(16000, 1));
  const auto a = Bytes(300, 1), b = Bytes(200, 50), c = Bytes(17, 90);
  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> packets;
    std::vector<std::vector<uint8_t>> frames;
  };
  // A unit in three fragments: each packet's one header gives the whole unit's size.
  const std::vector<uint8_t> a1(a.begin(), a.begin() + 120), a2(a.begin() + 120, a.begin() + 240),
      a3(a.begin() + 240, a.end());
  const Case cases[] = {
      {"three units in one packet (AU-headers-length 48)", {AacPacket({a, b, c})}, {a, b, c}},
      {"two units, then one", {AacPacket({b, c}), AacPacket({a})}, {b, c, a}},
      {"a unit in three fragments",
       {AacPacket({a1}, {300}), AacPacket({a2}, {300}), AacPacket({a3}, {300})},
       {a}},
      {"a unit in two fragments, then a whole unit",
       {AacPacket({a1}, {300}), AacPacket({a2, a3}, {300}), AacPacket({c})},
       {a, c}},
      {"a fragmented unit whose end never came is dropped",
       {AacPacket({a1}, {300}), AacPacket({b, c})},
       {b, c}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    parser.Reset();
    client.frames.clear();
    for (const auto& packet : k.packets) Feed(packet);
    ASSERT_EQ(client.frames.size(), k.frames.size());
    for (size_t i = 0; i < k.frames.size(); ++i) EXPECT_EQ(client.frames[i].bytes, k.frames[i]) << i;
    EXPECT_EQ(parser.BufferedAac(), 0u);
  }
  // Fragments behind a lost packet are not glued to the ones before it.
  client.frames.clear();
  Feed(AacPacket({a1}, {300}));
  ++sequence;
  Feed(AacPacket({a2}, {300}));
  Feed(AacPacket({a3}, {300}));
  EXPECT_TRUE(client.frames.empty());
  for (const auto& l : driver.Lines()) EXPECT_NE(l.level, kLogError) << l.text;
}

// What the parser cannot take apart is dropped and said once, at level 2; the stream goes on.
TEST_F(AudioParserTest, AacWhatCannotBeTakenApartIsSaidOnce) {
  parser.SetFormat(AacFormat(16000, 1));
  const auto unit = Bytes(40, 3);
  const std::vector<std::vector<uint8_t>> bad = {
      {0x00, 0x00, 1, 2, 3},              // no AU headers
      {0x00, 0x40, 0x01, 0x40},           // 64 bits of headers in a 4-byte packet
      AacPacket({unit, unit}, {40, 60}),  // the second unit runs past the end
      {0x00},                             // shorter than the length field
  };
  for (const auto& packet : bad) Feed(packet);
  int warnings = 0;
  for (const auto& l : driver.Lines()) warnings += l.level == kLogWarning;
  EXPECT_EQ(warnings, 1);
  EXPECT_EQ(client.frames.size(), 1u) << "the first unit of the packet whose second overran";
  Feed(AacPacket({unit}));
  EXPECT_EQ(client.frames.size(), 2u);
  // Interleaved units are delivered in packet order, said once as well.
  auto interleaved = AacPacket({unit, unit});
  interleaved[5] |= 0x01;  // index-delta 1
  parser.SetFormat(AacFormat(16000, 1));
  Feed(interleaved);
  EXPECT_EQ(client.frames.size(), 4u);
}

TEST_F(AudioParserTest, AacHeaderLayoutFromTheDescription) {
  parser.SetFormat(AacFormat(16000, 1));
  // AAC-lbr: 6-bit size, 2-bit index: one byte per header.
  parser.SetAuHeaderLayout({6, 2, 2, 0, 0});
  const auto a = Bytes(20, 1), b = Bytes(33, 2);
  std::vector<uint8_t> packet{0x00, 0x10, static_cast<uint8_t>(20 << 2), static_cast<uint8_t>(33 << 2)};
  packet.insert(packet.end(), a.begin(), a.end());
  packet.insert(packet.end(), b.begin(), b.end());
  Feed(packet);
  ASSERT_EQ(client.frames.size(), 2u);
  EXPECT_EQ(client.frames[0].bytes, a);
  EXPECT_EQ(client.frames[1].bytes, b);
}

TEST_F(AudioParserTest, AacResynchronisesAfterLossAndForeignHeaders) {
  parser.SetFormat(AacFormat(16000, 1));
  const auto unit = Bytes(300, 3);
  auto payload = AacPayload(unit);
  // The first half of a unit, then a lost packet: the rest must not be glued to the next unit.
  parser.ProcessData(payload.data(), 150, 10);
  parser.ProcessData(payload.data(), static_cast<uint32_t>(payload.size()), 12);
  ASSERT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(client.frames[0].bytes, unit);
  // Two AU headers (32 bits) cannot be taken apart by this packetisation: dropped, and the next
  // packet is delivered again.
  parser.ProcessData(AacPayload(unit, 32).data(), static_cast<uint32_t>(payload.size()), 13);
  EXPECT_EQ(parser.BufferedAac(), 0u);
  parser.ProcessData(payload.data(), static_cast<uint32_t>(payload.size()), 14);
  EXPECT_EQ(client.frames.size(), 2u);
}

TEST_F(AudioParserTest, AacOverflowIsReportedAtMostOncePerTenTimeOuts) {
  driver.info.timeout = 1000;
  parser.SetFormat(AacFormat(16000, 1, 16000));  // capacity 1000 bytes
  const std::string message =
      "vantrel::CBaseRTPAudioParser::ParseACCData: Audio buffer overflow max=1000 mAudioBuffer=1000";
  auto count = [&] {
    int n = 0;
    for (const auto& l : driver.Lines()) n += l.level == kLogError && l.text == message;
    return n;
  };
  // A unit announced larger than the buffer.
  auto big = AacPayload(Bytes(1500));
  Feed(big);
  EXPECT_EQ(count(), 1);
  EXPECT_EQ(parser.BufferedAac(), 0u);
  parser.now += 9999;
  Feed(big);
  EXPECT_EQ(count(), 1);
  parser.now += 1;
  Feed(big);
  EXPECT_EQ(count(), 2);
  // The stream goes on with units that fit.
  Feed(AacPayload(Bytes(100)));
  EXPECT_EQ(client.frames.size(), 1u);
}

TEST_F(AudioParserTest, RefusedOrUnallocatedFrames) {
  const std::string refused =
      "vantrel::CBaseRTPAudioParser::ProcessAudioFrame: Audio-frame processing error, camera "
      "10.0.0.7:8080";
  const std::string noMemory =
      "vantrel::CBaseRTPAudioParser::ProcessAudioFrame: Unable to allocate  memory for audio "
      "frame!";
  client.accept = false;
  Feed(Bytes(4000));
  EXPECT_TRUE(driver.HasLine(kLogError, refused));
  EXPECT_EQ(parser.BufferedSamples(), 0u);
  // A refused AAC unit resets the parser; the units behind it in the same payload go with it.
  parser.SetFormat(AacFormat(16000, 1));
  auto two = AacPayload(Bytes(10));
  auto second = AacPayload(Bytes(20));
  two.insert(two.end(), second.begin(), second.end());
  client.frames.clear();
  Feed(two);
  EXPECT_EQ(client.frames.size(), 1u);
  EXPECT_EQ(parser.BufferedAac(), 0u);

  client.accept = true;
  parser.SetFormat(G711AudioFormat());
  allocator.failAllocation = true;
  Feed(Bytes(4000));
  allocator.failAllocation = false;
  allocator.nullData = true;
  Feed(Bytes(4000));
  int lines = 0;
  for (const auto& l : driver.Lines()) lines += l.text == noMemory;
  EXPECT_EQ(lines, 2);
  EXPECT_EQ(allocator.allocated, allocator.released);
  // No allocator, no frames, no crash.
  driver.allocator = nullptr;
  Feed(Bytes(4000));
}

// A frame refused because the channel is stopping (the stop met it on the packet thread) is no
// processing error: every stop would otherwise log one.
TEST_F(AudioParserTest, AFrameRefusedWhileStoppingIsNoError) {
  client.accept = false;
  client.taking = false;
  Feed(Bytes(4000));
  EXPECT_EQ(client.frames.size(), 1u);
  for (const auto& l : driver.Lines()) EXPECT_NE(l.level, kLogError) << l.text;
  EXPECT_EQ(allocator.allocated, allocator.released);
}

int MuLawToLinear(uint8_t u) {
  u = static_cast<uint8_t>(~u);
  const int t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
  return (u & 0x80) ? 0x84 - t : t - 0x84;
}

int ALawToLinearForTest(uint8_t a) {
  a ^= 0x55;
  int t = (a & 0x0F) << 4;
  const int seg = (a & 0x70) >> 4;
  t = seg == 0 ? t + 8 : (t + 0x108) << (seg - 1);
  return (a & 0x80) ? t : -t;
}

// A-law reaches the host as mu-law of (nearly) the same samples, never as A-law bytes under the
// mu-law tag: by the payload type (8) or by the description.
TEST_F(AudioParserTest, ALawBecomesMuLaw) {
  for (int a = 0; a < 256; ++a) {
    const int want = ALawToLinearForTest(static_cast<uint8_t>(a));
    const int got = MuLawToLinear(ALawToMuLaw(static_cast<uint8_t>(a)));
    // Mu-law's step at this level: 1/16 of the value's power-of-two segment, at least 2.
    const int step = std::max(2, std::abs(want) / 16);
    EXPECT_LE(std::abs(got - want), step) << "A-law 0x" << std::hex << a << " = " << std::dec << want;
    EXPECT_EQ(got < 0, want < 0) << a;
  }
  EXPECT_EQ(ALawToMuLaw(0xD5), 0xFE) << "A-law's smallest positive step is mu-law's";
  EXPECT_EQ(ALawToMuLaw(0xAA), 0x80) << "full scale stays full scale";

  std::vector<uint8_t> aLaw(4000);
  for (size_t i = 0; i < aLaw.size(); ++i) aLaw[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> expected(aLaw.size());
  for (size_t i = 0; i < aLaw.size(); ++i) expected[i] = ALawToMuLaw(aLaw[i]);
  struct Case {
    const char* name;
    uint8_t payloadType;
    bool described;
    bool converted;
  };
  const Case cases[] = {
      {"payload type 8", 8, false, true},
      {"described as PCMA with a dynamic payload type", 97, true, true},
      {"payload type 0 is mu-law already", 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    parser.SetFormat(G711AudioFormat());
    parser.SetALaw(c.described);
    client.frames.clear();
    parser.ProcessPacket(aLaw.data(), static_cast<uint32_t>(aLaw.size()), sequence++, c.payloadType, 1u);
    ASSERT_EQ(client.frames.size(), 1u);
    EXPECT_EQ(client.frames[0].fourcc, kAudioTagG711MuLaw);
    EXPECT_EQ(client.frames[0].bytes, c.converted ? expected : aLaw);
  }
}

// Between sessions nothing is taken; within one, a second sender (an earlier session's stream
// still reaching a reused port) is dropped until the first has been silent a while.
TEST_F(AudioParserTest, StaleStreamsAreDropped) {
  const auto samples = Bytes(2000);
  parser.Disarm();
  EXPECT_FALSE(parser.IsArmed());
  parser.ProcessPacket(samples.data(), 2000, 1, 0, 0x1111u);
  parser.ProcessPacket(samples.data(), 2000, 2, 0, 0x1111u);
  EXPECT_TRUE(client.frames.empty()) << "a disarmed parser takes nothing";
  EXPECT_EQ(parser.BufferedSamples(), 0u);

  parser.SetFormat(G711AudioFormat());
  parser.ProcessPacket(samples.data(), 2000, 10, 0, 0x2222u);
  parser.ProcessPacket(samples.data(), 2000, 3, 0, 0x1111u);  // the stale one
  parser.ProcessPacket(samples.data(), 2000, 11, 0, 0x2222u);
  ASSERT_EQ(client.frames.size(), 1u) << "the stale sender neither joined nor broke the sequence";
  EXPECT_EQ(client.frames[0].bytes.size(), 4000u);
  // The kept sender went quiet; the other one is a restarted stream.
  parser.now += CBaseRTPAudioParser::kSenderSilenceMs;
  parser.ProcessPacket(samples.data(), 2000, 4, 0, 0x1111u);
  parser.ProcessPacket(samples.data(), 2000, 5, 0, 0x1111u);
  EXPECT_EQ(client.frames.size(), 2u);
}

// Set-up from the worker and the RTSP thread racing the packet thread: every frame is whole and
// in one format (run under ASan/UBSan natively).
TEST_F(AudioParserTest, SetUpRacingTheDataPath) {
  std::atomic<bool> done{false};
  std::thread setUp([&] {
    for (int i = 0; i < 2000; ++i) {
      parser.Disarm();
      parser.SetDecoderConfig(i % 2 ? std::vector<uint8_t>{0x14, 0x08} : std::vector<uint8_t>());
      parser.SetFormat(i % 2 ? AacFormat(16000, 1) : G711AudioFormat());
    }
    done = true;
  });
  const auto unit = Bytes(100, 5);
  const auto aac = AacPacket({unit, unit});
  const auto g711 = Bytes(4000);
  uint16_t seq = 0;
  while (!done) {
    parser.ProcessPacket(aac.data(), static_cast<uint32_t>(aac.size()), seq++, 96, 7u);
    parser.ProcessPacket(g711.data(), static_cast<uint32_t>(g711.size()), seq++, 0, 7u);
  }
  setUp.join();
  for (const auto& f : client.frames) {
    if (f.fourcc == kAudioTagAac) {
      EXPECT_EQ(f.bytes, unit);
    } else {
      EXPECT_EQ(f.fourcc, kAudioTagG711MuLaw);
      EXPECT_GE(f.bytes.size(), 4000u);
    }
  }
}

TEST(AudioCaptureTime, CivilDatesFromUnixTime) {
  struct Case {
    int64_t ms;
    AudioCaptureTime t;
  };
  const Case cases[] = {
      {0, {1970, 1, 4, 1, 0, 0, 0, 0}},
      {951782400000 + 3723004, {2000, 2, 2, 29, 1, 2, 3, 4}},
      {1765152000000, {2025, 12, 1, 8, 0, 0, 0, 0}},
      {-1, {1969, 12, 3, 31, 23, 59, 59, 999}},
  };
  for (const Case& c : cases) {
    const AudioCaptureTime t = AudioCaptureTimeFromUnixMs(c.ms);
    SCOPED_TRACE(c.ms);
    EXPECT_EQ(t.year, c.t.year);
    EXPECT_EQ(t.month, c.t.month);
    EXPECT_EQ(t.dayOfWeek, c.t.dayOfWeek);
    EXPECT_EQ(t.day, c.t.day);
    EXPECT_EQ(t.hour, c.t.hour);
    EXPECT_EQ(t.minute, c.t.minute);
    EXPECT_EQ(t.second, c.t.second);
    EXPECT_EQ(t.milliseconds, c.t.milliseconds);
  }
}

}  // namespace
}  // namespace vantrel
