// An IDriver for unit tests: fixed device data, parameters from a map, and every log line
// recorded (level and formatted text) so tests can assert on the exact messages.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/driver_services.h"

namespace vantrel::testing {

struct LoggedLine {
  uint32_t level;
  std::string text;
};

class FakeDriver : public IDriver {
 public:
  FakeDriver() {
    info.address = "127.0.0.1";
    info.port = 80;
  }

  std::string GetDeviceAddress() override { return info.address + ":" + std::to_string(info.port); }
  void Log(uint32_t level, const char* format, ...) override {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    std::lock_guard<std::mutex> guard(mutex);
    lines.push_back({level, text});
  }
  std::string GetDriverName() override { return "LumivarIPCapture"; }
  std::string GetHostDirectory() override { return hostDirectory; }
  DEVICE_INFO& GetDeviceInfo() override { return info; }
  void GetHostIdPair(uint32_t* a, uint32_t* b) override {
    if (a) *a = hostId1;
    if (b) *b = hostId2;
  }
  ipcapture::IIPFrameAllocator* GetFrameAllocator() override { return allocator; }
  bool GetVideoStandard() override { return videoStandard; }
  uint32_t GetDefaultVideoFormat() override { return defaultVideoFormat; }
  uint32_t GetChannelCount() override { return channelCount; }
  CEdgeStorageTask* GetEdgeStorageTask() override { return nullptr; }
  std::string GetParameter(uint32_t number) override {
    auto it = parameters.find(number);
    if (it == parameters.end() || it->second == "(none)") return {};
    return it->second;
  }
  int32_t GetParameterInt(uint32_t number) override {
    auto it = parameters.find(number);
    if (it == parameters.end()) return kParameterMissing;
    try {
      size_t used = 0;
      long v = std::stol(it->second, &used, 10);
      return used == it->second.size() ? static_cast<int32_t>(v) : kParameterMissing;
    } catch (...) {
      return kParameterMissing;
    }
  }
  uint32_t GetCameraLine(uint32_t channel) override { return lineOverride ? lineOverride : channel + 1; }

  std::vector<LoggedLine> Lines() {
    std::lock_guard<std::mutex> guard(mutex);
    return lines;
  }
  bool HasLine(uint32_t level, const std::string& text) {
    for (const auto& l : Lines())
      if (l.level == level && l.text == text) return true;
    return false;
  }

  DEVICE_INFO info;
  std::string hostDirectory = "C:\\host\\";
  std::map<uint32_t, std::string> parameters;
  ipcapture::IIPFrameAllocator* allocator = nullptr;
  bool videoStandard = false;
  uint32_t defaultVideoFormat = 3;
  uint32_t channelCount = 1;
  uint32_t hostId1 = 0, hostId2 = 0;
  uint32_t lineOverride = 0;
  std::mutex mutex;
  std::vector<LoggedLine> lines;
};

}  // namespace vantrel::testing
