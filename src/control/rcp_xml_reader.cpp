#include "control/rcp_xml_reader.h"

#include "control/rcp_reply_text.h"

namespace vantrel {
namespace {

constexpr const char* kHexPath = "rcp/result/hex";
constexpr const char* kDecPath = "rcp/result/dec";
constexpr const char* kStrPath = "rcp/result/str";
constexpr const char* kErrPath = "rcp/result/err";

}  // namespace

bool CRcpXmlReader::Load(std::string_view reply) {
  loaded_ = SUCCEEDED(document_.LoadXml(reply));
  return loaded_;
}

std::string CRcpXmlReader::Text(const char* path) {
  return loaded_ ? document_.GetText(path) : std::string();
}

uint32_t CRcpXmlReader::GetHex() { return ParseRcpHexText(Text(kHexPath)); }

uint32_t CRcpXmlReader::GetDec() { return ParseRcpDecText(Text(kDecPath)); }

std::string CRcpXmlReader::GetString() { return Text(kStrPath); }

std::vector<uint8_t> CRcpXmlReader::GetBytes() { return ParseRcpByteText(Text(kStrPath)); }

uint32_t CRcpXmlReader::GetError() {
  if (!loaded_) return kErrorNotLoaded;
  return ParseRcpHexText(Text(kErrPath));
}

}  // namespace vantrel
