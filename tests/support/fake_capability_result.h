// The host's capability result object and a scripted camera for property loads, for tests and
// fuzzing: the result records every write as one line in the test host's format.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "capabilities/rcp_property_source.h"
#include "vantrel/ipcapture/capability_query.h"

namespace vantrel::testing {

class FakeCapabilityResult final : public ipcapture::IIPCapabilityResult {
  class Text final : public ipcapture::IIPCapabilityText {
   public:
    Text(FakeCapabilityResult& owner, uint32_t id) : owner_(owner), id_(id) {}
    void* ScalarDeletingDestructor(unsigned int) override { return this; }
    bool SetName(const char* name) override {
      name_ = name;
      return true;
    }
    bool SetSecond(const char* text) override {
      second_ = text;
      return true;
    }
    bool SetValid(bool valid) override {
      valid_ = valid;
      return true;
    }
    bool SetValue(const char* value) override {
      std::string line = std::to_string(id_) + " [" + name_ + "] = " + value;
      if (!second_.empty() || !valid_) line += " (BAD ENTRY)";
      owner_.lines.push_back(line);
      return true;
    }

   private:
    FakeCapabilityResult& owner_;
    uint32_t id_;
    std::string name_, second_ = "unset";
    bool valid_ = false;
  };
  class Rates final : public ipcapture::IIPFrameRateDefaults {
   public:
    explicit Rates(FakeCapabilityResult& owner) : owner_(owner) {}
    void* ScalarDeletingDestructor(unsigned int) override { return this; }
    bool AddFrameRate(uint32_t code) override {
      owner_.lines.push_back("framerate = " + std::to_string(code));
      return true;
    }
    bool SetDefaultFrameRate(uint32_t code) override {
      owner_.lines.push_back("framerate default = " + std::to_string(code));
      return true;
    }

   private:
    FakeCapabilityResult& owner_;
  };

 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  bool SetNumber(uint32_t id, uint32_t value) override {
    lines.push_back(std::to_string(id) + " = " + std::to_string(value));
    return refuseAfter < 0 || --refuseAfter >= 0;
  }
  ipcapture::IIPCapabilityText* GetText(uint32_t id) override {
    texts_.emplace_back(*this, id);
    return &texts_.back();
  }
  ipcapture::IIPFrameRateDefaults* GetFrameRateDefaults() override { return &rates_; }
  bool SetDeviceText(uint32_t kind, const char* text) override {
    static const char* const kinds[] = {"?", "vendor", "model", "video lines", "streams"};
    lines.push_back(std::string("device ") + (kind < 5 ? kinds[kind] : "?") + " = " + text);
    return true;
  }

  std::vector<std::string> lines;
  int refuseAfter = -1;  // >= 0: SetNumber fails after that many more calls

 private:
  std::deque<Text> texts_;
  Rates rates_{*this};
};

// Answers by command and number; anything not scripted fails like a camera without it.
class ScriptedPropertySource : public IRcpPropertySource {
 public:
  std::map<std::pair<uint16_t, uint32_t>, std::string> strings;
  std::map<uint16_t, uint32_t> numbers;
  std::map<std::pair<uint16_t, uint32_t>, std::vector<uint8_t>> bytes;
  std::vector<uint8_t> exchangeReply;
  uint32_t httpStatus = 200;
  bool cancelled = false;
  int requests = 0;
  // Called before every request with its number (1, 2, ...): lets a test abort mid-load.
  std::function<void(int)> onRequest;

  std::string ReadString(uint16_t command, uint32_t num) override {
    if (Count()) return {};
    auto it = strings.find({command, num});
    return it == strings.end() ? std::string() : it->second;
  }
  uint32_t ReadNumber(uint16_t command, bool& ok) override {
    ok = false;
    if (Count()) return 0;
    auto it = numbers.find(command);
    ok = it != numbers.end();
    return ok ? it->second : 0;
  }
  std::vector<uint8_t> ReadBytes(uint16_t command, uint32_t num) override {
    if (Count()) return {};
    auto it = bytes.find({command, num});
    return it == bytes.end() ? std::vector<uint8_t>() : it->second;
  }
  std::vector<uint8_t> Exchange(const std::string&, uint32_t) override {
    if (Count()) return {};
    return exchangeReply;
  }
  uint32_t LastHttpStatus() const override { return httpStatus; }
  void Cancel() override { cancelled = true; }

 private:
  bool Count() {
    // A cancelled source sends nothing, as the camera-side one does.
    if (cancelled) return true;
    ++requests;
    if (onRequest) onRequest(requests);
    return cancelled;
  }
};

}  // namespace vantrel::testing
