#include "control/rcp_http.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "control/hutils.h"

namespace vantrel {
namespace {

constexpr const char* kSendRcpRequestSet = "vantrel::CRcpHttp::SendRcpRequestSet";
constexpr const char* kVerifyRcpSetResponse = "vantrel::CRcpHttp::VerifyRcpSetResponse";

constexpr uint16_t kCommandPtzOctet = 0x01F1;
constexpr uint16_t kCommandCapabilities = 0xFF10;
constexpr uint16_t kCommandRecords = 0x0C00;

// The body as the text a C string reader would see: up to the first zero byte.
std::string BufferText(const std::vector<uint8_t>& buffer) {
  const char* text = reinterpret_cast<const char*>(buffer.data());
  return std::string(text, strnlen(text, buffer.size()));
}

std::string WithoutLineBreaks(const std::string& text, size_t limit) {
  std::string out;
  out.reserve(text.size() < limit ? text.size() : limit);
  for (char c : text) {
    if (c == '\r' || c == '\n') continue;
    if (out.size() == limit) {
      out += "...";
      break;
    }
    out += c;
  }
  return out;
}

std::string Formatted(const char* format, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

uint32_t SeedFor(const void* self) {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return static_cast<uint32_t>(counter.QuadPart) ^ static_cast<uint32_t>(GetTickCount64()) ^
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(self) >> 4) ^ GetCurrentThreadId();
}

}  // namespace

CRcpHttp::CRcpHttp(const DEVICE_INFO& device) : device_(device), sender_(device), random_(SeedFor(this)) {}

std::string CRcpHttp::CameraName() const {
  return "device " + device_.address + ":" + std::to_string(device_.port);
}

bool CRcpHttp::Fetch(const std::string& path, CRcpXmlReader& reply) {
  std::vector<uint8_t> buffer;
  if (HUtils::RequestGetRD(sender_, path, buffer).code != CResultDef::kCodeOk) return false;
  const std::string text = BufferText(buffer);
  if (text.empty()) return false;
  return reply.Load(text);
}

// ---- Writes ------------------------------------------------------------------------------

CResultDef CRcpHttp::SendRcpRequestSet(uint16_t command, const std::string& type, const std::string& payload,
                                       uint32_t num) {
  CResultDef result;
  if (type.empty() || payload.empty()) {
    result.SetFormatted(
        CResultDef::kSeverityError, CResultDef::kCodeInvalidArgument,
        "%s: Cannot send data for operation 0x%.4X to camera %s - one of arguments is invalid",
        kSendRcpRequestSet, static_cast<unsigned>(command), device_.address.c_str());
    return result;
  }
  std::vector<uint8_t> buffer;
  result = HUtils::RequestGetRD(sender_, BuildRcpWriteLine(command, type, payload, num), buffer);
  if (result.code != CResultDef::kCodeOk) return result;
  return VerifyRcpSetResponse(BufferText(buffer), type);
}

CResultDef CRcpHttp::VerifyRcpSetResponse(const std::string& reply, const std::string& type) {
  CResultDef result;
  const std::string camera = CameraName();
  if (reply.empty()) {
    result.SetFormatted(CResultDef::kSeverityError, CResultDef::kCodeBadResponse,
                        "%s: %s returns empty response!", kVerifyRcpSetResponse, camera.c_str());
    return result;
  }
  const auto unparsable = [&] {
    result.SetFormatted(CResultDef::kSeverityError, CResultDef::kCodeBadResponse,
                        "%s: Unable to parse XML response data from %s, response data is: ",
                        kVerifyRcpSetResponse, camera.c_str());
    // The reply is the camera's: quote enough of it to diagnose, never all of a huge body.
    result.message += WithoutLineBreaks(reply, kMaxQuotedReply);
  };
  CRcpXmlReader reader;
  if (!reader.Load(reply)) {
    unparsable();
    return result;
  }
  const uint32_t error = reader.GetError();
  const bool ok =
      (type == kRcpTypeString || type == kRcpTypeOctets) ? !reader.GetBytes().empty() : error == 0;
  if (ok) return result;
  if (error != 0) {
    result.SetFormatted(CResultDef::kSeverityError, CResultDef::kCodeCameraError,
                        "%s: %s returns error code 0x%.2X", kVerifyRcpSetResponse, camera.c_str(),
                        static_cast<unsigned>(error));
  } else {
    unparsable();
  }
  return result;
}

CResultDef CRcpHttp::SetRcpFlag(uint16_t command, uint32_t value, uint32_t num) {
  return SendRcpRequestSet(command, kRcpTypeFlag, Formatted("%d", value & 0xFF), num);
}

CResultDef CRcpHttp::SetRcpOctet(uint16_t command, uint8_t value, uint32_t num) {
  return SendRcpRequestSet(command, kRcpTypeOctet, Formatted("0x%.2X", value), num);
}

CResultDef CRcpHttp::SetRcpDword(uint16_t command, uint32_t value, uint32_t num) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d", static_cast<int>(value));
  return SendRcpRequestSet(command, kRcpTypeDword, text, num);
}

