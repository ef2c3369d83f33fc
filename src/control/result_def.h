// Result of a camera-control call: a severity, a code and a message for the log. Success is
// severity 3 with code 0; callers test the code. Portable so that reply parsers can use it.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class CResultDef {
 public:
  // Severities.
  static constexpr uint32_t kSeverityError = 1;
  static constexpr uint32_t kSeveritySuccess = 3;
  static constexpr uint32_t kSeverityNotSent = 4;

  // Codes shared by the HTTP helpers and the RCP+ layer.
  static constexpr uint32_t kCodeOk = 0;
  static constexpr uint32_t kCodeInvalidArgument = 3;
  static constexpr uint32_t kCodeHttpStatus = 6;
  static constexpr uint32_t kCodeNotSent = 9;
  static constexpr uint32_t kCodeBadResponse = 10;
  static constexpr uint32_t kCodeCameraError = 11;

  CResultDef() = default;
  CResultDef(uint32_t severity, uint32_t code, std::string message)
      : severity(severity), code(code), message(std::move(message)) {}

  bool IsSuccess() const { return code == kCodeOk; }

  void Set(uint32_t newSeverity, uint32_t newCode, std::string newMessage) {
    severity = newSeverity;
    code = newCode;
    message = std::move(newMessage);
  }

  // printf-style message.
  void SetFormatted(uint32_t newSeverity, uint32_t newCode, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 4, 5)))
#endif
      ;

  uint32_t severity = kSeveritySuccess;
  uint32_t code = kCodeOk;
  std::string message;
};

}  // namespace vantrel
