// A host frame allocator and frame for tests: frames own a buffer of the allocated size and
// record every value the driver set (data size, time, fourcc, width, height, size class).
// Released frames are kept (moved to `released`) so tests can inspect what was delivered;
// `Allocate` can be made to fail, and a frame can be made to return no data buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vantrel/ipcapture/host_objects.h"

namespace vantrel::testing {

inline std::string FourCCText(uint32_t fourcc) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
  return s;
}

class FakeFrame final : public ipcapture::IIPFrame {
 public:
  FakeFrame(uint32_t allocFourcc, uint32_t size, std::string owner)
      : allocatedFourcc(allocFourcc), buffer(size), owner(std::move(owner)) {}

  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  uint8_t* GetData() override {
    ++getDataCalls;
    return failGetData ? nullptr : buffer.data();
  }
  void Reserved3() override {}
  void SetDataSize(uint32_t size) override { dataSize = size, dataSizeSet = true; }
  void Reserved5() override {}
  void SetTime(const SYSTEMTIME* utc) override {
    if (utc) time = *utc;
    timeSet = true;
  }
  void GetTime(SYSTEMTIME* utc) override {
    if (utc) *utc = time;
  }
  void Reserved8() override {}
  void Reserved9() override {}
  void SetFourCC(uint32_t value) override { fourcc = value; }
  void Reserved11() override {}
  void SetHeight(uint32_t value) override { height = value; }
  void Reserved13() override {}
  void SetWidth(uint32_t value) override { width = value; }
  void Reserved15() override {}
  void SetSizeClass(uint32_t value) override { sizeClass = value; }

  // The bytes the driver declared as payload.
  std::vector<uint8_t> Payload() const {
    const size_t n = dataSize < buffer.size() ? dataSize : buffer.size();
    return std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
  }
  std::string FourCC() const { return FourCCText(fourcc); }

  uint32_t allocatedFourcc;
  std::vector<uint8_t> buffer;
  std::string owner;
  bool failGetData = false;
  int getDataCalls = 0;
  uint32_t dataSize = 0;
  bool dataSizeSet = false;
  SYSTEMTIME time{};
  bool timeSet = false;
  uint32_t fourcc = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t sizeClass = 0;
  bool released = false;
};

class FakeFrameAllocator final : public ipcapture::IIPFrameAllocator {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  ipcapture::IIPFrame* Allocate(uint32_t fourcc, uint32_t size, const char* owner) override {
    std::lock_guard<std::mutex> guard(mutex);
    ++allocations;
    if (failAllocate) return nullptr;
    auto frame = std::make_unique<FakeFrame>(fourcc, size, owner ? owner : "");
    frame->failGetData = failGetData;
    live.push_back(std::move(frame));
    return live.back().get();
  }
  void* AllocateAudio(uint32_t fourcc, uint32_t size, const char* owner) override {
    return Allocate(fourcc, size, owner);
  }
  void Reserved4() override {}
  void Reserved5() override {}
  void Release(void* frame) override {
    std::lock_guard<std::mutex> guard(mutex);
    ++releases;
    for (auto it = live.begin(); it != live.end(); ++it) {
      if (it->get() == frame) {
        (*it)->released = true;
        released.push_back(std::move(*it));
        live.erase(it);
        return;
      }
    }
    ++unknownReleases;
  }

  // Frames allocated and not yet released (a leak when a test ends with any).
  size_t LiveCount() {
    std::lock_guard<std::mutex> guard(mutex);
    return live.size();
  }

  std::mutex mutex;
  bool failAllocate = false;
  bool failGetData = false;
  int allocations = 0;
  int releases = 0;
  int unknownReleases = 0;
  std::vector<std::unique_ptr<FakeFrame>> live;
  std::vector<std::unique_ptr<FakeFrame>> released;
};

}  // namespace vantrel::testing
