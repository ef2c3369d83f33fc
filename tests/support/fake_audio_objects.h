// Host audio objects for tests: an audio frame that records what the driver set, an allocator
// whose audio allocation makes them (and can be made to fail), and an audio callback that keeps
// the delivered frames' contents and the status reports.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vantrel/ipcapture/audio_types.h"
#include "vantrel/ipcapture/host_objects.h"

namespace vantrel::testing {

class FakeAudioFrame final : public ipcapture::IIPAudioFrame {
 public:
  FakeAudioFrame(uint32_t fourcc, uint32_t size) : fourcc(fourcc), buffer(size) {}

  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  uint8_t* GetData() override { return nullData ? nullptr : buffer.data(); }
  uint32_t GetDataSize() override { return dataSize; }
  void SetDataSize(uint32_t size) override { dataSize = size; }
  uint32_t GetFourCC() override { return fourcc; }
  void SetFormat(uint32_t rate, uint32_t bits, bool isStereo) override {
    sampleRate = rate, bitsPerSample = bits, stereo = isStereo;
  }
  uint32_t GetSampleRate() override { return sampleRate; }
  uint32_t GetBitsPerSample() override { return bitsPerSample; }
  bool IsStereo() override { return stereo; }
  void SetBitRate(uint32_t rate) override { bitRate = rate; }
  uint32_t GetBitRate() override { return bitRate; }
  void SetChannel(uint32_t value) override { channel = value; }
  uint32_t GetChannel() override { return channel; }
  void SetTime(const SYSTEMTIME* utc) override {
    if (utc) time = *utc;
  }
  void GetTime(SYSTEMTIME* utc) override {
    if (utc) *utc = time;
  }
  void SetDecoderConfig(const uint8_t* bytes, uint32_t size) override { config.assign(bytes, bytes + size); }

  std::vector<uint8_t> Payload() const {
    return std::vector<uint8_t>(buffer.begin(),
                                buffer.begin() + (dataSize < buffer.size() ? dataSize : buffer.size()));
  }

  uint32_t fourcc;
  std::vector<uint8_t> buffer;
  bool nullData = false;
  uint32_t dataSize = 0;
  uint32_t sampleRate = 0, bitsPerSample = 0, bitRate = 0, channel = 0xFFFFFFFF;
  bool stereo = false;
  SYSTEMTIME time{};
  std::vector<uint8_t> config;
};

class FakeAudioAllocator final : public ipcapture::IIPFrameAllocator {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  ipcapture::IIPFrame* Allocate(uint32_t, uint32_t, const char*) override { return nullptr; }
  void* AllocateAudio(uint32_t fourcc, uint32_t size, const char* owner) override {
    std::lock_guard<std::mutex> guard(mutex);
    lastOwner = owner ? owner : "";
    if (failAllocation) return nullptr;
    frames.push_back(std::make_unique<FakeAudioFrame>(fourcc, size));
    frames.back()->nullData = nullData;
    ++allocated;
    return frames.back().get();
  }
  void Reserved4() override {}
  void Reserved5() override {}
  void Release(void* frame) override {
    std::lock_guard<std::mutex> guard(mutex);
    if (frame) ++released;
  }

  std::mutex mutex;
  std::vector<std::unique_ptr<FakeAudioFrame>> frames;
  std::string lastOwner;
  bool failAllocation = false;
  bool nullData = false;
  int allocated = 0;
  int released = 0;
};

// What a delivered frame looked like at delivery.
struct DeliveredAudio {
  uint32_t fourcc, sampleRate, bitsPerSample, bitRate, channel;
  bool stereo;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> config;
};

inline DeliveredAudio Snapshot(ipcapture::IIPAudioFrame* f) {
  auto* frame = static_cast<FakeAudioFrame*>(f);
  return {frame->fourcc,  frame->sampleRate, frame->bitsPerSample, frame->bitRate,
          frame->channel, frame->stereo,     frame->Payload(),     frame->config};
}

class FakeAudioCallback final : public ipcapture::IIPAudioCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  bool OnAudioFrame(ipcapture::IIPAudioFrame* frame) override {
    std::lock_guard<std::mutex> guard(mutex);
    frames.push_back(Snapshot(frame));
    return accept;
  }
  void OnChannelStatus(uint32_t index, uint32_t status) override {
    std::lock_guard<std::mutex> guard(mutex);
    statuses.push_back(status);
    lastIndex = index;
  }
  std::vector<uint32_t> Statuses() {
    std::lock_guard<std::mutex> guard(mutex);
    return statuses;
  }
  size_t FrameCount() {
    std::lock_guard<std::mutex> guard(mutex);
    return frames.size();
  }

  std::mutex mutex;
  std::vector<DeliveredAudio> frames;
  std::vector<uint32_t> statuses;
  uint32_t lastIndex = 0xFFFFFFFF;
  bool accept = true;
};

}  // namespace vantrel::testing
