// The audio format block a channel hands its parser (and an output channel checks host frames
// against), and the MPEG-4 AudioSpecificConfig an AAC frame carries when the stream
// description gave none. Portable.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace vantrel {

// First character in the lowest byte, as the host reads format tags.
constexpr uint32_t MakeAudioTag(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) | (uint32_t(uint8_t(s[2])) << 16) |
         (uint32_t(uint8_t(s[3])) << 24);
}

inline constexpr uint32_t kAudioTagG711MuLaw = MakeAudioTag("711M");
inline constexpr uint32_t kAudioTagAac = MakeAudioTag("AAC1");

// Copied as one 16-byte unit; the layout is shared with the output side.
struct AudioFormatBlock {
  uint32_t tag = 0;
  uint32_t sampleRate = 0;  // Hz
  uint32_t bitRate = 0;     // bit/s
  uint8_t bitsPerSample = 0;
  uint8_t channels = 0;  // 2 means stereo
  uint16_t zero = 0;
};
static_assert(sizeof(AudioFormatBlock) == 16);

// What the cameras send by default: G.711 mu-law, 8 kHz mono, decoded to 16-bit samples.
constexpr AudioFormatBlock G711AudioFormat() { return {kAudioTagG711MuLaw, 8000, 64000, 16, 1, 0}; }

// ISO/IEC 14496-3 sampling frequency index; nothing for a rate outside the table.
inline std::optional<uint8_t> SamplingFrequencyIndex(uint32_t sampleRate) {
  static constexpr uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                        22050, 16000, 12000, 11025, 8000,  7350};
  for (uint8_t i = 0; i < sizeof(kRates) / sizeof(kRates[0]); ++i) {
    if (kRates[i] == sampleRate) return i;
  }
  return std::nullopt;
}

// AAC LC (object type 2) AudioSpecificConfig, high byte first; nothing for an unknown rate.
inline std::optional<std::array<uint8_t, 2>> BuildAacLcConfig(uint32_t sampleRate, uint8_t channels) {
  const auto index = SamplingFrequencyIndex(sampleRate);
  if (!index) return std::nullopt;
  const uint16_t value =
      static_cast<uint16_t>((2u << 11) | (uint32_t(*index) << 7) | ((channels & 0x0Fu) << 3));
  return std::array<uint8_t, 2>{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)};
}

}  // namespace vantrel
