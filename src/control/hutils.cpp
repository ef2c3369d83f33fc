#include "control/hutils.h"

namespace vantrel::HUtils {

namespace {
constexpr const char* kRequestGetRD = "vantrel::HUtils::RequestGetRD";
}

CResultDef RequestGetRD(Web::CHttpSender& sender, const std::string& path, std::vector<uint8_t>& buffer) {
  CResultDef result;
  const DEVICE_INFO& device = sender.GetDeviceInfo();
  const std::string camera = device.address + ":" + std::to_string(device.port);

  Web::HttpRequest request;
  request.path = path;
  buffer.clear();
  const bool answered = sender.SendRequest(request);
  const uint32_t status = sender.GetStatusCode();
  if (!answered || status == 0) {
    result.SetFormatted(CResultDef::kSeverityNotSent, CResultDef::kCodeNotSent,
                        "%s: can not send request \"%s\" to %s", kRequestGetRD, path.c_str(), camera.c_str());
  } else if (status < 200 || status > 299) {
    result.SetFormatted(CResultDef::kSeverityError, CResultDef::kCodeHttpStatus,
                        "%s: %s sent does not process request \"%s\", status code = %d", kRequestGetRD,
                        camera.c_str(), path.c_str(), static_cast<int>(status));
  } else {
    if (sender.ReceiveAll(buffer) == 0) {
      result.SetFormatted(CResultDef::kSeverityError, CResultDef::kCodeBadResponse,
                          "%s: incorrect response for request \"%s\" from %s", kRequestGetRD, path.c_str(),
                          camera.c_str());
    }
    buffer.push_back(0);
  }
  sender.CloseRequest();
  return result;
}

bool RequestGet(Web::CHttpSender& sender, const std::string& path, std::vector<uint8_t>& buffer) {
  return RequestGetRD(sender, path, buffer).code == CResultDef::kCodeOk;
}

}  // namespace vantrel::HUtils
