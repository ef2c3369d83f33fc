// An RTSP connection's byte stream, read whole and in chunks: the same messages must come out,
// and each response and SETUP answer must survive the response parser and URL resolution.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "streaming/rtsp_message_reader.h"
#include "streaming/rtsp_response_parser.h"
#include "streaming/rtsp_url.h"

namespace {
std::vector<std::string> Read(const uint8_t* data, size_t size, size_t chunk) {
  vantrel::CRTSPMessageReader reader;
  std::vector<std::string> out;
  for (size_t at = 0; at < size; at += chunk) {
    reader.Append(reinterpret_cast<const char*>(data) + at, size - at < chunk ? size - at : chunk);
    while (auto message = reader.Next())
      out.push_back(std::to_string(static_cast<int>(message->kind)) + message->data);
  }
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t chunk = (data[0] & 0x3F) + 1;
  std::vector<std::string> whole = Read(data + 1, size - 1, size);
  if (whole != Read(data + 1, size - 1, chunk)) __builtin_trap();
  for (const std::string& message : whole) {
    if (message.empty() || message[0] != '1') continue;
    vantrel::CRTSPResponseParser parser;
    parser.Parse(vantrel::kRtspSetup, std::string_view(message).substr(1));
    vantrel::ResolveControlUrl(parser.GetContentBase(), parser.GetSourceAddress());
  }
  return 0;
}
