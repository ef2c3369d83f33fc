// Camera answers to a property load, all from the fuzzer: the profile-pair reader on the raw
// input, then a whole load and save where every byte list, string and number the camera gives
// is cut from the input (each piece prefixed by a one-byte length).
#include <cstddef>
#include <cstdint>
#include <span>

#include "capabilities/encoder_profile_records.h"
#include "capabilities/lumivar_camera_properties.h"
#include "channels/encoder_profiles.h"
#include "support/fake_capability_result.h"

namespace {

class Pieces {
 public:
  Pieces(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  std::vector<uint8_t> Next() {
    if (pos_ >= size_) return {};
    size_t n = data_[pos_++];
    if (n == 255 && pos_ < size_) n = size_t{data_[pos_++]} * 64;  // long pieces for the lists
    if (n > size_ - pos_) n = size_ - pos_;
    std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }
  std::string Text() {
    const std::vector<uint8_t> b = Next();
    return std::string(b.begin(), b.end());
  }
  uint32_t Number() {
    std::vector<uint8_t> b = Next();
    uint32_t v = 0;
    for (size_t i = 0; i < b.size() && i < 4; ++i) v = v << 8 | b[i];
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  const EncoderProfileRecords records = ParseEncoderProfileRecords(std::span<const uint8_t>(data, size));
  (void)EncoderCapabilityText(records);

  Pieces in(data, size);
  auto source = std::make_unique<testing::ScriptedPropertySource>();
  source->strings[{0x097C, 0}] = in.Text();
  source->strings[{0x028B, 2}] = in.Text();
  source->strings[{0x002F, 0}] = in.Text();
  for (uint16_t command : {0x01D6, 0x0AD6, 0x0504, 0x01DB, 0x01DC}) source->numbers[command] = in.Number();
  const uint32_t line = source->numbers[0x01D6] % 3;
  source->bytes[{0xFF10, 0}] = in.Next();
  source->bytes[{0x0BF6, 1}] = in.Next();
  source->bytes[{0x0BF6, 2}] = in.Next();
  source->bytes[{0x0AF9, line}] = in.Next();
  source->bytes[{0x0C00, line}] = in.Next();
  source->bytes[{0x00BC, 0}] = in.Next();
  source->bytes[{0x09D4, 0}] = in.Next();
  source->exchangeReply = in.Next();
  CLumivarCameraProperties properties(std::move(source), &ProfileCandidates, &JpegExactResolutionCode,
                                      size % 2 == 0);
  uint32_t status = 0;
  if (properties.Load(status)) {
    testing::FakeCapabilityResult result;
    properties.Save(&result);
  }
  return 0;
}
