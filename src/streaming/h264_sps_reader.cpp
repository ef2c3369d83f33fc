#include "streaming/h264_sps_reader.h"

#include <array>

namespace vantrel {

namespace {

// The fields we read lie in the first few hundred bytes even with full scaling lists.
constexpr size_t kMaxSpsBytes = 1024;
constexpr uint32_t kMaxDimension = 16384;

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint32_t Bit() {
    if (pos_ >= size_ * 8) {
      passedEnd_ = true;
      return 1;
    }
    const uint32_t bit = (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
    ++pos_;
    return bit;
  }
  uint32_t Bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 1) | Bit();
    return value;
  }
  // ue(v); more than 31 leading zeros cannot be a valid code and marks the reader failed.
  uint32_t Ue() {
    int zeros = 0;
    while (Bit() == 0) {
      if (++zeros > 31) {
        passedEnd_ = true;
        return 0;
      }
    }
    if (zeros == 0) return 0;
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + Bits(zeros));
  }
  int32_t Se() {
    const uint32_t k = Ue();
    return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
  }
  bool PassedEnd() const { return passedEnd_; }
  void Fail() { passedEnd_ = true; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool passedEnd_ = false;
};

void SkipScalingList(BitReader& reader, int size) {
  int32_t lastScale = 8, nextScale = 8;
  for (int j = 0; j < size && !reader.PassedEnd(); ++j) {
    if (nextScale != 0) {
      const int32_t delta = reader.Se();
      nextScale = ((lastScale + delta) % 256 + 256) % 256;
    }
    lastScale = nextScale == 0 ? lastScale : nextScale;
  }
}

}  // namespace

bool CH264SpsReader::FindAndParse(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height) {
  if (data == nullptr) return false;
  for (size_t i = 0; i + 3 < size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      if ((data[i + 3] & 0x1F) == 7) return ParseNalUnit(data + i + 3, size - i - 3, width, height);
      i += 2;
    }
  }
  return false;
}

bool CH264SpsReader::ParseNalUnit(const uint8_t* nal, size_t size, uint32_t& width, uint32_t& height) {
  if (nal == nullptr || size < 2) return false;
  // Unescape the payload after the NAL header up to the next start code.
  std::array<uint8_t, kMaxSpsBytes> rbsp;
  size_t length = 0;
  int zeros = 0;
  for (size_t i = 1; i < size && length < rbsp.size(); ++i) {
    const uint8_t byte = nal[i];
    if (zeros >= 2 && byte == 3) {
      zeros = 0;
      continue;
    }
    if (zeros >= 2 && byte <= 1) {
      length -= static_cast<size_t>(zeros);  // the zeros belong to the next start code
      break;
    }
    zeros = byte == 0 ? zeros + 1 : 0;
    rbsp[length++] = byte;
  }

  BitReader r(rbsp.data(), length);
  const uint32_t profileIdc = r.Bits(8);
  r.Bits(8);  // constraint flags and reserved bits
  r.Bits(8);  // level_idc
  r.Ue();     // seq_parameter_set_id
  uint32_t chromaFormatIdc = 1;
  bool separateColourPlane = false;
  if (profileIdc >= 100) {
    chromaFormatIdc = r.Ue();
    if (chromaFormatIdc > 3) return false;
    if (chromaFormatIdc == 3) separateColourPlane = r.Bit() != 0;
    r.Ue();         // bit_depth_luma_minus8
    r.Ue();         // bit_depth_chroma_minus8
    r.Bit();        // qpprime_y_zero_transform_bypass_flag
    if (r.Bit()) {  // seq_scaling_matrix_present_flag
      const int lists = chromaFormatIdc == 3 ? 12 : 8;
      for (int i = 0; i < lists && !r.PassedEnd(); ++i)
        if (r.Bit()) SkipScalingList(r, i < 6 ? 16 : 64);
    }
  }
  r.Ue();  // log2_max_frame_num_minus4
  const uint32_t pocType = r.Ue();
  if (pocType == 0) {
    r.Ue();  // log2_max_pic_order_cnt_lsb_minus4
  } else if (pocType == 1) {
    r.Bit();  // delta_pic_order_always_zero_flag
    r.Se();   // offset_for_non_ref_pic
    r.Se();   // offset_for_top_to_bottom_field
    const uint32_t cycle = r.Ue();
    if (cycle > 255) return false;
    for (uint32_t i = 0; i < cycle && !r.PassedEnd(); ++i) r.Se();
  }
  r.Ue();   // max_num_ref_frames
  r.Bit();  // gaps_in_frame_num_value_allowed_flag
  const uint64_t widthMbs = uint64_t{r.Ue()} + 1;
  const uint64_t heightMapUnits = uint64_t{r.Ue()} + 1;
  const uint32_t frameMbsOnly = r.Bit();
  if (!frameMbsOnly) r.Bit();  // mb_adaptive_frame_field_flag
  r.Bit();                     // direct_8x8_inference_flag
  int64_t w = static_cast<int64_t>(widthMbs * 16);
  int64_t h = static_cast<int64_t>((2 - frameMbsOnly) * heightMapUnits * 16);
  if (r.Bit()) {  // frame_cropping_flag
    const int64_t left = r.Ue(), right = r.Ue(), top = r.Ue(), bottom = r.Ue();
    // Crop units follow the chroma format (4:2:0 progressive: 2 and 2; interlaced doubles the
    // vertical unit), so 1080i streams come out 1080 high and not 1084.
    const bool monochrome = chromaFormatIdc == 0 || separateColourPlane;
    const int64_t unitX = monochrome ? 1 : (chromaFormatIdc == 3 ? 1 : 2);
    const int64_t unitY = (monochrome ? 1 : (chromaFormatIdc == 1 ? 2 : 1)) * (2 - frameMbsOnly);
    w -= unitX * (left + right);
    h -= unitY * (top + bottom);
  }
  if (r.PassedEnd() || w <= 0 || h <= 0 || w > kMaxDimension || h > kMaxDimension) return false;
  width = static_cast<uint32_t>(w);
  height = static_cast<uint32_t>(h);
  return true;
}

}  // namespace vantrel