CResultDef CRcpHttp::SetRcpOctets(uint16_t command, const std::vector<uint8_t>& bytes, uint32_t num) {
  std::string payload;
  if (!bytes.empty()) {
    payload.reserve(2 + bytes.size() * 2);
    payload = "0x";
    for (uint8_t b : bytes) payload += Formatted("%.2X", b);
  }
  return SendRcpRequestSet(command, kRcpTypeOctets, payload, num);
}

// ---- Reads -------------------------------------------------------------------------------

bool CRcpHttp::SendRcpRequestGet(uint16_t command, const std::string& type, std::vector<uint8_t>& reply,
                                 uint32_t num) {
  return HUtils::RequestGetRD(sender_, BuildRcpReadLine(command, type, num), reply).code ==
         CResultDef::kCodeOk;
}

uint32_t CRcpHttp::GetRcpFlag(uint16_t command, uint32_t num, bool* ok) {
  CRcpXmlReader reply;
  const bool loaded = Fetch(BuildRcpReadLine(command, kRcpTypeFlag, num), reply);
  if (ok) *ok = loaded && reply.GetError() == 0;
  return loaded ? reply.GetDec() : 0;
}

uint32_t CRcpHttp::GetRcpULong(uint16_t command, bool* ok) {
  CRcpXmlReader reply;
  const bool loaded = Fetch(BuildRcpReadLine(command, kRcpTypeULong, 0), reply);
  if (ok) *ok = loaded && reply.GetError() == 0;
  return loaded ? reply.GetDec() : 0;
}

uint32_t CRcpHttp::GetRcpDwordHex(uint16_t command, uint32_t num, bool* ok) {
  CRcpXmlReader reply;
  const bool loaded = Fetch(BuildRcpReadLine(command, kRcpTypeDword, num), reply);
  if (ok) *ok = loaded && reply.GetError() == 0;
  return loaded ? reply.GetHex() : 0;
}

std::string CRcpHttp::GetRcpString(uint16_t command, uint32_t num) {
  CRcpXmlReader reply;
  if (!Fetch(BuildRcpReadLine(command, kRcpTypeString, num), reply)) return {};
  return reply.GetString();
}

std::vector<uint8_t> CRcpHttp::GetRcpOctets(uint16_t command, uint32_t num) {
  CRcpXmlReader reply;
  if (!Fetch(BuildRcpReadLine(command, kRcpTypeOctets, num), reply)) return {};
  return reply.GetBytes();
}

bool CRcpHttp::GetRcpPtzOctet(uint32_t& value) {
  CRcpXmlReader reply;
  if (!Fetch(BuildRcpReadLine(kCommandPtzOctet, kRcpTypeOctet, 1), reply)) return false;
  if (reply.GetError() != 0) return false;
  value = reply.GetDec();
  return true;
}

bool CRcpHttp::GetRcpCapabilities(RcpCapabilityMasks& capabilities) {
  const std::vector<uint8_t> bytes = GetRcpOctets(kCommandCapabilities, 0);
  if (bytes.empty()) {
    capabilities = RcpCapabilityMasks{};
    return false;
  }
  return ParseRcpCapabilityList(bytes, capabilities);
}

bool CRcpHttp::GetRcpRecords(RcpRecordMap& records, uint32_t num) {
  const std::vector<uint8_t> bytes = GetRcpOctets(kCommandRecords, num);
  return ParseRcpRecordList(bytes, records);
}

// ---- Head messages and sessions ----------------------------------------------------------

bool CRcpHttp::ExchangeRcpData(const std::string& payload, std::vector<uint8_t>& reply, uint32_t num) {
  reply.clear();
  CRcpXmlReader xml;
  if (!Fetch(BuildRcpExchangeLine(payload, num), xml)) return false;
  reply = xml.GetBytes();
  return !reply.empty();
}

bool CRcpHttp::SendRcpData(const std::string& payload, uint32_t num) {
  CRcpXmlReader xml;
  if (!Fetch(BuildRcpExchangeLine(payload, num, ShuffledRcpDigits(random_)), xml)) return false;
  return xml.GetError() == 0;
}

bool CRcpHttp::ReadRcpSession(const std::string& type, const std::string& payload, uint32_t session,
                              std::vector<uint8_t>& bytes) {
  bytes.clear();
  CRcpXmlReader xml;
  if (!Fetch(BuildRcpSessionReadLine(type, payload, session), xml)) return false;
  if (xml.GetError() != 0) return false;
  bytes = xml.GetBytes();
  return true;
}

bool CRcpHttp::WriteRcpSession(uint16_t command, const std::string& type, const std::string& payload,
                               uint32_t session) {
  CRcpXmlReader xml;
  if (!Fetch(BuildRcpSessionWriteLine(command, type, payload, session), xml)) return false;
  return xml.GetError() == 0;
}

}  // namespace vantrel
