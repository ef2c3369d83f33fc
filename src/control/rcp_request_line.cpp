#include "control/rcp_request_line.h"

#include <algorithm>
#include <cstdio>

namespace vantrel {
namespace {

std::string Head(uint16_t command, std::string_view type, const char* direction) {
  char text[64];
  std::snprintf(text, sizeof(text), "/rcp.xml?command=0x%.4X&type=", static_cast<unsigned>(command));
  std::string line(text);
  line.append(type);
  line += "&direction=";
  line += direction;
  return line;
}

void AppendNumber(std::string& line, const char* key, uint32_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "&%s=%u", key, static_cast<unsigned>(value));
  line += text;
}

}  // namespace

std::string BuildRcpReadLine(uint16_t command, std::string_view type, uint32_t num) {
  std::string line = Head(command, type, "READ");
  if (num != 0) AppendNumber(line, "num", num);
  return line;
}

std::string BuildRcpWriteLine(uint16_t command, std::string_view type, std::string_view payload,
                              uint32_t num) {
  std::string line = Head(command, type, "WRITE");
  if (num != 0) AppendNumber(line, "num", num);
  line += "&payload=";
  line.append(payload);
  return line;
}

std::string BuildRcpSessionReadLine(std::string_view type, std::string_view payload, uint32_t session) {
  std::string line = BuildRcpReadLine(kRcpCommandSessionRead, type, 0);
  if (!payload.empty()) {
    line += "&payload=";
    line.append(payload);
  }
  if (session != 0) AppendNumber(line, "sessionid", session);
  return line;
}

std::string BuildRcpSessionWriteLine(uint16_t command, std::string_view type, std::string_view payload,
                                     uint32_t session) {
  std::string line = Head(command, type, "WRITE");
  if (!payload.empty()) {
    line += "&payload=";
    line.append(payload);
  }
  if (session != 0) AppendNumber(line, "sessionid", session);
  return line;
}

std::string BuildRcpExchangeLine(std::string_view payload, uint32_t num, std::string_view random) {
  std::string line = Head(kRcpCommandDataExchange, kRcpTypeOctets, "WRITE");
  if (num != 0) AppendNumber(line, "num", num);
  if (!payload.empty()) {
    line += "&payload=";
    line.append(payload);
  }
  if (!random.empty()) {
    line += "&rnd=";
    line.append(random);
  }
  return line;
}

std::string ShuffledRcpDigits(std::minstd_rand& engine) {
  std::string digits = "123456789123456789";
  std::shuffle(digits.begin(), digits.end(), engine);
  return digits;
}

}  // namespace vantrel
