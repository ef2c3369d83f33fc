// Picture size of MPEG-4 Visual (ISO/IEC 14496-2) and H.263 / short-header pictures.
//
// GetPictureSize walks the start codes at the start of the data: visual object sequence
// (0x1B0), user data (0x1B2), visual object (0x1B5), video object (0x100..0x11F), each skipped to
// the next start code, up to the video object layer (0x120..0x12F), whose header is read field by
// field. Any other start code first, a marker bit of 0, a non-rectangular shape or a chroma
// format other than 4:2:0 fails. Reads past the end fail; nothing outside the data is touched.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel {

class CMP4Parser {
 public:
  static constexpr uint32_t kMaxDimension = 32000;

  bool GetPictureSize(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height);

  // Size from an H.263 picture header (picture start code 0000 0000 0000 0000 1000 00): the
  // source format of PTYPE, or of OPPTYPE with a custom picture format (CPFMT) under PLUSPTYPE.
  static bool GetShortHeaderSize(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height);

  // True when the data starts with an H.263 picture start code.
  static bool IsShortHeaderPicture(const uint8_t* data, size_t size);
  // Intra detection: H.263 PTYPE/PLUSPTYPE picture type, or vop_coding_type of the first VOP of
  // MPEG-4 Visual data (after any VOS/VO/VOL/GOV headers). False when neither is found.
  static bool IsIntraPicture(const uint8_t* data, size_t size);
};

}  // namespace vantrel
