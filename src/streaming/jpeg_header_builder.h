// Rebuilds the JFIF header of an RTP/JPEG frame (RFC 2435) from its main header, restart
// header and quantisation tables, with the typical Huffman tables of ITU-T T.81 Annex K.3.
#pragma once

#include <cstddef>
#include <cstdint>
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

class CJpegHeaderBuilder {
 public:
  // The area the header is built in; the largest header we build is 623 + 6 bytes.
  static constexpr size_t kMaxHeaderSize = 1024;

  // Reads the RTP/JPEG headers at the start of `frame` and writes the JFIF header into `header`
  // (cleared first). `width`/`height` override the header's size when non-zero. False when the
  // headers are truncated, the fragment offset is not 0, or the in-band tables cannot be
  // represented (16-bit precision, or more than two 64-byte tables).
  static bool Build(const uint8_t* frame, size_t size, uint32_t width, uint32_t height,
                    std::vector<uint8_t>& header, JpegHeaderInfo& info);
};

}  // namespace vantrel
