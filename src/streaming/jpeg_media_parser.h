// Cuts JPEG images out of a Motion JPEG HTTP body by their SOI (FF D8) and EOI (FF D9) markers;
// multipart boundaries and part headers between images are never looked at, so any camera's
// framing works. The size comes from the SOF0 (FF C0) marker.
//
// The scanner keeps its state between blocks: a marker split across two blocks (FF at the end
// of one, D8/D9 at the start of the next) and an SOF0 segment split anywhere are recognised, so
// the frames found do not depend on how the body was split. Inside entropy-coded data FF is
// always followed by 00 or a restart marker, so these markers cannot be mistaken there.
// Application segments (APP0-APP15) and comments are stepped over by their lengths: an EXIF
// thumbnail in APP1 carries an SOI and EOI of its own and must not be taken for the picture.
// An image above the 10 MiB cap is dropped with the overflow message; scanning resumes at the
// next SOI. Images before the first SOF0 (size unknown) are dropped silently.
#pragma once

#include <cstdint>

#include "streaming/http_media_parser.h"

namespace vantrel {

class IDriver;

class CJpegMediaParser : public CHttpMediaParser {
 public:
  explicit CJpegMediaParser(IDriver* driver) : CHttpMediaParser(driver) {}

  void ProcessData(const uint8_t* data, size_t size) override;

 private:
  void DeliverImage();
  // Appends image bytes; false (with the overflow message) when the image would pass the cap.
  bool Append(const uint8_t* data, size_t size);

  bool insideImage_ = false;
  bool previousWasFF_ = false;  // the last byte seen was FF (a marker may continue)
  // Bytes of an SOF0 segment still to read for the sizes; 0 when not inside one.
  uint32_t sofRemaining_ = 0;
  uint8_t sof_[7] = {};  // length (2), precision, height (2), width (2)
  // An application or comment segment being stepped over: its length bytes, then its body.
  uint32_t skipLengthBytes_ = 2;  // 2: not reading a length
  uint32_t skipRemaining_ = 0;
};

}  // namespace vantrel
