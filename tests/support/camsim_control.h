// Test-side client of the camera simulator's control interface (tools/camsim/README.md).
// Every operation is a plain GET with its arguments in the query, answered with text or JSON.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "control/http_sender.h"
#include "control/hutils.h"
#include "core/device_info.h"

namespace vantrel::testing {

class CamsimControl {
 public:
  explicit CamsimControl(std::string camera, std::string control = "127.0.0.1", uint32_t port = 18080)
      : camera_(std::move(camera)), sender_(MakeDevice(control, port)) {}

  // Body of GET /camera/<camera>/<op>?<query>; empty on failure.
  std::string Get(const std::string& op, const std::string& query = {}) {
    std::vector<uint8_t> buffer;
    std::string path = "/camera/" + camera_ + "/" + op;
    if (!query.empty()) path += "?" + query;
    if (!HUtils::RequestGet(sender_, path, buffer)) return {};
    return std::string(reinterpret_cast<const char*>(buffer.data()));
  }

  bool Reset() { return !Get("reset").empty(); }
  bool ClearLog() { return !Get("clear_log").empty(); }
  std::string LastRequest() { return Get("last_request"); }
  std::vector<std::string> Requests() {
    std::vector<std::string> lines;
    std::istringstream in(Get("requests.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Value(uint16_t command, uint32_t num) {
    char query[64];
    std::snprintf(query, sizeof(query), "command=0x%04X&num=%u", static_cast<unsigned>(command), num);
    return Get("value", query);
  }
  bool Fault(const std::string& query) { return !Get("fault", query).empty(); }
  bool Set(const std::string& query) { return !Get("set", query).empty(); }
  std::string State() { return Get("state"); }

 private:
  static DEVICE_INFO MakeDevice(const std::string& address, uint32_t port) {
    DEVICE_INFO device;
    device.address = address;
    device.port = port;
    return device;
  }

  std::string camera_;
  Web::CHttpSender sender_;
};

}  // namespace vantrel::testing
