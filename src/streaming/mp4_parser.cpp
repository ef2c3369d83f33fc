#include "streaming/mp4_parser.h"

namespace vantrel {

namespace {

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Read(int count, uint32_t& out) {
    out = 0;
    if (static_cast<size_t>(count) > size_ * 8 - pos_) return failed_ = true, false;
    for (int i = 0; i < count; ++i, ++pos_) out = (out << 1) | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1);
    return true;
  }
  uint32_t Get(int count) {
    uint32_t v = 0;
    Read(count, v);
    return v;
  }
  // A marker bit must be 1.
  void Marker() {
    if (Get(1) != 1) failed_ = true;
  }
  bool Failed() const { return failed_; }
  void Fail() { failed_ = true; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool failed_ = false;
};

// Position of the next 00 00 01 at or after `from`, or `size`.
size_t NextStartCode(const uint8_t* data, size_t size, size_t from) {
  for (size_t i = from; i + 2 < size; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
  return size;
}

struct Format {
  uint32_t width, height;
};
// H.263 source formats 1..5: sub-QCIF, QCIF, CIF, 4CIF, 16CIF.
constexpr Format kSourceFormats[] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};

}  // namespace

bool CMP4Parser::IsShortHeaderPicture(const uint8_t* data, size_t size) {
  return data != nullptr && size >= 3 && data[0] == 0 && data[1] == 0 && (data[2] & 0xFC) == 0x80;
}

bool CMP4Parser::GetShortHeaderSize(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height) {
  if (!IsShortHeaderPicture(data, size)) return false;
  BitReader r(data, size);
  r.Get(22);                        // PSC
  r.Get(8);                         // TR
  if (r.Get(2) != 2) return false;  // PTYPE bits 1 and 2: "1", "0"
  r.Get(3);                         // split screen, document camera, freeze picture release
  uint32_t format = r.Get(3);
  if (format == 7) {
    const uint32_t ufep = r.Get(3);
    if (ufep != 1) return false;  // no OPPTYPE in this picture: size not stated
    format = r.Get(3);
    r.Get(15);  // rest of OPPTYPE
    r.Get(9);   // MPPTYPE
    if (format == 6) {
      if (r.Get(1)) r.Get(2);  // CPM, then PSBI under continuous presence
      r.Get(4);                // pixel aspect ratio code
      const uint32_t pwi = r.Get(9);
      if (r.Get(1) != 1) return false;
      const uint32_t phi = r.Get(9);
      if (r.Failed() || phi == 0) return false;
      width = (pwi + 1) * 4;
      height = phi * 4;
      return true;
    }
  }
  if (r.Failed() || format < 1 || format > 5) return false;
  width = kSourceFormats[format].width;
  height = kSourceFormats[format].height;
  return true;
}

bool CMP4Parser::IsIntraPicture(const uint8_t* data, size_t size) {
  if (data == nullptr) return false;
  if (IsShortHeaderPicture(data, size)) {
    if (size < 5) return false;
    const uint32_t format = (data[4] >> 2) & 0x07;
    if (format != 7) return (data[4] & 0x02) == 0;
    if (size < 6) return false;
    if (data[5] & 0x80) return size >= 8 && ((data[7] >> 2) & 0x07) == 0;
    return ((data[5] >> 4) & 0x07) == 0;
  }
  // MPEG-4 Visual: the first VOP start code (0x1B6); its next two bits are vop_coding_type.
  for (size_t at = NextStartCode(data, size, 0); at + 4 < size; at = NextStartCode(data, size, at + 3)) {
    const uint8_t code = data[at + 3];
    if (code == 0xB6) return (data[at + 4] >> 6) == 0;
    if (code != 0xB0 && code != 0xB2 && code != 0xB5 && code != 0xB3 && code > 0x2F) return false;
  }
  return false;
}

bool CMP4Parser::GetPictureSize(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height) {
  if (data == nullptr) return false;
  size_t at = NextStartCode(data, size, 0);
  if (at != 0) return false;
  while (true) {
    if (at + 4 > size) return false;
    const uint8_t code = data[at + 3];
    if (code >= 0x20 && code <= 0x2F) break;
    if (!(code == 0xB0 || code == 0xB2 || code == 0xB5 || code <= 0x1F)) return false;
    at = NextStartCode(data, size, at + 4);
  }

  BitReader r(data + at + 4, size - at - 4);
  r.Get(1);  // random_accessible_vol
  r.Get(8);  // video_object_type_indication
  uint32_t verid = 1;
  if (r.Get(1)) {  // is_object_layer_identifier
    verid = r.Get(4);
    r.Get(3);  // video_object_layer_priority
  }
  (void)verid;
  if (r.Get(4) == 15) {  // aspect_ratio_info: extended PAR
    r.Get(8);
    r.Get(8);
  }
  if (r.Get(1)) {                     // vol_control_parameters
    if (r.Get(2) != 1) return false;  // chroma_format 4:2:0
    r.Get(1);                         // low_delay
    if (r.Get(1)) {                   // vbv_parameters
      r.Get(15);                      // first_half_bit_rate
      r.Marker();
      r.Get(15);  // latter_half_bit_rate
      r.Marker();
      r.Get(15);  // first_half_vbv_buffer_size
      r.Marker();
      r.Get(3);   // latter_half_vbv_buffer_size
      r.Get(11);  // first_half_vbv_occupancy
      r.Marker();
      r.Get(15);  // latter_half_vbv_occupancy
      r.Marker();
    }
  }
  if (r.Get(2) != 0) return false;  // video_object_layer_shape: rectangular only
  r.Marker();
  const uint32_t resolution = r.Get(16);
  r.Marker();
  if (resolution == 0) return false;
  if (r.Get(1)) {  // fixed_vop_rate
    int bits = 0;
    while (bits < 16 && (1u << bits) < resolution) ++bits;
    r.Get(bits < 1 ? 1 : bits);
  }
  r.Marker();
  const uint32_t w = r.Get(13);
  r.Marker();
  const uint32_t h = r.Get(13);
  if (r.Failed()) return false;
  const uint32_t w16 = (w + 15) / 16 * 16, h16 = (h + 15) / 16 * 16;
  if (w16 == 0 || h16 == 0 || w16 > kMaxDimension || h16 > kMaxDimension) return false;
  width = w;
  height = h;
  return true;
}

}  // namespace vantrel
