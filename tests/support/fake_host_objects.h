// The host's objects for driver tests: a debug sink that records what it is given, and open
// parameters whose every text can be made null.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vantrel/ipcapture/host_objects.h"

namespace vantrel::testing {

struct PostedMessage {
  uint8_t level;
  bool textIsNull;
  std::string text;
};

class FakeDebugSink : public ipcapture::IIPDebugSink {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Post(ipcapture::CDebugInfoIf* info) override {
    const char* text = info->GetText();
    std::lock_guard<std::mutex> guard(mutex_);
    messages_.push_back({info->GetLevel(), text == nullptr, text ? text : ""});
  }
  std::vector<PostedMessage> Messages() {
    std::lock_guard<std::mutex> guard(mutex_);
    return messages_;
  }

 private:
  std::mutex mutex_;
  std::vector<PostedMessage> messages_;
};

// Values the host reports; a text left empty (nullopt) comes back as null.
struct FakeDevice {
  std::optional<std::string> address = "127.0.0.1";
  uint32_t port = 80;
  std::optional<std::string> user = "service";
  std::optional<std::string> password = "secret";
  std::optional<std::string> model = "Test camera";
  uint32_t channelCount = 1;
  uint32_t defaultVideoFormat = 3;
  uint32_t hostId1 = 0;
  uint32_t hostId2 = 0;
  std::map<uint32_t, std::string> parameters;
};

class FakeCameraInfo : public ipcapture::IIPCameraInfo {
 public:
  explicit FakeCameraInfo(const FakeDevice& device) : device_(device) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  const char* GetModel() override { return device_.model ? device_.model->c_str() : nullptr; }
  uint32_t GetChannelCount() override { return device_.channelCount; }
  void Reserved4() override {}
  uint32_t GetHostId1() override { return device_.hostId1; }
  uint32_t GetHostId2() override { return device_.hostId2; }

 private:
  const FakeDevice& device_;
};

class FakeConnectionInfo : public ipcapture::IIPConnectionInfo {
 public:
  explicit FakeConnectionInfo(const FakeDevice& device) : device_(device) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  const char* GetAddress() override { return device_.address ? device_.address->c_str() : nullptr; }
  uint32_t GetPort() override { return device_.port; }
  void Reserved3() override {}
  uint32_t GetDefaultVideoFormat() override { return device_.defaultVideoFormat; }
  const char* GetUserName() override { return device_.user ? device_.user->c_str() : nullptr; }
  const char* GetPassword() override { return device_.password ? device_.password->c_str() : nullptr; }

 private:
  const FakeDevice& device_;
};

class FakeOpenParams : public ipcapture::IIPOpenParams {
 public:
  FakeOpenParams() : camera_(device), connection_(device) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  ipcapture::IIPCameraInfo* GetCameraInfo() override { return withCameraInfo ? &camera_ : nullptr; }
  ipcapture::IIPConnectionInfo* GetConnectionInfo() override {
    return withConnectionInfo ? &connection_ : nullptr;
  }
  void Reserved3() override {}
  const char* GetParameter(uint32_t number) override {
    asked.push_back(number);
    auto it = device.parameters.find(number);
    return it == device.parameters.end() ? nullptr : it->second.c_str();
  }

  FakeDevice device;
  bool withCameraInfo = true;
  bool withConnectionInfo = true;
  std::vector<uint32_t> asked;  // parameter numbers in the order the driver asked for them

 private:
  FakeCameraInfo camera_;
  FakeConnectionInfo connection_;
};

}  // namespace vantrel::testing
