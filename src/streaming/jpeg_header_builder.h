// Rebuilds the JFIF header of an RTP/JPEG frame (RFC 2435) from its main header, restart
// header and quantisation tables, with the typical Huffman tables of ITU-T T.81 Annex K.3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace vantrel {

// The RFC 2435 Appendix A tables for a Q factor (clamped to 1..99): luminance then chrominance,
// 64 bytes each, in zig-zag order.
void MakeQuantizationTables(int q, uint8_t (&tables)[128]);

struct JpegHeaderInfo {
  size_t consumed = 0;  // RTP/JPEG header bytes (with in-band tables) at the start of the frame
  uint32_t width = 0;
  uint32_t height = 0;
};

// In-band quantisation tables as received for one Q of 128 and above: a camera may send them
// once and then only the Q (table length 0), meaning "the tables you last got for this Q".
struct JpegTables {
  uint8_t precision = 0;  // bit i set: table i has 16-bit entries (128 bytes)
  std::vector<uint8_t> bytes;
};
using JpegTableCache = std::map<uint8_t, JpegTables>;

class CJpegHeaderBuilder {
 public:
  // The area the header is built in; the largest header we build is 623 + 6 bytes.
  static constexpr size_t kMaxHeaderSize = 1024;

  // Reads the RTP/JPEG headers at the start of `frame` and writes the JFIF header into `header`
  // (cleared first). `width`/`height` override the header's size when non-zero. In-band tables
  // may be one to three, each of 8 or 16 bits; `cache` (optional) keeps them per Q for frames
  // that name the Q only. False when the headers are truncated, the fragment offset is not 0,
  // the tables do not add up to their length, or a Q of 128 and above comes without tables
  // that were never received.
  static bool Build(const uint8_t* frame, size_t size, uint32_t width, uint32_t height,
                    std::vector<uint8_t>& header, JpegHeaderInfo& info, JpegTableCache* cache = nullptr);
};

}  // namespace vantrel
